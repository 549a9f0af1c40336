#include "engine/ZipFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kDirectorySignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;

constexpr std::size_t kEntrySize = 46;      // fixed part of a central-directory entry
constexpr std::size_t kEndSize = 22;        // end-of-central-directory record without comment
constexpr std::size_t kMaxComment = 65535;  // the archive comment's length is 16 bits

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  data.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < data.size()) {
    ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;  // the file shrank while we read it
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  data.resize(got);
  return true;
}

struct EndRecord {
  std::size_t position = 0;
  std::size_t directoryOffset = 0;
  std::size_t directorySize = 0;
};

// Checks the end record at pos and fills rec; false when it does not describe a
// directory inside the file (for example signature bytes inside a member or a comment).
bool ReadEndRecord(const std::uint8_t* buf, std::size_t size, std::size_t pos, EndRecord& rec) {
  std::size_t commentLength = ReadValue(buf + pos + 20, 16);
  if (commentLength > size - pos - kEndSize) return false;
  rec.position = pos;
  rec.directorySize = ReadValue(buf + pos + 12, 32);
  rec.directoryOffset = ReadValue(buf + pos + 16, 32);
  if (rec.directoryOffset > pos || rec.directorySize > pos - rec.directoryOffset) return false;
  if (rec.directorySize == 0) return true;
  return rec.directorySize >= 4 && ReadValue(buf + rec.directoryOffset, 32) == kDirectorySignature;
}

// The end-of-central-directory record nearest the end of the file that is consistent.
bool FindEndRecord(const std::uint8_t* buf, std::size_t size, EndRecord& rec) {
  if (size < kEndSize) return false;
  std::size_t last = size - kEndSize;
  std::size_t first = last > kMaxComment ? last - kMaxComment : 0;
  for (std::size_t pos = last + 1; pos-- > first;) {
    if (buf[pos] == 0x50 && ReadValue(buf + pos, 32) == kEndSignature && ReadEndRecord(buf, size, pos, rec))
      return true;
  }
  return false;
}

}  // namespace

std::uint32_t ReadValue(const std::uint8_t* p, int nbits) {
  switch (nbits) {
    case 8: return p[0];
    case 16: return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
    case 24: return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
    case 32:
      return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    default: return 0;
  }
}

CZipFile::CZipFile(std::string fileName) : m_csFileName(std::move(fileName)) {}

CZipFile::~CZipFile() { Close(); }

int CZipFile::Open() {
  m_paEntries.clear();
  if (m_csFileName.empty()) return 1;
  std::vector<std::uint8_t> data;
  if (!ReadWholeFile(m_csFileName, data)) return 1;
  if (data.size() < 4) return 2;

  std::uint32_t signature = ReadValue(data.data(), 32);
  if (signature == kEndSignature) {
    // An archive without members is nothing but its end record.
    EndRecord rec;
    if (FindEndRecord(data.data(), data.size(), rec) && rec.position == 0) return 0;
    return 2;
  }
  if (signature != kLocalHeaderSignature) return 2;
  ParseDirectory(data.data(), data.size());
  return 0;
}

int CZipFile::GetCount() const { return static_cast<int>(m_paEntries.size()); }

const ZipEntry* CZipFile::GetEntry(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_paEntries.size()) return nullptr;
  return &m_paEntries[static_cast<std::size_t>(index)];
}

void CZipFile::Close() {
  m_paEntries.clear();
  m_csFileName.clear();
}

void CZipFile::ParseDirectory(const std::uint8_t* buffer, std::size_t size) {
  std::size_t pos;
  EndRecord rec;
  if (FindEndRecord(buffer, size, rec)) {
    if (rec.directorySize == 0) return;
    pos = rec.directoryOffset;
  } else {
    // No end record (a cut archive): the first directory signature from the front.
    static constexpr std::uint8_t kSig[4] = {0x50, 0x4B, 0x01, 0x02};
    const void* hit = ::memmem(buffer, size, kSig, sizeof kSig);
    if (!hit) return;
    pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - buffer);
  }

  for (;;) {
    ZipEntry entry;
    std::size_t length = ParseEntry(buffer, size, pos, entry);
    if (length == 0) break;
    m_paEntries.push_back(std::move(entry));
    pos += length;
  }
}

std::size_t CZipFile::ParseEntry(const std::uint8_t* buffer, std::size_t size, std::size_t pos, ZipEntry& entry) {
  if (pos > size || size - pos < kEntrySize) return 0;
  const std::uint8_t* p = buffer + pos;
  if (ReadValue(p, 32) != kDirectorySignature) return 0;
  std::size_t n = ReadValue(p + 28, 16);
  std::size_t m = ReadValue(p + 30, 16);
  std::size_t k = ReadValue(p + 32, 16);
  std::size_t length = kEntrySize + n + m + k;
  if (size - pos < length) return 0;

  entry.signature = kDirectorySignature;
  entry.versionMadeBy = static_cast<std::uint16_t>(ReadValue(p + 4, 16));
  entry.versionNeeded = static_cast<std::uint16_t>(ReadValue(p + 6, 16));
  entry.flags = static_cast<std::uint16_t>(ReadValue(p + 8, 16));
  entry.compressionMethod = static_cast<std::uint16_t>(ReadValue(p + 10, 16));
  entry.modTime = static_cast<std::uint16_t>(ReadValue(p + 12, 16));
  entry.modDate = static_cast<std::uint16_t>(ReadValue(p + 14, 16));
  entry.crc32 = ReadValue(p + 16, 32);
  entry.compressedSize = ReadValue(p + 20, 32);
  entry.uncompressedSize = ReadValue(p + 24, 32);
  entry.nameLength = static_cast<std::uint16_t>(n);
  entry.extraLength = static_cast<std::uint16_t>(m);
  entry.commentLength = static_cast<std::uint16_t>(k);
  entry.diskNumberStart = static_cast<std::uint16_t>(ReadValue(p + 34, 16));
  entry.internalAttributes = static_cast<std::uint16_t>(ReadValue(p + 36, 16));
  entry.externalAttributes = ReadValue(p + 38, 32);
  entry.localHeaderOffset = ReadValue(p + 42, 32);

  const char* text = reinterpret_cast<const char*>(p + kEntrySize);
  entry.name.assign(text, n);
  entry.extra.assign(text + n, m);
  entry.comment.assign(text + n + m, k);
  entry.hasName = n != 0;
  entry.hasExtra = m != 0;
  entry.hasComment = k != 0;
  return length;
}
