#include "platform/Profile.h"
#include "platform/AsciiText.h"
#include "platform/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <unistd.h>
#include <atomic>
#include <chrono>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Values come back cut to what a 4096-byte buffer holds.
constexpr std::size_t kMaxValue = 4095;

constexpr std::string_view Trim(std::string_view s) { return AsciiTrim(s); }

// Editors on other systems may begin the file with one.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The text after the byte-order mark, if it has one.
std::string_view WithoutBom(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  return text;
}

struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const {
    std::uint64_t h = 1469598103934665603ull;
    for (char c : s) {
      h ^= static_cast<unsigned char>(AsciiLower(c));
      h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
  }
};

struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return AsciiEqualNoCase(a, b); }
};

using NoCaseIndex = std::unordered_map<std::string, std::size_t, NoCaseHash, NoCaseEqual>;

// What one line of the file is.
struct LineKind {
  enum Type { Other, Header, Key } type = Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed, quotes kept
};

LineKind Classify(std::string_view line) {
  LineKind kind;
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return kind;
  if (t.front() == '[') {
    // The last ']' closes the name, so IPv6 hosts in root URLs stay inside it.
    std::size_t close = t.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      kind.type = LineKind::Header;
      kind.name = Trim(t.substr(1, close - 1));
    }
    return kind;
  }
  std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return kind;
  kind.type = LineKind::Key;
  kind.name = Trim(t.substr(0, eq));
  kind.value = Trim(t.substr(eq + 1));
  return kind;
}

std::string_view DropQuotes(std::string_view v) {
  if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\''))
    return v.substr(1, v.size() - 2);
  return v;
}

// The parsed file as the readers see it: values already unquoted and cut.
struct ParsedSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;  // in file order, first of each name
  NoCaseIndex keyIndex;
};

struct ParsedIni {
  std::vector<ParsedSection> sections;  // first of each name
  NoCaseIndex sectionIndex;
};

// Calls fn(line) for each line without its "\n" (a "\r" before it is left in; Trim drops it).
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& fn) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    fn(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
}

std::shared_ptr<const ParsedIni> Parse(std::string_view text) {
  auto ini = std::make_shared<ParsedIni>();
  // Always the last section added (or null outside a section and inside a repeated one),
  // so growing the vector never leaves it dangling.
  ParsedSection* current = nullptr;
  ForEachLine(WithoutBom(text), [&](std::string_view line) {
    LineKind kind = Classify(line);
    if (kind.type == LineKind::Header) {
      auto [it, inserted] = ini->sectionIndex.try_emplace(std::string(kind.name), ini->sections.size());
      if (inserted) {
        ini->sections.emplace_back();
        ini->sections.back().name = std::string(kind.name);
        current = &ini->sections.back();
      } else {
        current = nullptr;
      }
    } else if (kind.type == LineKind::Key && current) {
      auto [it, inserted] = current->keyIndex.try_emplace(std::string(kind.name), current->keys.size());
      if (inserted) {
        std::string_view v = DropQuotes(kind.value);
        if (v.size() > kMaxValue) v = v.substr(0, kMaxValue);
        current->keys.emplace_back(std::string(kind.name), std::string(v));
      }
    }
  });
  return ini;
}

// Identity of one version of the file. Writers replace the file, so the inode changes too.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeSec = st.st_mtim.tv_sec;
  s.mtimeNsec = st.st_mtim.tv_nsec;
  s.ctimeSec = st.st_ctim.tv_sec;
  s.ctimeNsec = st.st_ctim.tv_nsec;
  return s;
}

struct CacheEntry {
  FileStamp stamp;
  std::shared_ptr<const ParsedIni> data;  // null: the file did not exist
  std::chrono::steady_clock::time_point checked;
};

// Some keys are read for every link: the file is looked at again only this often.
std::atomic<std::int64_t> recheckIntervalMs{100};
// Moves whenever a cached file may have changed (a write of ours, or a re-read).
std::atomic<std::uint64_t> generation{1};

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}

std::unordered_map<std::string, CacheEntry>& Cache() {
  static std::unordered_map<std::string, CacheEntry> cache;
  return cache;
}

