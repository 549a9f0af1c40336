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

// Opens url and tells its outcome: a box for a failure, and the trace-log line either way.
// Runs as a launch step.
void ShellExecuteStep(IWexoHost& host, const std::string& url) {
  std::string file = url;
  std::string folder;
  int err = 0;
  int result = platform::SHELL_EXECUTE_OK;
  if (IsFileUrl(url) && platform::PathFromFileUrl(url, file)) {
    // The decoded path is absolute, so it never reads as an option of the launcher.
    const std::size_t slash = file.rfind('/');
    folder = slash == 0 ? "/" : file.substr(0, slash);
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) err = errno;
  }
  if (err == 0) err = platform::ShellOpenAndWait(file, folder, result);
  if (err != 0) result = platform::ShellExecuteResult(err);
  const std::string text = platform::ShellExecuteResultText(result);
  if (result <= 32) {
    const std::string box = "Unable to open browser for '" + url + "': error " + std::to_string(result) + ": " + text;
    host.PostToUiThread([&host, box] { host.MessageBox(box, BoxKind::Warning); });
  }
  const std::string quotedFolder = folder.empty() ? "NULL" : "'" + folder + "'";
  WriteTraceLog(kSource, 510, "ShellExecute(0x%08lx,'open','%s',NULL,%s,SW_SHOWNORMAL) = %d (%s)\n", 0ul, file.c_str(),
                quotedFolder.c_str(), result, text.c_str());
}

}  // namespace

void vLaunchURL(const CWexoApp& app, IWexoHost& host, const std::string& url, unsigned) {
  const int useDde = app.GetProfileInt("Options", "UseDDE", 1);
  platform::QueueLaunchStep([&host, url, useDde] {
    WriteTraceLog(kSource, 538, "vLaunchURL ('%s') start\n", url.c_str());
    WriteTraceLog(kSource, 559, "UseDDE = %d\n", useDde);
    if (useDde)
      for (const auto& key : kHandlerKeys) WriteTraceLog(kSource, key.line, key.format, "");
    // Without a DDE service, command, topic and item, DDE is never tried.
    ShellExecuteStep(host, url);
  });
}

void LaunchUrlByShellExecute(IWexoHost& host, const std::string& url, unsigned) {
  platform::QueueLaunchStep([&host, url] { ShellExecuteStep(host, url); });
}

void QueueTraceLog(const char* source, int line, std::string message) {
  platform::QueueLaunchStep(
      [source, line, message = std::move(message)] { WriteTraceLog(source, line, "%s", message.c_str()); });
}
