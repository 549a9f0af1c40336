#include "engine/TraceLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "engine/Clock.h"
#include "engine/HtmlEscape.h"
#include "engine/TempFiles.h"
#include "platform/AsciiText.h"
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

std::string EscapedText(std::string_view text, bool keepLayout) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char c) {
    out += "\\x";
    out += platform::AsciiHexDigit(c >> 4);
    out += platform::AsciiHexDigit(c);
  };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if ((c < 0x20 || c == 0x7F) && !(keepLayout && (c == '\n' || c == '\t')))
        escape(c);
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(text, i);
    // U+0080 to U+009F: terminals take some of them for the start of a control sequence.
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    const std::size_t n = length == 0 ? 1 : length;
    if (length == 0 || c1) {
      for (std::size_t k = 0; k < n; ++k) escape(static_cast<unsigned char>(text[i + k]));
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out;
}
