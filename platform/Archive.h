// The binary encodings of the document file (little-endian): a writer into memory or a file
// and a reader that checks every length and count against the bytes that remain, so a
// damaged file fails to load instead of being read past its end.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Raised by a reader on a file that ends early or holds what it must not, and by a writer
// whose file cannot be written. The text says what and where.
class CArchiveException : public std::runtime_error {
 public:
  CArchiveException(const std::string& what, std::uint64_t offset) : std::runtime_error(what), m_offset(offset) {}
  std::uint64_t Offset() const { return m_offset; }

 private:
  std::uint64_t m_offset;
};

class CArchive {
 public:
  // The object tags of a record: a new class, and a class seen before (index 1).
  static constexpr std::uint16_t kNewClassTag = 0xFFFF;
  static constexpr std::uint16_t kFirstClassTag = 0x8001;
  static constexpr std::uint32_t kTimeMarker = 0x8000000A;

  // Storing into memory: Data() holds what was written.
  CArchive();
  // Storing into an open descriptor (not owned); Flush() writes what is still buffered.
  explicit CArchive(int fd);
  // Loading from bytes that the caller keeps alive for the archive's lifetime.
  explicit CArchive(std::string_view data);
  // Loading from an open descriptor (not owned) of a file of size bytes, read in blocks, so
  // memory follows what is read, not what the file claims.
  struct FileSource {
    int fd;
    std::uint64_t size;
  };
  explicit CArchive(FileSource file);
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  bool IsStoring() const { return m_storing; }
  bool IsLoading() const { return !m_storing; }

  // --- storing ---
  void WriteBytes(const void* data, std::size_t size);
  void WriteByte(std::uint8_t v) { WriteBytes(&v, 1); }
  void WriteWord(std::uint16_t v);
  void WriteDWord(std::uint32_t v);
  void WriteQWord(std::uint64_t v);
  void WriteShort(std::int16_t v) { WriteWord(static_cast<std::uint16_t>(v)); }
  void WriteLong(std::int32_t v) { WriteDWord(static_cast<std::uint32_t>(v)); }
  // Length prefix (1, 3, 7 or 15 bytes), then the bytes as they are.
  void WriteString(std::string_view s);
  void WriteCount(std::uint64_t count);
  void WriteStringArray(const std::vector<std::string>& a);
  void WriteWordArray(const std::vector<std::uint16_t>& a);
  void WriteDWordArray(const std::vector<std::uint32_t>& a);
  // The marker, then 64-bit seconds since 1970 UTC.
  void WriteTime(std::int64_t t);
  // 32-bit seconds; values beyond the 32-bit range are clamped.
  void WriteTimeSpan(std::int64_t seconds);
  // The tag in front of an object: the class header the first time, the class index later.
  // One class per archive.
  void WriteObjectTag(std::string_view className, std::uint16_t schema);
  // Writes what is buffered to the descriptor (nothing in memory mode).
  void Flush();
  const std::string& Data() const { return m_buffer; }
  std::uint64_t BytesWritten() const { return m_written + m_buffer.size(); }

  // --- loading ---
  void ReadBytes(void* out, std::size_t size);
  std::uint8_t ReadByte();
  std::uint16_t ReadWord();
  std::uint32_t ReadDWord();
  std::uint64_t ReadQWord();
  std::int16_t ReadShort() { return static_cast<std::int16_t>(ReadWord()); }
  std::int32_t ReadLong() { return static_cast<std::int32_t>(ReadDWord()); }
  // A UTF-16 string (prefix FF FE FF) comes back in the system code page.
  std::string ReadString();
  // A count of elements that take at least minElementBytes each in the rest of the data.
  std::uint64_t ReadCount(std::size_t minElementBytes);
  std::vector<std::string> ReadStringArray();
  std::vector<std::uint16_t> ReadWordArray();
  std::vector<std::uint32_t> ReadDWordArray();
  // A first 32-bit value other than the marker is itself the time (older files).
  std::int64_t ReadTime();
  std::int64_t ReadTimeSpan() { return ReadLong(); }
  // The tag in front of an object of className: the new-class tag with the schema and the
  // name first, the class tag 0x8001 afterwards. Anything else (null, back-references,
  // another class, the big-object tag) fails. Returns the class schema.
  std::uint16_t ReadObjectTag(std::string_view className);
  // The schema of the class of the object being read.
  std::uint16_t GetObjectSchema() const { return m_schema; }

  std::uint64_t Remaining() const { return m_size - m_pos; }
  std::uint64_t Offset() const { return m_pos; }
  [[noreturn]] void Fail(const std::string& what) const;

 private:
  void Need(std::uint64_t size) const;
  // The next size bytes (checked against the rest of the file), read in if need be.
  const char* Take(std::size_t size);
  void Refill(std::size_t size);
  std::uint64_t ReadLength(bool& wide);

  bool m_storing;
  // storing
  int m_fd = -1;
  std::string m_buffer;
  std::uint64_t m_written = 0;
  // loading: m_data holds the bytes from offset m_base on
  std::string_view m_data;
  std::uint64_t m_base = 0;
  std::uint64_t m_pos = 0;
  std::uint64_t m_size = 0;
  int m_in = -1;
  std::string m_block;
  // the one class of the archive
  std::string m_className;
  std::uint16_t m_schema = 0;
  bool m_haveClass = false;
};

// Opens a regular file for reading (never waiting on a FIFO); -1 with "<reason>" in error.
int OpenRegularFile(const std::string& path, std::uint64_t& size, std::string& error);

// The whole content of a regular file; false with "<reason>" in error.
bool ReadWholeFile(const std::string& path, std::string& data, std::string& error);

}  // namespace platform
