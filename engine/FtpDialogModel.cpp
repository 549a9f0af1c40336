#include "engine/FtpDialogModel.h"

#include <charconv>
#include <utility>

#include "engine/Application.h"

namespace {

constexpr std::uint16_t kDefaultFtpPort = 21;
constexpr const char* kPortMessage = "Please enter an integer between 1 and 65535.";

// The port after the host's ':'; false when it is no number from 1 to 65535.
bool ParsePort(const std::string& text, std::uint16_t& port) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

FtpDialogModel::FtpDialogModel(CWexoApp& app, std::string root) : m_csFtpRoot(std::move(root)), m_app(app) {}

bool FtpDialogModel::Load() {
  const std::string section = Section();
  m_csFtpHost = m_app.GetProfileString(section.c_str(), "Host", "");
  m_csFtpUser = m_app.GetProfileString(section.c_str(), "User", "");
  m_csFtpDir = m_app.GetProfileString(section.c_str(), "Dir", "");
  m_csFtpDefaultPage = m_app.GetProfileString(section.c_str(), "DefaultPage", "index.html");
  m_bFtpPassive = m_app.GetProfileInt(section.c_str(), "Passive", 0);
  return !m_csFtpHost.empty() && !m_csFtpUser.empty() && !m_csFtpDir.empty() && !m_csFtpDefaultPage.empty();
}

std::string FtpDialogModel::ValidateHost(const std::string& host) {
  const std::size_t colon = host.find(':');
  std::uint16_t port = 0;
  if (colon != std::string::npos && colon > 0 && !ParsePort(host.substr(colon + 1), port)) return kPortMessage;
  return std::string();
}

std::string FtpDialogModel::Store() {
  if (std::string message = ValidateHost(m_csFtpHost); !message.empty()) return message;
  const std::string section = Section();
  m_app.WriteProfileString(section.c_str(), "Host", m_csFtpHost.c_str());
  m_app.WriteProfileString(section.c_str(), "User", m_csFtpUser.c_str());
  m_app.WriteProfileString(section.c_str(), "Dir", m_csFtpDir.c_str());
  m_app.WriteProfileString(section.c_str(), "DefaultPage", m_csFtpDefaultPage.c_str());
  m_app.WriteProfileInt(section.c_str(), "Passive", m_bFtpPassive);
  return std::string();
}

void FtpDialogModel::DoDataExchange(DataExchange& dx) {
  // The root only heads the dialog.
  if (!dx.m_bSaveAndValidate) dx.Text("root", m_csFtpRoot);
  dx.Text("host", m_csFtpHost);
  dx.Text("user", m_csFtpUser);
  dx.Text("password", m_csFtpPassword);
  dx.Text("dir", m_csFtpDir);
  dx.Text("defaultPage", m_csFtpDefaultPage);
  dx.Value("passive", m_bFtpPassive);
}

bool FtpDialogModel::OnInitDialog() {
  const bool allStored = Load();
  UpdateData(false);
  if (!allStored) return true;
  if (IDialogControls* controls = Controls()) controls->SetFocus("password");
  return false;
}

bool FtpDialogModel::OnOK() {
  if (!UpdateData(true)) return false;
  if (std::string message = Store(); !message.empty()) {
    FailOn("host", message);
    return false;
  }
  return true;
}

void FtpDialogModel::SplitHost(const std::string& field, std::string& host, std::uint16_t& port) {
  const std::size_t colon = field.find(':');
  host = field.substr(0, colon);
  port = kDefaultFtpPort;
  if (colon != std::string::npos && !host.empty() && !ParsePort(field.substr(colon + 1), port)) port = kDefaultFtpPort;
}

std::string FtpDialogModel::FolderWithSlash(const std::string& dir) {
  return dir.empty() || dir.back() == '/' ? dir : dir + '/';
}
