#include "engine/ReadLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/Host.h"
#include "engine/PageIntake.h"
#include "engine/TempFiles.h"
#include "platform/AsciiText.h"

bool ReadLine(platform::LineReader& file, std::string& line) {
  line.clear();
  if (file.Failed()) return false;
  std::string_view text;
  if (!file.ReadLine(text)) return false;
  const bool ends = !file.LineContinues();
  line.resize(text.size() + (ends ? 1 : 0));
  platform::CopyWithLineBreaksBlank(text, line.data());
  if (ends) line.back() = ' ';
  return true;
}

std::string ReadFailureQuestion(const platform::LineReader& file) {
  const int err = file.ErrorNumber();
  std::string message = platform::FileErrorText(err);
  if (message.size() > 256) message.resize(256);
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer,
                "CStdioFile::ReadString() failed on file '%s', Cause %d, OsError %ld, errno %d: %s.\nContinue?",
                file.Path().c_str(), FileExceptionCauseOf(err), static_cast<long>(err), err, message.c_str());
  return buffer;
}

void AskAfterReadFailure(const std::string& question, IWexoHost& host) {
  // No ends the program in order; the body counts as ended either way.
  if (host.MessageBox(question, BoxKind::Question) != BoxAnswer::Yes) host.Quit(kExitFailed);
}

bool ReadLine(platform::LineReader& file, std::string& line, IWexoHost& host) {
  if (file.Failed()) {  // the question was asked already
    line.clear();
    return false;
  }
  if (ReadLine(file, line)) return true;
  if (file.Failed()) AskAfterReadFailure(ReadFailureQuestion(file), host);
  return false;
}