void ForgetCached(const std::string& path) {
  std::lock_guard<std::mutex> lock(CacheMutex());
  Cache().erase(path);
  generation.fetch_add(1, std::memory_order_release);
}

// The whole file; false when it cannot be read or is larger than a settings file may be
// (it may have grown since it was looked at).
bool ReadAll(int fd, std::string& out) {
  out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (out.size() + static_cast<std::size_t>(n) > kMaxSettingsFileSize) return false;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

// The parsed file, or null when it does not exist or cannot be read.
std::shared_ptr<const ParsedIni> Load(const std::string& path) {
  if (path.empty()) return nullptr;
  const auto now = std::chrono::steady_clock::now();
  const auto interval = std::chrono::milliseconds(recheckIntervalMs.load(std::memory_order_relaxed));
  {
    std::lock_guard<std::mutex> lock(CacheMutex());
    auto it = Cache().find(path);
    if (it != Cache().end() && now - it->second.checked < interval) return it->second.data;
  }
  struct stat st;
  // Anything but a regular file (a FIFO, a device, a folder) reads as missing: never opened,
  // so it cannot make a read wait. Nor is a file too large for settings read whole.
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uintmax_t>(st.st_size) > kMaxSettingsFileSize) {
    std::lock_guard<std::mutex> lock(CacheMutex());
    Cache()[path] = CacheEntry{FileStamp{}, nullptr, now};
    return nullptr;
  }
  FileStamp stamp = StampOf(st);
  {
    std::lock_guard<std::mutex> lock(CacheMutex());
    auto it = Cache().find(path);
    if (it != Cache().end() && it->second.data && it->second.stamp == stamp) {
      it->second.checked = now;
      return it->second.data;
    }
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  std::string text;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAll(fd, text);
  ::close(fd);
  if (!ok) return nullptr;
  auto data = Parse(text);
  generation.fetch_add(1, std::memory_order_release);
  std::lock_guard<std::mutex> lock(CacheMutex());
  Cache()[path] = CacheEntry{StampOf(st), data, now};
  return data;
}

const std::string* FindValue(const ParsedIni& ini, std::string_view section, std::string_view key) {
  auto s = ini.sectionIndex.find(Trim(section));
  if (s == ini.sectionIndex.end()) return nullptr;
  const ParsedSection& sec = ini.sections[s->second];
  auto k = sec.keyIndex.find(Trim(key));
  if (k == sec.keyIndex.end()) return nullptr;
  return &sec.keys[k->second].second;
}

// A default comes back without its trailing blanks and tabs, cut like a stored value.
std::string DefaultText(const char* def) {
  std::string_view d = def ? def : "";
  while (!d.empty() && (d.back() == ' ' || d.back() == '\t')) d.remove_suffix(1);
  if (d.size() > kMaxValue) d = d.substr(0, kMaxValue);
  return std::string(d);
}

// A list of names in one string: each name followed by a NUL.
std::string NameList(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::string_view n : names) {
    out.append(n);
    out.push_back('\0');
  }
  if (out.size() > kMaxValue) out.resize(kMaxValue);
  return out;
}

// ---- writing ----

struct RawLine {
  std::string text;  // without its line end
  std::string eol;   // "\n", "\r\n" or "" for an unterminated last line
};

