#include "algorithms/Md5.h"
#include "platform/AsciiText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Digest(const void* data, std::size_t size) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, data, size);
  std::uint8_t digest[16];
  Md5Final(digest, ctx);
  return Md5Hex(digest);
}

std::string Digest(const std::string& s) { return Digest(s.data(), s.size()); }

std::string Upper(const std::string& s) { return platform::AsciiUppered(s); }

// Bytes that differ from block to block, so a misplaced block shows in the digest.
std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return v;
}

TEST(Md5, Rfc1321Suite) {
  struct Case {
    const char* text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) EXPECT_EQ(Digest(c.text), Upper(c.digest)) << '"' << c.text << '"';
}

TEST(Md5, PaddingAroundBlockEdges) {
  // 55 bytes leave room for the length in one block, 56 need a second; 64 is a whole block.
  struct Case {
    std::size_t size;
    const char* digest;
  };
  const Case cases[] = {
      {55, "52c0e574e1198de5fe3f8f11440dcb1b"},  {56, "46c9907fc908ee68b1e7b8e71286a518"},
      {63, "a62f6d59e837867693f042f5b8f5a236"},  {64, "7160b8fb5e9e4023d549c3971fbaeead"},
      {65, "70bd662e7aefbda85a0f7244167b7897"},  {119, "e84905d4214f4d1ca56c2cdcc152b143"},
      {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"}, {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
  };
  for (const Case& c : cases) {
    auto bytes = Pattern(c.size);
    EXPECT_EQ(Digest(bytes.data(), bytes.size()), Upper(c.digest)) << c.size << " bytes";
  }
}

TEST(Md5, UpdatesInPiecesMatchOneUpdate) {
  const std::string million(1000000, 'a');
  const std::string expected = Upper("7707d6ae4e027c70eea2a935c2296f21");
  ASSERT_EQ(Digest(million), expected);

  // Piece sizes: single bytes, the worker's and the gunzip's reads, and odd sizes that
  // straddle block edges; 0-byte updates in between change nothing.
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{63}, std::size_t{65}, std::size_t{2048},
                            std::size_t{4096}, std::size_t{99991}}) {
    Md5Context ctx;
    Md5Init(ctx);
    for (std::size_t at = 0; at < million.size(); at += piece) {
      Md5Update(ctx, million.data() + at, std::min(piece, million.size() - at));
      Md5Update(ctx, nullptr, 0);
    }
    std::uint8_t digest[16];
    Md5Final(digest, ctx);
    EXPECT_EQ(Md5Hex(digest), expected) << "pieces of " << piece;
  }
}

TEST(Md5, BitCountCarriesIntoHighWord) {
  Md5Context ctx;
  Md5Init(ctx);
  ctx.count[0] = 0xFFFFFE00u;  // a whole number of blocks, 512 bits short of 2^32
  std::vector<std::uint8_t> bytes(1024, 0x41);
  Md5Update(ctx, bytes.data(), bytes.size());
  EXPECT_EQ(ctx.count[0], 0x1E00u);
  EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Md5, FinalWipesTheContext) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, "some secret bytes", 17);
  std::uint8_t digest[16];
  Md5Final(digest, ctx);
  Md5Context zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);
}

TEST(Md5, HexIsUpperCase) {
  std::uint8_t digest[16];
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(i * 0x11);
  EXPECT_EQ(Md5Hex(digest), "00112233445566778899AABBCCDDEEFF");
}

TEST(HmacMd5, Rfc2202Cases) {
  struct Case {
    std::string key;
    std::string data;
    const char* digest;
  };
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4 += static_cast<char>(i);
  const Case cases[] = {
      {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
      {key4, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
      {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6f630fad67cda0ee1fb1f562db3aa53e"},
  };
  int number = 1;
  for (const Case& c : cases) {
    std::uint8_t digest[16];
    HmacMd5(c.data.data(), static_cast<int>(c.data.size()), c.key.data(), static_cast<int>(c.key.size()), digest);
    EXPECT_EQ(Md5Hex(digest), Upper(c.digest)) << "case " << number++;
  }
}

TEST(HmacMd5, LongKeyEqualsItsDigestAndBlockSizeKeyIsKept) {
  const std::string message = "challenge <1896.697170952@postoffice.example.net>";
  auto hmac = [&](const std::string& key) {
    std::uint8_t digest[16];
    HmacMd5(message.data(), static_cast<int>(message.size()), key.data(), static_cast<int>(key.size()), digest);
    return Md5Hex(digest);
  };

  const std::string key80(80, 'k');
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, key80.data(), key80.size());
  std::uint8_t keyDigest[16];
  Md5Final(keyDigest, ctx);
  EXPECT_EQ(hmac(key80), hmac(std::string(reinterpret_cast<char*>(keyDigest), 16)));

  // A key of exactly 64 bytes is used as it is, not hashed.
  const std::string key64(64, 'k');
  Md5Init(ctx);
  Md5Update(ctx, key64.data(), key64.size());
  Md5Final(keyDigest, ctx);
  EXPECT_NE(hmac(key64), hmac(std::string(reinterpret_cast<char*>(keyDigest), 16)));
  // RFC 2104 with an empty key and an empty message.
  std::uint8_t digest[16];
  HmacMd5("", 0, "", 0, digest);
  EXPECT_EQ(Md5Hex(digest), Upper("74e6f7298a9c2d168935f58c001bad88"));
}

}  // namespace
