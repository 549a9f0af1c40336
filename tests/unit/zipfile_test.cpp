#include "engine/ZipFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Builds the archives with Python's zipfile ("make" as first argument), and writes for each
// archive named after that what Python's own reader sees in its central directory: one
// line per entry, byte fields in hex.
constexpr const char* kArchiveScript = R"PY(
import io, sys, zipfile
out, names = sys.argv[1], sys.argv[2:]

def info(name, method, comment=b"", extra=b"", when=(2020, 5, 17, 13, 45, 30)):
    z = zipfile.ZipInfo(name, when)
    z.compress_type = method
    z.comment = comment
    z.extra = extra
    return z

def make():
    # The same entries twice: once with an archive comment that holds end-record
    # signature bytes (Python's own reader stumbles over it, so the manifest is taken
    # from the plain twin, whose directory is the same byte for byte).
    for name, comment in (("entries.jar", b"archive comment PK\x05\x06 not an end record "),
                          ("entries-plain.jar", b"archive comment without signatures ")):
        with zipfile.ZipFile(out + "/" + name, "w") as zf:
            zf.writestr(info("a.txt", zipfile.ZIP_DEFLATED, b"first entry"), b"alpha\n" * 20)
            zf.writestr(info("dir/", zipfile.ZIP_STORED), b"")
            zf.writestr(info("dir/B.class", zipfile.ZIP_STORED, b"", b"\xfe\xca\x04\x00abcd",
                             (1999, 12, 31, 23, 59, 58)), bytes(range(256)))
            zf.writestr(info("c.txt", zipfile.ZIP_STORED, b"third, with PK\x01\x02 inside"),
                        b"")
            zf.writestr(info("\u00fcber.html", zipfile.ZIP_DEFLATED), b"<p>x</p>")
            zf.comment = comment + b"." * 40

    inner = io.BytesIO()
    with zipfile.ZipFile(inner, "w") as zf:
        zf.writestr(info("inner/One.class", zipfile.ZIP_STORED), b"one")
        zf.writestr(info("inner/Two.class", zipfile.ZIP_STORED), b"two")
    with zipfile.ZipFile(out + "/nested.jar", "w") as zf:
        zf.writestr(info("inner.jar", zipfile.ZIP_STORED), inner.getvalue())
        zf.writestr(info("outer.txt", zipfile.ZIP_DEFLATED), b"outer")

    with zipfile.ZipFile(out + "/empty.jar", "w") as zf:
        pass
    with zipfile.ZipFile(out + "/empty-comment.jar", "w") as zf:
        zf.comment = b"nothing in here"

if names[:1] == ["make"]:
    make()
    names = names[1:]

for name in names:
    with zipfile.ZipFile(out + "/" + name) as zf, open(out + "/" + name + ".txt", "w") as f:
        for z in zf.infolist():
            raw = z.filename.encode("utf-8" if z.flag_bits & 0x800 else "cp437")
            y, mo, d, h, mi, s = z.date_time
            fields = [raw.hex() or "-", z.create_system << 8 | z.create_version,
                      z.extract_version, z.flag_bits, z.compress_type,
                      h << 11 | mi << 5 | s // 2, (y - 1980) << 9 | mo << 5 | d, z.CRC,
                      z.compress_size, z.file_size, z.extra.hex() or "-",
                      z.comment.hex() or "-", z.volume, z.internal_attr, z.external_attr,
                      z.header_offset]
            f.write(" ".join(str(x) for x in fields) + "\n")
)PY";

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text.empty() ? "-" : text;
}

// One entry in the manifest's form.
std::string Describe(const ZipEntry& e) {
  std::ostringstream s;
  s << Hex(e.name) << ' ' << e.versionMadeBy << ' ' << e.versionNeeded << ' ' << e.flags << ' ' << e.compressionMethod
    << ' ' << e.modTime << ' ' << e.modDate << ' ' << e.crc32 << ' ' << e.compressedSize << ' ' << e.uncompressedSize
    << ' ' << Hex(e.extra) << ' ' << Hex(e.comment) << ' ' << e.diskNumberStart << ' ' << e.internalAttributes << ' '
    << e.externalAttributes << ' ' << e.localHeaderOffset;
  return s.str();
}

