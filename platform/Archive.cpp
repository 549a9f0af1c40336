#include "platform/Archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/CodePage.h"

namespace platform {

namespace {

// Buffered bytes of a file archive beyond which they are written out.
constexpr std::size_t kFlushSize = 64 * 1024;
// What a loading archive reads from its file at a time.
constexpr std::size_t kReadBlock = 64 * 1024;
// Elements reserved ahead for an array: a count is checked only against the bytes the file
// has left, which may be far more than the array really holds.
constexpr std::uint64_t kMaxReserve = 64 * 1024;

std::size_t ReserveFor(std::uint64_t count) { return static_cast<std::size_t>(std::min(count, kMaxReserve)); }

std::string ErrnoText(int err) { return std::system_category().message(err); }

std::string Hex16(std::uint16_t v) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(v));
  return buffer;
}

}  // namespace

CArchive::CArchive() : m_storing(true) {}

CArchive::CArchive(int fd) : m_storing(true), m_fd(fd) {}

CArchive::CArchive(std::string_view data) : m_storing(false), m_data(data), m_size(data.size()) {}

CArchive::CArchive(FileSource file) : m_storing(false), m_size(file.size), m_in(file.fd) {}

// --- storing ---

void CArchive::WriteBytes(const void* data, std::size_t size) {
  m_buffer.append(static_cast<const char*>(data), size);
  if (m_fd >= 0 && m_buffer.size() >= kFlushSize) Flush();
}

void CArchive::WriteWord(std::uint16_t v) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  WriteBytes(b, 2);
}

void CArchive::WriteDWord(std::uint32_t v) {
  std::uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  WriteBytes(b, 4);
}

void CArchive::WriteQWord(std::uint64_t v) {
  std::uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  WriteBytes(b, 8);
}

void CArchive::WriteString(std::string_view s) {
  const std::uint64_t n = s.size();
  if (n < 0xFF) {
    WriteByte(static_cast<std::uint8_t>(n));
  } else if (n < 0xFFFE) {
    WriteByte(0xFF);
    WriteWord(static_cast<std::uint16_t>(n));
  } else if (n < 0xFFFFFFFFull) {
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDWord(static_cast<std::uint32_t>(n));
  } else {
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDWord(0xFFFFFFFF);
    WriteQWord(n);
  }
  WriteBytes(s.data(), s.size());
}

void CArchive::WriteCount(std::uint64_t count) {
  if (count < 0xFFFF) {
    WriteWord(static_cast<std::uint16_t>(count));
    return;
  }
  WriteWord(0xFFFF);
  if (count < 0xFFFFFFFFull) {
    WriteDWord(static_cast<std::uint32_t>(count));
    return;
  }
  WriteDWord(0xFFFFFFFF);
  WriteQWord(count);
}

void CArchive::WriteStringArray(const std::vector<std::string>& a) {
  WriteCount(a.size());
  for (const std::string& s : a) WriteString(s);
}

void CArchive::WriteWordArray(const std::vector<std::uint16_t>& a) {
  WriteCount(a.size());
  for (std::uint16_t v : a) WriteWord(v);
}

void CArchive::WriteDWordArray(const std::vector<std::uint32_t>& a) {
  WriteCount(a.size());
  for (std::uint32_t v : a) WriteDWord(v);
}

void CArchive::WriteTime(std::int64_t t) {
  WriteDWord(kTimeMarker);
  WriteQWord(static_cast<std::uint64_t>(t));
}

void CArchive::WriteTimeSpan(std::int64_t seconds) {
  if (seconds > INT32_MAX) seconds = INT32_MAX;
  if (seconds < INT32_MIN) seconds = INT32_MIN;
  WriteLong(static_cast<std::int32_t>(seconds));
}

void CArchive::WriteObjectTag(std::string_view className, std::uint16_t schema) {
  if (!m_haveClass) {
    if (className.size() >= 64) throw CArchiveException("class name too long", BytesWritten());
    m_haveClass = true;
    m_className = className;
    m_schema = schema;
    WriteWord(kNewClassTag);
    WriteWord(schema);
    WriteWord(static_cast<std::uint16_t>(className.size()));
    WriteBytes(className.data(), className.size());
    return;
  }
  if (className != m_className) throw CArchiveException("a second class in one archive", BytesWritten());
  WriteWord(kFirstClassTag);
}

void CArchive::Flush() {
  if (m_fd < 0) return;
  std::size_t done = 0;
  while (done < m_buffer.size()) {
    const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      throw CArchiveException(ErrnoText(err), m_written + done);
    }
    done += static_cast<std::size_t>(n);
  }
  m_written += done;
  m_buffer.clear();
}

// --- loading ---

void CArchive::Fail(const std::string& what) const {
  throw CArchiveException(what + " (at byte " + std::to_string(m_pos) + ")", m_pos);
}

void CArchive::Need(std::uint64_t size) const {
  if (size > Remaining()) Fail("the file ends early");
}

