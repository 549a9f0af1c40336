#include "ScriptedHost.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include "engine/Fetch.h"
#include "engine/FtpDialogModel.h"
#include "engine/WexoDoc.h"
#include "platform/Profile.h"
#include "platform/ShellLaunch.h"

void ScriptedView::Attach(CWexoDoc& d) {
  doc = &d;
  d.AttachView(this, this, this);
  for (std::size_t i = rows.size(); i < d.GetLinkCount(); ++i) rows.push_back(d.GetLink(i));
}

const CLinkInfo* ScriptedView::SelectedRecord() {
  return selectedRow >= 0 && selectedRow < static_cast<int>(rows.size()) ? rows[selectedRow] : nullptr;
}

void ScriptedView::VisibleRecords(std::vector<const CLinkInfo*>& out) {
  const int end = std::min(topRow + rowsPerPage, static_cast<int>(rows.size()));
  for (int row = std::max(topRow, 0); row < end; ++row) out.push_back(rows[row]);
}

void ScriptedView::RecordsAdded(std::size_t first, std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) rows.push_back(doc->GetLink(i));
}

void ChangeSettings(CWexoDoc& doc, const std::function<void(CheckSettings&)>& change) {
  CheckSettings settings = doc.Settings();
  change(settings);
  doc.SetSettings(std::move(settings));
}

EngineContext ScriptedHost::Context(WorkerLauncher launcher, std::function<std::int64_t()> clock) {
  EngineContext context;
  context.host = this;
  context.app = &app;
  context.launcher = std::move(launcher);
  context.clock = std::move(clock);
  return context;
}

namespace {

class ScriptedAbortBox : public IAbortBox {
 public:
  explicit ScriptedAbortBox(ScriptedHost& host) : m_host(host) { ++m_host.openAbortBoxes; }
  ~ScriptedAbortBox() override { --m_host.openAbortBoxes; }
  void SetTopText(const std::string& text) override { m_host.abortBoxTexts.push_back("top: " + text); }
  void SetBottomText(const std::string& text) override { m_host.abortBoxTexts.push_back("bottom: " + text); }
  void PumpWaitingMessages() override {
    ++m_host.pumps;
    if (m_host.onPump) m_host.onPump();
    if (m_host.abortAfterPumps >= 0 && m_host.pumps >= m_host.abortAfterPumps) m_aborted = true;
  }
  bool IsAborted() const override { return m_aborted; }
  void SetAborted() override { m_aborted = true; }

 private:
  ScriptedHost& m_host;
  bool m_aborted = false;
};

}  // namespace

std::unique_ptr<IAbortBox> ScriptedHost::CreateAbortBox(const std::string& caption) {
  abortBoxTexts.push_back("caption: " + caption);
  return std::make_unique<ScriptedAbortBox>(*this);
}

bool ScriptedHost::FtpDialog(FtpDialogModel& model) {
  ++ftpDialogs;
  model.Load();
  if (!ftpDialog || !ftpDialog(model)) return false;
  const std::string error = model.Store();
  if (error.empty()) return true;
  ftpDialogErrors.push_back(error);
  return false;
}

ScriptedHost::~ScriptedHost() { platform::WaitForShellLaunches(); }

void ScriptedHost::PostToUiThread(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(m_postedLock);
  m_posted.push_back(std::move(task));
}

void ScriptedHost::RunPostedTasks() {
  platform::WaitForShellLaunches();
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(m_postedLock);
    tasks.swap(m_posted);
  }
  for (auto& task : tasks) task();
}

BoxAnswer ScriptedHost::MessageBox(const std::string& text, BoxKind kind) {
  boxes.push_back(text);
  if (!answers.empty()) {
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  return kind == BoxKind::Question || kind == BoxKind::QuestionDefaultNo ? BoxAnswer::No : BoxAnswer::Ok;
}

bool ScriptedHost::FileOpenDialog(const std::string& title, const std::string&, const std::string&, std::string& path) {
  dialogTitles.push_back(title);
  if (openPaths.empty()) return false;
  path = openPaths.front();
  openPaths.pop_front();
  return true;
}

TempIni::TempIni() {
  char templ[] = "/tmp/wexo-test-ini-XXXXXX";
  m_dir = mkdtemp(templ);
  m_path = m_dir + "/wexo.ini";
  m_previous = platform::SettingsFile();
  platform::SetSettingsFile(m_path);
}

TempIni::~TempIni() {
  platform::SetSettingsFile(m_previous);
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

void TempIni::Set(const char* section, const char* key, const char* value) {
  platform::WritePrivateProfileString(section, key, value, m_path);
}
