#include "ui/TipDlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>

#include "engine/Application.h"
#include "engine/Host.h"
#include "platform/LocalTime.h"

namespace {

constexpr const char* kSection = "Tip";
constexpr const char* kNotFound = "Tips-File not found";
constexpr const char* kProblems = "Problems reading tips file";

// Reads like fgets into a 1000-byte buffer; a CR before the LF goes, as in text mode.
bool ReadLine(std::FILE* file, std::string& line) {
  char buffer[1000];
  if (!std::fgets(buffer, sizeof buffer, file)) return false;
  line = buffer;
  if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n') line.erase(line.size() - 2, 1);
  return true;
}

// A saved position is usable only where a line starts: a file changed in place since (its
// creation time kept) would otherwise show the middle of a line.
bool AtLineStart(std::FILE* file, long position) {
  if (position == 0) return true;
  if (std::fseek(file, position - 1, SEEK_SET) != 0) return false;
  const int c = std::fgetc(file);
  return c == '\n';
}

bool IsTipLine(const std::string& line) {
  return !line.empty() && line[0] != ' ' && line[0] != '\t' && line[0] != ';' && line[0] != '\n';
}

}  // namespace

std::string ProgramFolder() {
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  std::string path(exe, static_cast<std::size_t>(n));
  path.resize(path.rfind('/'));
  return path;
}

static std::string& TipsFileSlot() {
  static std::string path;
  return path;
}

std::string CTipDlg::TipsFilePath() { return TipsFileSlot().empty() ? ProgramFolder() + "/tips.txt" : TipsFileSlot(); }

void CTipDlg::SetTipsFilePath(std::string path) { TipsFileSlot() = std::move(path); }

std::string CTipDlg::FileTimeText(const std::string& path) {
  struct statx st {};
  std::int64_t seconds = 0;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &st) == 0) {
    seconds = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec;
  } else {
    struct stat plain {};
    if (::stat(path.c_str(), &plain) != 0) return std::string();
    seconds = plain.st_mtime;
  }
  return platform::FormatLocalTime(seconds, "%a %b %e %H:%M:%S %Y");
}

CTipDlg::CTipDlg(const CWexoApp& app, IWexoHost& host, const std::string& path) : m_app(app), m_host(host) {
  m_bStartup = m_app.GetProfileInt(kSection, "StartUp", 0) == 0 ? 1 : 0;
  long position = m_app.GetProfileInt(kSection, "FilePos", 0);
  m_pTipsFile = std::fopen(path.c_str(), "r");
  if (!m_pTipsFile) {
    m_csTip = kNotFound;
    return;
  }
  if (const std::string stamp = FileTimeText(path); !stamp.empty()) {
    if (stamp != m_app.GetProfileString(kSection, "TimeStamp", "")) {
      position = 0;
      m_app.WriteProfileString(kSection, "TimeStamp", stamp.c_str());
    }
  }
  if (position < 0 || !AtLineStart(m_pTipsFile, position)) position = 0;
  if (std::fseek(m_pTipsFile, position, SEEK_SET) != 0)
    m_host.MessageBox(kProblems, BoxKind::Warning);
  else
    GetNextTipString(m_csTip);
}

CTipDlg::~CTipDlg() {
  if (!m_pTipsFile) return;
  const long position = std::ftell(m_pTipsFile);
  if (position >= 0 && position <= INT_MAX) m_app.WriteProfileInt(kSection, "FilePos", static_cast<int>(position));
  std::fclose(m_pTipsFile);
}

void CTipDlg::GetNextTipString(std::string& tip) {
  if (!m_pTipsFile) return;
  std::string line;
  int ends = 0;
  while (true) {
    if (!ReadLine(m_pTipsFile, line)) {
      // A file without a tip line ends the request after one whole pass.
      if (++ends == 2) {
        tip.clear();
        return;
      }
      std::clearerr(m_pTipsFile);
      if (std::fseek(m_pTipsFile, 0, SEEK_SET) != 0) {
        m_host.MessageBox(kProblems, BoxKind::Warning);
        return;
      }
      continue;
    }
    if (IsTipLine(line)) {
      tip = line;
      return;
    }
  }
}

void CTipDlg::DoDataExchange(DataExchange& dx) {
  if (!dx.m_bSaveAndValidate) dx.Text("tip", m_csTip);
  dx.Value("startup", m_bStartup);
}

bool CTipDlg::OnInitDialog() {
  DialogModel::OnInitDialog();
  if (!m_pTipsFile && Controls()) Controls()->Enable("nextTip", false);
  return true;
}

void CTipDlg::OnNextTip() {
  GetNextTipString(m_csTip);
  UpdateData(false);
}

bool CTipDlg::OnOK() {
  if (!UpdateData(true)) return false;
  m_app.WriteProfileInt(kSection, "StartUp", m_bStartup ? 0 : 1);
  return true;
}
