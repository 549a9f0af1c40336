#include "engine/ReadLine.h"

#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "engine/Host.h"
#include "engine/TempFiles.h"

namespace {

using Bytes16 = unsigned char __attribute__((vector_size(16)));

// Copies text with tabs, carriage returns and line feeds turned into blanks, sixteen bytes
// a step.
void CopyWithBlanks(std::string_view text, char* out) {
  const char* in = text.data();
  const std::size_t size = text.size();
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    Bytes16 x;
    std::memcpy(&x, in + i, 16);
    const Bytes16 control = (Bytes16)((x == '\t') | (x == '\r') | (x == '\n'));
    x = (x & ~control) | (control & ' ');
    std::memcpy(out + i, &x, 16);
  }
  for (; i < size; ++i) out[i] = (in[i] == '\t' || in[i] == '\r' || in[i] == '\n') ? ' ' : in[i];
}

}  // namespace

bool ReadLine(platform::LineReader& file, std::string& line, IWexoHost& host) {
  line.clear();
  if (file.Failed()) return false;  // the question was asked already
  std::string_view text;
  if (file.ReadLine(text)) {
    const bool ends = !file.LineContinues();
    line.resize(text.size() + (ends ? 1 : 0));
    CopyWithBlanks(text, line.data());
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
  if (host.MessageBox(buffer, BoxKind::Question) != BoxAnswer::Yes) host.Quit(1);
  return false;
}
