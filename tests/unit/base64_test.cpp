#include "algorithms/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Encoded(CBase64Coder& coder) {
  return std::string(coder.EncodedText(), static_cast<std::size_t>(coder.EncodedLength()));
}

std::string Decoded(CBase64Coder& coder) {
  return std::string(reinterpret_cast<const char*>(coder.DecodedData()),
                     static_cast<std::size_t>(coder.DecodedLength()));
}

// Both results end in NUL right after their contents.
void ExpectTerminated(CBase64Coder& coder) {
  EXPECT_EQ(coder.EncodedText()[coder.EncodedLength()], '\0');
  EXPECT_EQ(coder.DecodedData()[coder.DecodedLength()], 0);
}

TEST(Base64, Rfc4648Vectors) {
  struct Case {
    const char* plain;
    const char* encoded;
  };
  const Case cases[] = {{"", ""},
                        {"f", "Zg=="},
                        {"fo", "Zm8="},
                        {"foo", "Zm9v"},
                        {"foob", "Zm9vYg=="},
                        {"fooba", "Zm9vYmE="},
                        {"foobar", "Zm9vYmFy"}};
  CBase64Coder coder;  // reused, as its users do
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plain);
    coder.EncodeString(c.plain);
    EXPECT_EQ(Encoded(coder), c.encoded);
    EXPECT_STREQ(coder.EncodedText(), c.encoded);
    ExpectTerminated(coder);
    coder.DecodeString(c.encoded);
    EXPECT_EQ(Decoded(coder), c.plain);
    ExpectTerminated(coder);
  }
}

TEST(Base64, DecodeLengthsAndTails) {
  struct Case {
    std::string text;
    std::string plain;
  };
  const Case cases[] = {
      {"Zm9vYg", "foob"},    // unpadded: six characters give four bytes
      {"Zm9vYmE", "fooba"},  // seven give five
      {"Zm9vY", "foo"},      // a lone last character gives nothing
      {"Zm9vYg=", "foob"},   // a tail with a pad counts one byte less
      {"====", ""},          // never below zero
      {"Zm9vYmFyAA==", std::string("foobar\0", 7)},
      {"QR==", "A"},  // stray low bits of a padded group are not kept
      {"QR", "A"},
      {"", ""},
  };
  CBase64Coder coder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    coder.DecodeString(c.text.c_str());
    EXPECT_EQ(Decoded(coder), c.plain);
    ExpectTerminated(coder);
  }
}

TEST(Base64, SkippedCharactersAndOtherInput) {
  CBase64Coder coder;
  const char* spaced[] = {"Zm9v\r\nYmFy", "Zm9v\r\nYmFy\r\n", " Z m\t9 v\vY\fm F\ay\b", "Zm9vYmFy"};
  for (const char* text : spaced) {
    coder.DecodeString(text);
    EXPECT_EQ(Decoded(coder), "foobar") << text;
    EXPECT_EQ(Encoded(coder), "Zm9vYmFy");  // the input without its skipped characters
  }
  // Alphabet characters with the top bit set decode like the plain ones.
  std::string high = "Zm9v";
  for (char& ch : high) ch = static_cast<char>(ch | 0x80);
  coder.DecodeString(high.c_str());
  EXPECT_EQ(Decoded(coder), "foo");
  // Characters outside the alphabet give some bytes, without an error.
  coder.DecodeString("@@@@!*");
  EXPECT_EQ(coder.DecodedLength(), 4);
  ExpectTerminated(coder);
  // A null text leaves the coder as it was.
  coder.EncodeString("foo");
  coder.EncodeString(nullptr);
  coder.DecodeString(nullptr);
  EXPECT_EQ(Encoded(coder), "Zm9v");
}

TEST(Base64, RoundTripsAndLargeInput) {
  CBase64Coder coder;
  for (std::size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 255u, 256u, 257u, 3071u, 4095u, 4096u, 4097u, 100000u}) {
    SCOPED_TRACE(n);
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + (i >> 8));
    coder.Encode(bytes.data(), n);
    ASSERT_EQ(coder.EncodedLength(), static_cast<int>(4 * ((n + 2) / 3)));
    ExpectTerminated(coder);
    std::string text = Encoded(coder);
    EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    CBase64Coder decoder;
    decoder.Decode(text.data(), text.size());
    ASSERT_EQ(decoder.DecodedLength(), static_cast<int>(n));
    if (n) {
      EXPECT_EQ(std::memcmp(decoder.DecodedData(), bytes.data(), n), 0);
    }
    ExpectTerminated(decoder);
  }

  // Exactly 4096 encoded characters (3072 bytes) and a 4096-byte input stay terminated.
  std::string text4096(4096, 'A');
  coder.Decode(text4096.data(), text4096.size());
  EXPECT_EQ(coder.DecodedLength(), 3072);
  ExpectTerminated(coder);
  std::vector<unsigned char> ones(4096, 0xFF);
  coder.Encode(ones.data(), ones.size());
  EXPECT_EQ(coder.EncodedLength(), 5464);
  EXPECT_EQ(coder.DecodedLength(), 4096);
  ExpectTerminated(coder);
}

TEST(Base64, BuffersAreReusedAndCleared) {
  CBase64Coder coder;
  EXPECT_STREQ(coder.EncodedText(), "");
  EXPECT_EQ(coder.EncodedLength(), 0);
  EXPECT_EQ(coder.DecodedLength(), 0);

  std::vector<unsigned char> big(30000, 'x');
  coder.Encode(big.data(), big.size());
  const char* buffer = coder.EncodedText();
  coder.EncodeString("foo");
  EXPECT_EQ(coder.EncodedText(), buffer);           // a large buffer is kept for smaller results
  EXPECT_EQ(std::strlen(coder.EncodedText()), 4u);  // and nothing of the old text remains
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(coder.DecodedData())), 3u);

  // Input taken from the coder's own buffers.
  coder.EncodeString("foobar");
  coder.Decode(coder.EncodedText(), static_cast<std::size_t>(coder.EncodedLength()));
  EXPECT_EQ(Decoded(coder), "foobar");
  coder.Encode(coder.DecodedData(), static_cast<std::size_t>(coder.DecodedLength()));
  EXPECT_EQ(Encoded(coder), "Zm9vYmFy");
  coder.SetEncodedInput(coder.EncodedText() + 4, 4);
  EXPECT_EQ(Encoded(coder), "YmFy");
}

}  // namespace