std::vector<std::string> Listing(const CZipFile& zip) {
  std::vector<std::string> lines;
  for (int i = 0; i < zip.GetCount(); ++i) lines.push_back(Describe(*zip.GetEntry(i)));
  return lines;
}

std::vector<std::string> Names(const CZipFile& zip) {
  std::vector<std::string> names;
  for (int i = 0; i < zip.GetCount(); ++i) names.push_back(zip.GetEntry(i)->name);
  return names;
}

class ZipFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "wexo-zipfile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "archives.py") << kArchiveScript;
    RunScript("make entries-plain.jar nested.jar");
    ready_ = !::testing::Test::HasFailure();
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  void SetUp() override { ASSERT_TRUE(ready_) << "the archives could not be made"; }

  static void RunScript(const std::string& arguments) {
    std::string command =
        std::string(WEXO_PYTHON) + " " + (dir_ / "archives.py").string() + " " + dir_.string() + " " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  static std::string PathOf(const std::string& name) { return (dir_ / name).string(); }

  static std::string ReadBytes(const std::string& name) {
    std::ifstream in(PathOf(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static std::string WriteBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(PathOf(name), std::ios::binary | std::ios::trunc) << bytes;
    return PathOf(name);
  }

  static std::vector<std::string> Manifest(const std::string& name) {
    std::ifstream in(PathOf(name + ".txt"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static fs::path dir_;
  static bool ready_;
};

fs::path ZipFileTest::dir_;
bool ZipFileTest::ready_ = false;

TEST_F(ZipFileTest, ListsEveryEntryAsStored) {
  // Entry comments, an extra field, a folder, a UTF-8 name and an archive comment that
  // holds end-record signature bytes.
  CZipFile zip(PathOf("entries.jar"));
  ASSERT_EQ(zip.Open(), 0);
  EXPECT_EQ(Listing(zip), Manifest("entries-plain.jar"));
  ASSERT_EQ(zip.GetCount(), 5);

  const ZipEntry* first = zip.GetEntry(0);
  EXPECT_EQ(first->signature, 0x02014B50u);
  EXPECT_EQ(first->name, "a.txt");
  EXPECT_EQ(first->uncompressedSize, 120u);
  EXPECT_EQ(first->comment, "first entry");
  EXPECT_TRUE(first->hasName && first->hasComment);
  EXPECT_FALSE(first->hasExtra);
  EXPECT_EQ(first->extra, "");

  const ZipEntry* folder = zip.GetEntry(1);
  EXPECT_EQ(folder->name, "dir/");
  EXPECT_FALSE(folder->hasComment);

  const ZipEntry* cls = zip.GetEntry(2);
  EXPECT_EQ(cls->extra, std::string("\xfe\xca\x04\x00"
                                    "abcd",
                                    8));
  EXPECT_TRUE(cls->hasExtra);
  EXPECT_EQ(cls->modDate, (19 << 9) | (12 << 5) | 31);
  EXPECT_EQ(cls->modTime, (23 << 11) | (59 << 5) | 29);

  EXPECT_EQ(zip.GetEntry(4)->name,
            "\xc3\xbc"
            "ber.html");
}

TEST_F(ZipFileTest, EntryIndexOutsideTheListIsNone) {
  CZipFile zip(PathOf("entries.jar"));
  ASSERT_EQ(zip.Open(), 0);
  EXPECT_EQ(zip.GetEntry(zip.GetCount()), nullptr);
  EXPECT_EQ(zip.GetEntry(-1), nullptr);
  EXPECT_NE(zip.GetEntry(zip.GetCount() - 1), nullptr);

  // Opening again does not list the entries twice; Close forgets the archive.
  ASSERT_EQ(zip.Open(), 0);
  EXPECT_EQ(zip.GetCount(), 5);
  zip.Close();
  EXPECT_EQ(zip.GetCount(), 0);
  EXPECT_EQ(zip.GetEntry(0), nullptr);
  EXPECT_EQ(zip.Open(), 1);
}

TEST_F(ZipFileTest, StoredNestedArchiveIsOneEntry) {
  // The inner archive's directory comes first in the file; only the outer one counts.
  CZipFile zip(PathOf("nested.jar"));
  ASSERT_EQ(zip.Open(), 0);
  EXPECT_EQ(Names(zip), (std::vector<std::string>{"inner.jar", "outer.txt"}));
  EXPECT_EQ(Listing(zip), Manifest("nested.jar"));
}

TEST_F(ZipFileTest, ArchiveOfOnlyAnEndRecordIsEmpty) {
  for (const char* name : {"empty.jar", "empty-comment.jar"}) {
    CZipFile zip(PathOf(name));
    EXPECT_EQ(zip.Open(), 0) << name;
    EXPECT_EQ(zip.GetCount(), 0) << name;
    EXPECT_EQ(zip.GetEntry(0), nullptr) << name;
  }
  EXPECT_EQ(ReadBytes("empty.jar").size(), 22u);
}

TEST_F(ZipFileTest, ArchiveMadeByZipTool) {
  fs::path tree = dir_ / "tree";
  fs::create_directories(tree / "sub");
  std::ofstream(tree / "top.txt") << "top\n";
  std::ofstream(tree / "sub" / "page.html") << "<html></html>\n";
  std::string command = "cd " + tree.string() + " && echo 'made by zip' | zip -q -r -z ../tool.zip top.txt sub";
  ASSERT_EQ(std::system(command.c_str()), 0);
  RunScript("tool.zip");

  CZipFile zip(PathOf("tool.zip"));
  ASSERT_EQ(zip.Open(), 0);
  EXPECT_EQ(Listing(zip), Manifest("tool.zip"));
  EXPECT_EQ(Names(zip), (std::vector<std::string>{"top.txt", "sub/", "sub/page.html"}));
  for (int i = 0; i < zip.GetCount(); ++i) EXPECT_TRUE(zip.GetEntry(i)->hasExtra);  // time fields
}

TEST_F(ZipFileTest, NotAnArchive) {
  struct Case {
    const char* name;
    std::string bytes;
    int result;
  };
  const Case cases[] = {
      {"empty-file", "", 2},
      {"one", "P", 2},
      {"three", "PK\x03", 2},
      {"text", "just some text, longer than four bytes", 2},
      {"directory-first", std::string("PK\x01\x02", 4) + std::string(60, '\0'), 2},
      {"end-signature-garbage", std::string("PK\x05\x06", 4) + "not really an end record", 2},
      {"header-only", "PK\x03\x04", 0},
  };
  for (const Case& c : cases) {
    CZipFile zip(WriteBytes(c.name, c.bytes));
    EXPECT_EQ(zip.Open(), c.result) << c.name;
    EXPECT_EQ(zip.GetCount(), 0) << c.name;
  }
}

TEST_F(ZipFileTest, CannotOpen) {
  for (const std::string& path : {std::string(), PathOf("no-such.jar"), dir_.string()}) {
    CZipFile zip(path);
    EXPECT_EQ(zip.Open(), 1) << '"' << path << '"';
    EXPECT_EQ(zip.GetCount(), 0);
  }
}

TEST_F(ZipFileTest, TruncatedArchiveListsAPrefixOfItsEntries) {
  const std::string whole = ReadBytes("entries.jar");
  CZipFile full(PathOf("entries.jar"));
  ASSERT_EQ(full.Open(), 0);
  const std::vector<std::string> all = Listing(full);
  const std::size_t end = whole.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);

  for (std::size_t length = 0; length < whole.size(); ++length) {
    CZipFile zip(WriteBytes("cut.jar", whole.substr(0, length)));
    int result = zip.Open();
    ASSERT_EQ(result, length < 4 ? 2 : 0) << "cut at " << length;
    std::vector<std::string> listed = Listing(zip);
    ASSERT_LE(listed.size(), all.size()) << "cut at " << length;
    ASSERT_TRUE(std::equal(listed.begin(), listed.end(), all.begin())) << "cut at " << length;
    // Without its end record the directory is still found from the front.
    if (length >= end) {
      EXPECT_EQ(listed.size(), all.size()) << "cut at " << length;
    }
  }
}

TEST_F(ZipFileTest, DamagedDirectory) {
  const std::string whole = ReadBytes("entries.jar");
  const std::size_t end = whole.rfind(std::string("PK\x05\x06", 4));
  const std::size_t directory = whole.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(end, std::string::npos);
  ASSERT_NE(directory, std::string::npos);
  const std::size_t second = whole.find(std::string("PK\x01\x02", 4), directory + 4);
  ASSERT_NE(second, std::string::npos);

  auto patched = [&](std::size_t at, std::string bytes) {
    std::string copy = whole;
    copy.replace(at, bytes.size(), bytes);
    return copy;
  };
  struct Case {
    const char* what;
    std::string bytes;
    int count;
  };
  const Case cases[] = {
      // The second entry claims a name longer than the rest of the file.
      {"long-name", patched(second + 28, "\xff\xff"), 1},
      // The second entry's signature is broken: the list ends before it.
      {"bad-signature", patched(second, "XX"), 1},
      // The end record points outside the file: it is ignored and the front scan used.
      {"offset-outside", patched(end + 16, "\xff\xff\xff\x7f"), 5},
      // The end record claims a comment longer than the file has.
      {"long-comment", patched(end + 20, "\xff\xff"), 5},
  };
  for (const Case& c : cases) {
    CZipFile zip(WriteBytes("damaged.jar", c.bytes));
    ASSERT_EQ(zip.Open(), 0) << c.what;
    EXPECT_EQ(zip.GetCount(), c.count) << c.what;
  }
}

TEST_F(ZipFileTest, RandomBytesAroundSignaturesStayInBounds) {
  // Signatures and length fields in random places; under AddressSanitizer any read past
  // the buffer fails the run.
  std::mt19937 random(12345);
  const std::string signatures[] = {std::string("PK\x01\x02", 4), std::string("PK\x05\x06", 4)};
  for (int round = 0; round < 400; ++round) {
    std::string bytes("PK\x03\x04", 4);
    std::size_t size = 4 + random() % 200;
    while (bytes.size() < size) {
      switch (random() % 4) {
        case 0: bytes += signatures[random() % 2]; break;
        case 1: bytes += static_cast<char>(random() % 4); break;
        default: bytes += static_cast<char>(random());
      }
    }
    bytes.resize(size);
    CZipFile zip(WriteBytes("random.jar", bytes));
    ASSERT_EQ(zip.Open(), 0);
    for (int i = 0; i < zip.GetCount(); ++i)
      ASSERT_LE(46u + zip.GetEntry(i)->name.size() + zip.GetEntry(i)->extra.size() + zip.GetEntry(i)->comment.size(),
                size);
  }
}

TEST(ReadValue, LittleEndianWidths) {
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x84};
  EXPECT_EQ(ReadValue(bytes, 8), 0x01u);
  EXPECT_EQ(ReadValue(bytes, 16), 0x0201u);
  EXPECT_EQ(ReadValue(bytes, 24), 0x030201u);
  EXPECT_EQ(ReadValue(bytes, 32), 0x84030201u);
  EXPECT_EQ(ReadValue(bytes, 12), 0u);
  EXPECT_EQ(ReadValue(bytes, 64), 0u);
}

}  // namespace
