#include "report/ReportLaunch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "engine/Application.h"
#include "engine/CheckSettings.h"
#include "engine/Host.h"
#include "engine/TempFiles.h"
#include "engine/WexoDoc.h"
#include "mail/MailSend.h"
#include "platform/FileUrl.h"
#include "platform/ShellLaunch.h"
#include "platform/TempDir.h"
#include "report/BrowserLaunch.h"
#include "report/Report.h"

namespace {

constexpr const char* kSource = "WexoDoc";
constexpr const char* kReports = "reports";

// A fresh, empty report file: a unique temporary file, kept beyond the run (a browser shows
// it), given the extension ".htm". From the
// rename on, the .htm path is the report's whether or not the rename worked (the report
// then creates it). "" after the failure was shown.
std::string MakeReportFile(IWexoHost& host) {
  std::string temp, error;
  if (!CreateUniqueTempFile(temp, error, nullptr, TempFileLife::Lasting)) {
    host.MessageBox(error, BoxKind::Error);
    return {};
  }
  const std::size_t dot = temp.rfind('.');
  const std::string path = (dot == std::string::npos ? temp : temp.substr(0, dot)) + ".htm";
  std::rename(temp.c_str(), path.c_str());
  return path;
}

bool IsHexOrDash(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-'; }

}  // namespace

bool IsOurReportFile(const std::string& path) {
  const std::string folder = platform::GetTempPath();
  if (folder.empty() || path.size() != folder.size() + 2 + 4 + 36 + 4 || path.compare(0, folder.size(), folder) != 0)
    return false;
  // "<x>/QMV-<36 characters of a UUID>.htm", x the UUID's first character.
  const std::string rest = path.substr(folder.size());
  if (rest[1] != '/' || rest.compare(2, 4, "QMV-") != 0 || rest.compare(42, 4, ".htm") != 0 || rest[0] != rest[6])
    return false;
  for (std::size_t i = 6; i < 42; ++i)
    if (!IsHexOrDash(rest[i])) return false;
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

void vLaunchReport(const CWexoDoc& doc) {
  const CWexoApp& app = doc.App();
  IWexoHost& host = doc.Host();
  const std::string key = doc.GetPathName();
  // The log tells the steps in their place among the launches: a launch asked for before this
  // one may still wait for its launcher.
  QueueTraceLog(kSource, 5412, "vLaunchReport () start\n");

  // The settings file may have been edited by hand: only a report of ours is removed. Once the
  // launches before have ended: the last of them may be the report that goes now.
  const std::string previous = app.GetProfileString(kReports, key.c_str(), "");
  if (!previous.empty())
    platform::QueueLaunchStep([previous] {
      if (IsOurReportFile(previous)) ::unlink(previous.c_str());
    });

  const std::string path = MakeReportFile(host);
  if (path.empty()) return;
  QueueTraceLog(kSource, 5451, "vCreateReport () before\n");
  vCreateReport(doc, path);
  QueueTraceLog(kSource, 5462, "vCreateReport () after, csFileName = '" + path + "'\n");
  // Escaped, so that the launch decodes it back to exactly this path.
  vLaunchURL(app, host, platform::FileUrlFromPath(path), 0);
  app.WriteProfileString(kReports, key.c_str(), path.c_str());
  // Done once its launcher has ended.
  QueueTraceLog(kSource, 5479, "vLaunchReport () done\n");
}

bool MailReport(const CWexoDoc& doc) {
  IWexoHost& host = doc.Host();
  const MailNotice show = [&host](const std::string& text) { host.MessageBox(text, BoxKind::Error); };
  // Checked first: a port setting that is no port sends nothing, to no server.
  if (!CheckMailPort(show)) return false;
  const std::string path = MakeReportFile(host);
  // A report that was not written completely is not mailed as if it were.
  if (path.empty() || !vCreateReport(doc, path)) return false;
  return SendMail(doc.Settings(),
                  {"Attached is the report from Wexo's Link Tolvak:\r\n", path,
                   "Failed to attach the report '" + path + "' to the e-mail message"},
                  show);
}
