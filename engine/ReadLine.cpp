#include "engine/ReadLine.h"

#include <cstdio>
#include <cstdlib>

#include "engine/Host.h"
#include "engine/TempFiles.h"

bool ReadLine(platform::LineReader& file, std::string& line) {
  line.clear();
  if (file.Failed()) return false;  // the question was asked already
  std::string_view text;
  if (file.ReadLine(text)) {
    line.reserve(text.size() + 1);
    line.assign(text);
    line += ' ';
    for (char& c : line)
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
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
  if (Host().MessageBox(buffer, BoxKind::Question) != BoxAnswer::Yes) std::exit(1);
  return false;
}