void CArchive::Refill(std::size_t size) {
  if (m_in < 0) Fail("the file ends early");
  const std::size_t have = static_cast<std::size_t>(m_base + m_data.size() - m_pos);
  const std::size_t start = static_cast<std::size_t>(m_pos - m_base);
  std::memmove(m_block.data(), m_block.data() + start, have);
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(size, kReadBlock), Remaining()));
  if (m_block.size() > 4 * kReadBlock && want <= kReadBlock) {
    // After a long string: back to a block's worth.
    std::string smaller(m_block.data(), have);
    m_block.swap(smaller);
  }
  if (m_block.size() < want) m_block.resize(want);
  std::size_t got = have;
  while (got < want) {
    const ssize_t n = ::read(m_in, m_block.data() + got, want - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(ErrnoText(errno));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  m_base = m_pos;
  m_data = std::string_view(m_block.data(), got);
  if (got < size) Fail("the file ends early");
}

const char* CArchive::Take(std::size_t size) {
  Need(size);
  if (m_pos + size > m_base + m_data.size()) Refill(size);
  const char* p = m_data.data() + (m_pos - m_base);
  m_pos += size;
  return p;
}

void CArchive::ReadBytes(void* out, std::size_t size) {
  const char* p = Take(size);
  if (size) std::memcpy(out, p, size);
}

std::uint8_t CArchive::ReadByte() { return static_cast<std::uint8_t>(*Take(1)); }

std::uint16_t CArchive::ReadWord() {
  const auto* p = reinterpret_cast<const std::uint8_t*>(Take(2));
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t CArchive::ReadDWord() {
  const auto* p = reinterpret_cast<const std::uint8_t*>(Take(4));
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::uint64_t CArchive::ReadQWord() {
  const auto* p = reinterpret_cast<const std::uint8_t*>(Take(8));
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::uint64_t CArchive::ReadLength(bool& wide) {
  wide = false;
  std::uint8_t b = ReadByte();
  if (b < 0xFF) return b;
  std::uint16_t w = ReadWord();
  if (w == 0xFFFE) {
    // UTF-16 text: the length follows again, counted in 16-bit units.
    wide = true;
    b = ReadByte();
    if (b < 0xFF) return b;
    w = ReadWord();
  }
  if (w < 0xFFFF) return w;
  const std::uint32_t d = ReadDWord();
  if (d < 0xFFFFFFFF) return d;
  return ReadQWord();
}

std::string CArchive::ReadString() {
  const std::uint64_t at = m_pos;
  bool wide = false;
  const std::uint64_t length = ReadLength(wide);
  if (!wide) {
    Need(length);
    return std::string(Take(static_cast<std::size_t>(length)), static_cast<std::size_t>(length));
  }
  if (length > Remaining() / 2) Fail("the file ends early");
  std::u16string w(static_cast<std::size_t>(length), u'\0');
  const auto* p = reinterpret_cast<const std::uint8_t*>(Take(w.size() * 2));
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  std::string s;
  if (!WideToMultiByte(kCpAcp, w, s)) {
    m_pos = at;
    Fail("a UTF-16 string cannot be converted");
  }
  return s;
}

std::uint64_t CArchive::ReadCount(std::size_t minElementBytes) {
  std::uint64_t count = ReadWord();
  if (count == 0xFFFF) {
    count = ReadDWord();
    if (count == 0xFFFFFFFF) count = ReadQWord();
  }
  if (minElementBytes == 0) minElementBytes = 1;
  if (count > Remaining() / minElementBytes)
    Fail("a count of " + std::to_string(count) + " is more than the file holds");
  return count;
}

std::vector<std::string> CArchive::ReadStringArray() {
  const std::uint64_t n = ReadCount(1);
  std::vector<std::string> a;
  a.reserve(ReserveFor(n));
  for (std::uint64_t i = 0; i < n; ++i) a.push_back(ReadString());
  return a;
}

std::vector<std::uint16_t> CArchive::ReadWordArray() {
  const std::uint64_t n = ReadCount(2);
  std::vector<std::uint16_t> a;
  a.reserve(ReserveFor(n));
  for (std::uint64_t i = 0; i < n; ++i) a.push_back(ReadWord());
  return a;
}

std::vector<std::uint32_t> CArchive::ReadDWordArray() {
  const std::uint64_t n = ReadCount(4);
  std::vector<std::uint32_t> a;
  a.reserve(ReserveFor(n));
  for (std::uint64_t i = 0; i < n; ++i) a.push_back(ReadDWord());
  return a;
}

std::int64_t CArchive::ReadTime() {
  const std::uint32_t first = ReadDWord();
  if (first == kTimeMarker) return static_cast<std::int64_t>(ReadQWord());
  return first;
}

std::uint16_t CArchive::ReadObjectTag(std::string_view className) {
  const std::uint64_t at = m_pos;
  const std::uint16_t tag = ReadWord();
  if (!m_haveClass) {
    if (tag != kNewClassTag) {
      m_pos = at;
      Fail("unexpected object tag " + Hex16(tag));
    }
    const std::uint16_t schema = ReadWord();
    const std::uint16_t length = ReadWord();
    if (length != className.size()) {
      m_pos = at;
      Fail("unknown class");
    }
    if (std::string_view(Take(length), length) != className) {
      m_pos = at;
      Fail("unknown class");
    }
    m_haveClass = true;
    m_className = className;
    m_schema = schema;
    return schema;
  }
  if (tag != kFirstClassTag || className != m_className) {
    m_pos = at;
    Fail("unexpected object tag " + Hex16(tag));
  }
  return m_schema;
}

// --- files ---

int OpenRegularFile(const std::string& path, std::uint64_t& size, std::string& error) {
  // Non-blocking, so a named pipe in place of the file cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = ErrnoText(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  size = static_cast<std::uint64_t>(st.st_size);
  return fd;
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error) {
  data.clear();
  std::uint64_t size = 0;
  const int fd = OpenRegularFile(path, size, error);
  if (fd < 0) return false;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      ::close(fd);
      data.clear();
      return false;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace platform
