// Lists the members of a .jar (zip) archive from its central directory; nothing is
// decompressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One central-directory entry, fields as stored in the file.
struct ZipEntry {
  std::uint32_t signature = 0;
  std::uint16_t versionMadeBy = 0;
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t compressionMethod = 0;
  std::uint16_t modTime = 0;  // MS-DOS format
  std::uint16_t modDate = 0;  // MS-DOS format
  std::uint32_t crc32 = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
  std::uint16_t commentLength = 0;
  std::uint16_t diskNumberStart = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t localHeaderOffset = 0;

  // The stored bytes; a field of length 0 is none (its Has... flag false).
  std::string name;
  std::string extra;
  std::string comment;
  bool hasName = false;
  bool hasExtra = false;
  bool hasComment = false;
};

class CZipFile {
 public:
  explicit CZipFile(std::string fileName);
  virtual ~CZipFile();
  CZipFile(const CZipFile&) = delete;
  CZipFile& operator=(const CZipFile&) = delete;

  // 0: directory read; 1: empty path or the file cannot be read; 2: not a zip archive.
  int Open();
  int GetCount() const;
  // None (nullptr) when index is negative or not below the count.
  const ZipEntry* GetEntry(int index) const;
  // Releases all entries and empties the file name.
  void Close();

 protected:
  void ParseDirectory(const std::uint8_t* buffer, std::size_t size);
  // Parses the entry at buffer[pos]; its length, or 0 when there is no whole entry there.
  std::size_t ParseEntry(const std::uint8_t* buffer, std::size_t size, std::size_t pos, ZipEntry& entry);

  std::string m_csFileName;
  std::vector<ZipEntry> m_paEntries;
};

// Little-endian read of 8, 16, 24 or 32 bits at p; any other width gives 0.
std::uint32_t ReadValue(const std::uint8_t* p, int nbits);
