#include "report/BrowserLaunch.h"

#include <sys/stat.h>

#include <strings.h>
#include <cerrno>

#include "engine/Application.h"
#include "engine/Host.h"
#include "engine/TraceLog.h"
#include "platform/FileUrl.h"
#include "platform/ShellLaunch.h"

namespace {

constexpr const char* kSource = "Wexo";

// The default values of the http handler's keys, in the order they are read. None exists.
constexpr struct {
  int line;
  const char* format;
} kHandlerKeys[] = {
    {579, "szCmd = '%s'\n"},
    {597, "szDdeExec = '%s'\n"},
    {615, "szApplication = '%s'\n"},
    {633, "szTopic = '%s'\n"},
};

bool IsFileUrl(const std::string& url) { return url.size() >= 7 && ::strncasecmp(url.c_str(), "file://", 7) == 0; }

// The outcome of one launch: a box for a failure, and the trace-log line either way.
void ReportLaunch(IWexoHost& host, const std::string& url, const std::string& file, const std::string& folder,
                  int result) {
  const std::string text = platform::ShellExecuteResultText(result);
  if (result <= 32)
    host.MessageBox("Unable to open browser for '" + url + "': error " + std::to_string(result) + ": " + text,
                    BoxKind::Warning);
  const std::string quotedFolder = folder.empty() ? "NULL" : "'" + folder + "'";
  WriteTraceLog(kSource, 510, "ShellExecute(0x%08lx,'open','%s',NULL,%s,SW_SHOWNORMAL) = %d (%s)\n", 0ul, file.c_str(),
                quotedFolder.c_str(), result, text.c_str());
}

}  // namespace

void vLaunchURL(const CWexoApp& app, IWexoHost& host, const std::string& url, unsigned codePage) {
  WriteTraceLog(kSource, 538, "vLaunchURL ('%s') start\n", url.c_str());
  const int useDde = app.GetProfileInt("Options", "UseDDE", 1);
  WriteTraceLog(kSource, 559, "UseDDE = %d\n", useDde);
  if (useDde)
    for (const auto& key : kHandlerKeys) WriteTraceLog(kSource, key.line, key.format, "");
  // Without a DDE service, command, topic and item, DDE is never tried.
  LaunchUrlByShellExecute(host, url, codePage);
}

int LaunchUrlByShellExecute(IWexoHost& host, const std::string& url, unsigned codePage) {
  std::string file = url;
  std::string folder;
  int err = 0;
  if (IsFileUrl(url) && platform::PathFromFileUrl(url, file)) {
    // The decoded path is absolute, so it never reads as an option of the launcher.
    const std::size_t slash = file.rfind('/');
    folder = slash == 0 ? "/" : file.substr(0, slash);
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) err = errno;
  }
  if (err == 0) {
    // The launcher's exit status is its result: waited for off this thread, told here later.
    err = platform::ShellOpen(file, folder, [&host, url, file, folder](int result) {
      host.PostToUiThread([&host, url, file, folder, result] { ReportLaunch(host, url, file, folder, result); });
    });
    if (err == 0) return platform::SHELL_EXECUTE_OK;
  }
  const int result = platform::ShellExecuteResult(err);
  ReportLaunch(host, url, file, folder, result);
  return result;
}
