#include "engine/ReadLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/Host.h"
#include "engine/TempFiles.h"
#include "platform/AsciiText.h"

namespace {}  // namespace

bool ReadLine(platform::LineReader& file, std::string& line, IWexoHost& host) {
  line.clear();
  if (file.Failed()) return false;  // the question was asked already
  std::string_view text;
  if (file.ReadLine(text)) {
    const bool ends = !file.LineContinues();
    line.resize(text.size() + (ends ? 1 : 0));
    platform::CopyWithLineBreaksBlank(text, line.data());
    if (ends) line.back() = ' ';
    return true;
  }
  if (!file.Failed()) return false;
  const int err = file.ErrorNumber();
  std::string message = platform::FileErrorText(err);
  if (message.size() > 256) message.resize(256);
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer,
                "CStdioFile::ReadString() failed on file '%s', Cause %d, OsError %ld, errno %d: %s.\nContinue?",
                file.Path().c_str(), FileExceptionCauseOf(err), static_cast<long>(err), err, message.c_str());
  // No ends the program in order; this body counts as ended either way.
  if (host.MessageBox(buffer, BoxKind::Question) != BoxAnswer::Yes) host.Quit(kExitFailed);
  return false;
}
