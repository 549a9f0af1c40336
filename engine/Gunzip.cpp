// Decoding of gzip bodies through zlib's gz functions.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "algorithms/Md5.h"
#include "engine/SchemeHandlers.h"

namespace {

constexpr unsigned kBlock = 4096;

std::string GzErrorText(gzFile gz, int* errnum) {
  int err = Z_OK;
  const char* text = gzerror(gz, &err);
  if (errnum) *errnum = err;
  if (err == Z_ERRNO) return std::strerror(errno);
  return text && *text ? text : "unknown error";
}

}  // namespace

int GunzipFile(const std::string& gzipPath, const std::string& outPath, std::int64_t& size, std::uint8_t digest[16],
               std::string& message, std::int64_t limit, bool* cut) {
  Md5Context md5;
  Md5Init(md5);
  size = 0;
  bool over = false;
  if (cut) *cut = false;
  // The files are temporary ones: their paths mean nothing to whoever reads the message.
  FILE* out = std::fopen(outPath.c_str(), "wb");
  if (!out) {
    message = std::string("fopen of the decoded body failed: ") + std::strerror(errno) + ".\n";
    return -1;
  }
  gzFile gz = gzopen(gzipPath.c_str(), "r");
  if (!gz) {
    message = std::string("gzopen of the received body failed: ") + std::strerror(errno ? errno : ENOMEM) + ".\n";
    std::fclose(out);
    std::remove(outPath.c_str());
    return -1;
  }
  auto fail = [&](std::string text) {
    gzclose(gz);
    std::fclose(out);
    std::remove(outPath.c_str());
    size = 0;
    message = std::move(text);
    return -1;
  };
  unsigned char buffer[kBlock];
  for (;;) {
    if (size >= limit) {
      // One byte more tells a body that goes on from one that ends right here.
      const int more = gzread(gz, buffer, 1);
      if (more > 0) {
        over = true;
        break;
      }
      if (more < 0) return fail("gzread error: " + GzErrorText(gz, nullptr) + ".\n");
    }
    const unsigned want = static_cast<unsigned>(std::min<std::int64_t>(kBlock, limit - size));
    const int n = want ? gzread(gz, buffer, want) : 0;
    if (n < 0) return fail("gzread error: " + GzErrorText(gz, nullptr) + ".\n");
    Md5Update(md5, buffer, static_cast<std::size_t>(n));
    size += n;
    if (n > 0 && std::fwrite(buffer, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n))
      return fail(std::string("fwrite of the decoded body failed: ") + std::strerror(errno) + ".\n");
    if (n == static_cast<int>(want) && want > 0) continue;
    // A stream that ends early or fails its check leaves an error behind even at its end:
    // only an end with zlib's state clean is a whole body.
    int err = Z_OK;
    const std::string text = GzErrorText(gz, &err);
    if (err != Z_OK) return fail("gzread error: " + text + ".\n");
    if (gzeof(gz)) break;
    // A short block without end or error: zlib delivers the rest on the next read. A read
    // of nothing that is neither would never end.
    if (n == 0) return fail("gzread error: unexpected end of file.\n");
  }
  // gzclose reports a stream cut inside its trailer too (a body cut at the limit was not read
  // to its trailer).
  const int closed = gzclose(gz);
  if (closed != Z_OK && !over) {
    std::fclose(out);
    std::remove(outPath.c_str());
    size = 0;
    message =
        std::string("gzread error: ") + (closed == Z_BUF_ERROR ? "unexpected end of file" : zError(closed)) + ".\n";
    return -1;
  }
  if (std::fclose(out) != 0) {
    const int err = errno;
    std::remove(outPath.c_str());
    size = 0;
    message = std::string("fwrite of the decoded body failed: ") + std::strerror(err) + ".\n";
    return -1;
  }
  Md5Final(digest, md5);
  if (cut) *cut = over;
  return 0;
}