std::vector<RawLine> SplitLines(std::string_view text) {
  std::vector<RawLine> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    RawLine line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text.substr(pos));
      pos = text.size();
    } else {
      std::size_t end = nl;
      if (end > pos && text[end - 1] == '\r') {
        --end;
        line.eol = "\r\n";
      } else {
        line.eol = "\n";
      }
      line.text = std::string(text.substr(pos, end - pos));
      pos = nl + 1;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string JoinLines(const std::vector<RawLine>& lines) {
  std::size_t total = 0;
  for (const RawLine& l : lines) total += l.text.size() + l.eol.size();
  std::string out;
  out.reserve(total);
  for (const RawLine& l : lines) {
    out += l.text;
    out += l.eol;
  }
  return out;
}

// New lines follow the file's own line ends.
std::string FileEol(const std::vector<RawLine>& lines) {
  for (const RawLine& l : lines)
    if (!l.eol.empty()) return l.eol;
  return "\n";
}

// A name or value as written: one line, no blanks around it.
std::string Sanitize(const char* s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return std::string(Trim(out));
}

// Applies one write to the lines; false when the file stays as it is.
bool ApplyWrite(std::vector<RawLine>& lines, const char* sectionArg, const char* keyArg, const char* valueArg) {
  const std::string section = Sanitize(sectionArg);
  const std::string eol = FileEol(lines);

  std::size_t begin = lines.size(), end = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    LineKind kind = Classify(lines[i].text);
    if (kind.type != LineKind::Header) continue;
    if (begin == lines.size()) {
      if (AsciiEqualNoCase(kind.name, section)) begin = i;
    } else {
      end = i;
      break;
    }
  }
  const bool found = begin < lines.size();

  if (!keyArg) {
    if (!found) return false;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(begin), lines.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
  }

  const std::string key = Sanitize(keyArg);
  std::size_t keyLine = lines.size();
  std::size_t lastFilled = begin;  // new keys go after the section's last non-blank line
  if (found) {
    for (std::size_t i = begin + 1; i < end; ++i) {
      if (!Trim(lines[i].text).empty()) lastFilled = i;
      LineKind kind = Classify(lines[i].text);
      if (kind.type == LineKind::Key && AsciiEqualNoCase(kind.name, key)) {
        keyLine = i;
        break;
      }
    }
  }

  if (!valueArg) {
    if (keyLine == lines.size()) return false;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(keyLine));
    return true;
  }

  const std::string value = Sanitize(valueArg);
  if (keyLine < lines.size()) {
    LineKind kind = Classify(lines[keyLine].text);
    if (kind.value == value) return false;
    lines[keyLine].text = std::string(kind.name) + "=" + value;
    return true;
  }

  RawLine keyText{key + "=" + value, eol};
  if (found) {
    if (lines[lastFilled].eol.empty()) lines[lastFilled].eol = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), std::move(keyText));
    return true;
  }
  if (!lines.empty()) {
    if (lines.back().eol.empty()) lines.back().eol = eol;
    if (!Trim(lines.back().text).empty()) lines.push_back(RawLine{"", eol});
  }
  lines.push_back(RawLine{"[" + section + "]", eol});
  lines.push_back(std::move(keyText));
  return true;
}

// Creates the missing folders above path, private to the user as a config folder should be.
void MakeParents(const std::string& path) {
  std::string dir = ParentFolder(path);
  struct stat st;
  if (dir == "." || dir == "/" || ::stat(dir.c_str(), &st) == 0) return;
  MakeParents(dir);
  ::mkdir(dir.c_str(), 0700);
}

