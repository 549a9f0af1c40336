// What the fuzz targets share: a failed invariant aborts with its text (libFuzzer then keeps
// the input), the input is taken apart piece by piece, and a private folder and settings file
// hold what a target writes.
#pragma once

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "engine/WexoDoc.h"
#include "platform/Profile.h"
#include "unit/support/ScriptedHost.h"

#define FUZZ_CHECK(condition) FUZZ_CHECK_ABOUT(condition, std::string_view())

// The same, showing text (a URL, a line ...) with its unprintable bytes escaped.
#define FUZZ_CHECK_ABOUT(condition, text)                               \
  do {                                                                  \
    if (!(condition)) fuzz::Fail(__FILE__, __LINE__, #condition, text); \
  } while (false)

namespace fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition, std::string_view text) {
  std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
  if (!text.empty()) {
    std::fputs("  about: \"", stderr);
    for (const char c : text) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\')
        std::fprintf(stderr, "\\x%02X", b);
      else
        std::fputc(c, stderr);
    }
    std::fputs("\"\n", stderr);
  }
  std::abort();
}

}  // namespace fuzz

namespace fuzz {

// The input, consumed from the front: single bytes for choices, then pieces of text.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_rest(reinterpret_cast<const char*>(data), size) {}

  // The next byte, 0 when none is left.
  std::uint8_t Byte() {
    if (m_rest.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(m_rest[0]);
    m_rest.remove_prefix(1);
    return b;
  }
  // The text up to the next separator (which is dropped), or all that is left.
  std::string_view Piece(char separator = '\0') {
    const std::size_t end = m_rest.find(separator);
    const std::string_view piece = m_rest.substr(0, end);
    m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
    return piece;
  }
  std::string_view Rest() {
    const std::string_view rest = m_rest;
    m_rest = {};
    return rest;
  }
  bool Empty() const { return m_rest.empty(); }

 private:
  std::string_view m_rest;
};

// A folder of this process, removed at exit; files of a target go here.
inline const std::string& Folder() {
  static const std::string folder = [] {
    char templ[] = "/tmp/wexo-fuzz-XXXXXX";
    const char* made = ::mkdtemp(templ);
    if (!made) std::abort();
    std::string path = made;
    static const std::string removeAtExit = path;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    return path;
  }();
  return folder;
}

inline std::string PathOf(const char* name) { return Folder() + "/" + name; }

// Writes bytes to a new file (a new inode) and renames it over path.
inline void WriteFile(const std::string& path, std::string_view bytes) {
  const std::string temp = path + ".new";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  std::rename(temp.c_str(), path.c_str());
}

// A host and a settings file of their own for documents; settings files are re-read at once.
struct Engine {
  Engine() {
    platform::SetSettingsFile(PathOf("wexo.ini"));
    platform::SetProfileRecheckInterval(std::chrono::milliseconds(0));
  }
  // A fresh document shown by a fresh view.
  std::unique_ptr<CWexoDoc> NewDoc() {
    view = ScriptedView();
    auto doc = std::make_unique<CWexoDoc>(host.Context());
    view.Attach(*doc);
    return doc;
  }
  ScriptedHost host;
  ScriptedView view;
};

// Code pages the targets choose from with one byte.
inline unsigned CodePage(std::uint8_t choice) {
  static constexpr unsigned kPages[] = {0, 1252, 65001, 28591, 932, 1251, 936, 20127};
  return kPages[choice % (sizeof kPages / sizeof kPages[0])];
}

}  // namespace fuzz
