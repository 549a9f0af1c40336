#include "engine/TraceLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "engine/Clock.h"
#include "engine/TempFiles.h"
#include "platform/LocalTime.h"
#include "platform/TextFile.h"

void WriteTraceLog(const char* source, int line, const char* format, ...) {
  const std::string path = GetLogFilePath();
  if (path.empty()) return;

  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string message;
  if (n > 0) {
    message.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(message.data(), message.size(), format, again);
    message.pop_back();
  }
  va_end(again);

  platform::TextFileWriter log;
  if (!log.Open(path, platform::TextFileWriter::Mode::AppendPrivate)) return;
  // The writer keeps both pieces in its buffer and hands them to one write on Close, so
  // the lines of two threads do not interleave.
  log.WriteFormat("%s, %d\t%s: ", source, line, platform::FormatLocalTime(NowSeconds(), "%d.%m.%Y %H:%M:%S").c_str());
  log.Write(message);
  log.Close();
}
