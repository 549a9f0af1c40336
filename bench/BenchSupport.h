// Small helpers shared by the microbenchmarks: a settings file of their own, body files on
// disk, and the process's memory figures.
#pragma once

#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "engine/Application.h"
#include "engine/LinkInfo.h"
#include "engine/WexoDoc.h"
#include "platform/Profile.h"
#include "unit/support/QuietContext.h"

namespace bench {

// Points the program at a settings file that does not exist, so every setting has its
// default and the user's own settings do not count.
inline void UseDefaultSettings() {
  struct Folder {
    Folder() {
      char name[] = "/tmp/wexo-bench-XXXXXX";
      if (const char* made = mkdtemp(name)) dir = made;
    }
    ~Folder() {
      if (!dir.empty()) ::rmdir(dir.c_str());
    }
    std::string dir;
  };
  static const Folder folder;
  platform::SetSettingsFile((folder.dir.empty() ? std::string("/nonexistent") : folder.dir) + "/wexo.ini");
}

// One quiet host and application for every document of a benchmark.
inline EngineContext Context() {
  static QuietContext context;
  return context.Context();
}

// Shows broken records only, or every record, as the options would set it.
inline void ShowBrokenOnly(CWexoDoc& doc, bool on) {
  CheckSettings settings = doc.Settings();
  settings.ShowBrokenOnly = on ? 1 : 0;
  doc.SetSettings(std::move(settings));
}

// A checked site's table as the list shows it: one page linking to every other record, one in
// seven still pending, one in thirteen of the rest broken, every record titled.
inline std::unique_ptr<CWexoDoc> ListedTable(std::size_t records) {
  UseDefaultSettings();
  auto doc = std::make_unique<CWexoDoc>(Context());
  const std::string root = "http://www.example.com/";
  doc->SetRootUrl(root);
  const CLinkInfo* page = doc->NewLink(root, nullptr, REQUEST_GET);
  for (std::size_t k = 1; k < records; ++k) {
    const CLinkInfo* link = doc->NewLink(
        root + "docs/section" + std::to_string(k % 100) + "/page" + std::to_string(k) + ".html", page, REQUEST_GET);
    if (k % 7) doc->SetStatus(link, k % 13 ? 200 : 404, k % 13 ? "" : "Not Found");
    doc->UpdateLink(*link, [k](CLinkInfo& r) { r.m_csTitle = "Page " + std::to_string(k); });
  }
  return doc;
}

// A temporary file holding a body; removed with the object.
struct BodyFile {
  explicit BodyFile(const std::string& body) {
    char name[] = "/tmp/wexo-bench-body-XXXXXX";
    const int fd = mkstemp(name);
    path = name;
    std::size_t done = 0;
    while (fd >= 0 && done < body.size()) {
      const ssize_t n = ::write(fd, body.data() + done, body.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (fd >= 0) ::close(fd);
  }
  ~BodyFile() { ::unlink(path.c_str()); }
  BodyFile(const BodyFile&) = delete;
  BodyFile& operator=(const BodyFile&) = delete;
  std::string path;
};

// The whole file, or "" when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

// Resident set size in bytes, from /proc/self/statm.
inline std::uint64_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long long size = 0, resident = 0;
  const int got = std::fscanf(f, "%llu %llu", &size, &resident);
  std::fclose(f);
  return got == 2 ? resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

// Bytes the allocator has handed out and not taken back (small chunks and mapped ones).
inline std::uint64_t HeapBytesInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

}  // namespace bench