// Writes text over target: a new file beside it renamed over it, keeping its mode and owner.
bool ReplaceFile(const OutputTarget& target, std::string_view text) {
  OutputFile out;
  if (!out.Open(target, 0600)) return false;
  // The text keeps its own line ends: it goes out byte for byte.
  while (!text.empty()) {
    const ssize_t n = ::write(out.Fd(), text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return out.Commit();
}

// Serialises the writers of this process; flock serialises processes.
std::mutex& WriteMutex() {
  static std::mutex m;
  return m;
}

// Opens target and takes its exclusive lock, making sure the locked file is still the one
// the path names (another writer may have renamed a new one over it meanwhile).
int OpenLocked(const std::string& target, bool create, struct stat& st) {
  for (;;) {
    // Non-blocking and never through a link: target is where the links end, a regular file.
    int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT && create) {
      MakeParents(target);
      fd = ::open(target.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    }
    if (fd < 0) return -1;
    int rc;
    do rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    struct stat now;
    if (rc == 0 && ::fstat(fd, &st) != 0) {
      rc = -1;
    } else if (rc == 0 && !S_ISREG(st.st_mode)) {
      errno = EINVAL;
      rc = -1;
    }
    if (rc != 0) {
      int saved = errno;
      ::close(fd);
      errno = saved;
      return -1;
    }
    if (::stat(target.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) return fd;
    ::close(fd);
  }
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

}  // namespace

int GetPrivateProfileInt(const char* section, const char* key, int def, const std::string& path) {
  if (!section || !key) return def;
  auto ini = Load(path);
  const std::string* value = ini ? FindValue(*ini, section, key) : nullptr;
  if (!value) return def;
  std::string_view v = *value;
  bool negative = false;
  std::size_t i = 0;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
  std::uint32_t n = 0;  // wraps at 32 bits: "4294967295" reads as -1
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = n * 10u + static_cast<std::uint32_t>(v[i] - '0');
  if (negative) n = 0u - n;
  return static_cast<int>(n);
}

std::string GetPrivateProfileString(const char* section, const char* key, const char* def, const std::string& path) {
  auto ini = Load(path);
  if (!section) {
    std::vector<std::string_view> names;
    if (ini)
      for (const ParsedSection& s : ini->sections) names.push_back(s.name);
    return NameList(names);
  }
  if (!key) {
    std::vector<std::string_view> names;
    if (ini) {
      auto s = ini->sectionIndex.find(Trim(section));
      if (s != ini->sectionIndex.end())
        for (const auto& kv : ini->sections[s->second].keys) names.push_back(kv.first);
    }
    return NameList(names);
  }
  const std::string* value = ini ? FindValue(*ini, section, key) : nullptr;
  return value ? *value : DefaultText(def);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value, const std::string& path) {
  // All-null arguments ask for a flush of cached writes: every write here is on disk already.
  if (!section) return !key && !value;
  if (path.empty()) return false;

  std::lock_guard<std::mutex> writers(WriteMutex());
  OutputTarget target;
  // Only a regular file (or none yet) holds settings; a write to anything else fails quietly.
  if (!ResolveOutput(path, target) || target.kind == OutputTarget::Kind::Special) return false;
  const bool deleting = !key || !value;
  struct stat st;
  int fd = OpenLocked(target.path, !deleting, st);
  if (fd < 0) return deleting && errno == ENOENT;  // nothing to delete from
  // The path is walked again now that the file exists: a folder made for it on the way may have
  // been taken by a link meanwhile, and the link rule holds for the file we locked.
  OutputTarget locked;
  if (!ResolveOutput(path, locked) || locked.kind != OutputTarget::Kind::Regular || locked.st.st_dev != st.st_dev ||
      locked.st.st_ino != st.st_ino) {
    ::close(fd);
    return false;
  }
  target = locked;
  target.locked = true;

  std::string text;
  bool ok = ReadAll(fd, text);
  if (ok) {
    // The byte-order mark stays where it is, out of the way of the first line.
    const std::string_view body = WithoutBom(text);
    const std::string_view bom = std::string_view(text).substr(0, text.size() - body.size());
    std::vector<RawLine> lines = SplitLines(body);
    if (ApplyWrite(lines, section, key, value)) {
      ok = ReplaceFile(target, std::string(bom) + JoinLines(lines));
      ForgetCached(path);
    }
  }
  ::close(fd);  // releases the lock
  return ok;
}

std::uint64_t ProfileGeneration() { return generation.load(std::memory_order_acquire); }

std::chrono::milliseconds ProfileRecheckInterval() {
  return std::chrono::milliseconds(recheckIntervalMs.load(std::memory_order_relaxed));
}

void SetProfileRecheckInterval(std::chrono::milliseconds interval) {
  recheckIntervalMs.store(interval.count(), std::memory_order_relaxed);
}

std::string DefaultIniPath() {
  if (const char* env = std::getenv("WEXO_INI"); env && *env) return env;

  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) path.resize(dot);
    path += ".ini";
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }

  // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string config = (xdg && xdg[0] == '/') ? std::string(xdg) : HomeDir() + "/.config";
  while (config.size() > 1 && config.back() == '/') config.pop_back();
  return config + "/wexo/wexo.ini";
}

namespace {
std::string& SettingsFileSlot() {
  static std::string path = DefaultIniPath();
  return path;
}
}  // namespace

const std::string& SettingsFile() { return SettingsFileSlot(); }

void SetSettingsFile(std::string path) { SettingsFileSlot() = std::move(path); }

std::string StateIniPath(const std::string& iniPath) {
  std::size_t slash = iniPath.rfind('/');
  if (slash == std::string::npos) return "state.ini";
  return iniPath.substr(0, slash + 1) + "state.ini";
}

}  // namespace platform
