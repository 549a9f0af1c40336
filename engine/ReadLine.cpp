#include "engine/ReadLine.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "engine/Host.h"
#include "engine/TempFiles.h"

namespace {

// Copies text with tabs, carriage returns and line feeds turned into blanks. Eight bytes at a
// time: a word without a byte below 0x0E is copied as it is.
void CopyWithBlanks(std::string_view text, char* out) {
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  const char* in = text.data();
  const std::size_t size = text.size();
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, in + i, 8);
    std::memcpy(out + i, &x, 8);
    if (((x - 0x0E * ones) & ~x & (0x80 * ones)) == 0) continue;
    for (std::size_t j = i; j < i + 8; ++j)
      if (in[j] == '\t' || in[j] == '\r' || in[j] == '\n') out[j] = ' ';
  }
  for (; i < size; ++i) out[i] = (in[i] == '\t' || in[i] == '\r' || in[i] == '\n') ? ' ' : in[i];
}

}  // namespace

bool ReadLine(platform::LineReader& file, std::string& line) {
  line.clear();
  if (file.Failed()) return false;  // the question was asked already
  std::string_view text;
  if (file.ReadLine(text)) {
    line.resize(text.size() + 1);
    CopyWithBlanks(text, line.data());
    line.back() = ' ';
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
