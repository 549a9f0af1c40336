// Decoding of gzip bodies: whole streams decode with their digest, damaged ones fail clean.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "algorithms/Md5.h"
#include "engine/SchemeHandlers.h"

namespace {

class GunzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wexo-gunzip-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::remove(In().c_str());
    std::remove(Out().c_str());
    rmdir(dir_.c_str());
  }
  std::string In() const { return dir_ + "/in.gz"; }
  std::string Out() const { return dir_ + "/out.html"; }

  static std::string Gzip(const std::string& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, data.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
  }
  void WriteIn(const std::string& bytes) { std::ofstream(In(), std::ios::binary) << bytes; }
  bool OutExists() const {
    struct stat st;
    return stat(Out().c_str(), &st) == 0;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static Md5Digest DigestOf(const std::string& bytes) {
    Md5Context ctx;
    Md5Init(ctx);
    Md5Update(ctx, bytes.data(), bytes.size());
    Md5Digest d;
    Md5Final(d.data(), ctx);
    return d;
  }

  std::string dir_;
};

std::string Text(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>("<p>some html text</p>\n"[i % 22]);
  return s;
}

TEST_F(GunzipTest, WholeStreamsDecodeWithSizeAndDigest) {
  // Empty, short, exactly one and two read blocks, and a body of many blocks.
  for (std::size_t size : {0u, 100u, 4096u, 8192u, 100000u}) {
    SCOPED_TRACE(size);
    const std::string data = Text(size);
    WriteIn(Gzip(data));
    std::int64_t got = -1;
    Md5Digest digest{};
    std::string message;
    ASSERT_EQ(GunzipFile(In(), Out(), got, digest.data(), message), 0) << message;
    EXPECT_EQ(got, static_cast<std::int64_t>(size));
    EXPECT_EQ(Read(Out()), data);
    EXPECT_EQ(digest, DigestOf(data));
  }
}

TEST_F(GunzipTest, DamagedStreamsFailWithoutOutput) {
  const std::string good = Gzip(Text(20000));
  std::string badCrc = good;
  badCrc[badCrc.size() - 8] ^= 0x55;
  std::string badLength = good;
  badLength[badLength.size() - 1] ^= 0x01;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"cut in the data", good.substr(0, good.size() / 2)},
      {"cut in the trailer", good.substr(0, good.size() - 3)},
      {"trailer missing", good.substr(0, good.size() - 8)},
      {"bad CRC", badCrc},
      {"bad length", badLength},
      {"header only", good.substr(0, 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteIn(c.bytes);
    std::int64_t got = -1;
    Md5Digest digest{};
    std::string message;
    EXPECT_EQ(GunzipFile(In(), Out(), got, digest.data(), message), -1);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(message.rfind("gzread error: ", 0), 0u) << message;
    EXPECT_FALSE(OutExists()) << "a partial output was left";
  }
}

TEST_F(GunzipTest, FilesThatCannotBeOpened) {
  std::int64_t got = -1;
  Md5Digest digest{};
  std::string message;
  EXPECT_EQ(GunzipFile(dir_ + "/missing.gz", Out(), got, digest.data(), message), -1);
  EXPECT_EQ(message, "gzopen of the received body failed: No such file or directory.\n") << "no path in the text";
  EXPECT_FALSE(OutExists());

  WriteIn(Gzip("x"));
  const std::string badOut = dir_ + "/no/such/dir/out";
  EXPECT_EQ(GunzipFile(In(), badOut, got, digest.data(), message), -1);
  EXPECT_EQ(message, "fopen of the decoded body failed: No such file or directory.\n");
}

TEST_F(GunzipTest, DecodingStopsAtTheLimit) {
  // Below, at and above the limit; a body cut there keeps what was decoded.
  const std::string data = Text(20000);
  WriteIn(Gzip(data));
  for (std::int64_t limit : {30000, 20000, 19999, 4096, 100}) {
    SCOPED_TRACE(limit);
    std::int64_t got = -1;
    Md5Digest digest{};
    std::string message;
    bool cut = true;
    ASSERT_EQ(GunzipFile(In(), Out(), got, digest.data(), message, limit, &cut), 0) << message;
    const std::int64_t kept = std::min<std::int64_t>(limit, 20000);
    EXPECT_EQ(got, kept);
    EXPECT_EQ(cut, limit < 20000);
    EXPECT_EQ(Read(Out()), data.substr(0, static_cast<std::size_t>(kept)));
  }
}

}  // namespace
