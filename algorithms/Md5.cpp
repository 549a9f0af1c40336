#include "algorithms/Md5.h"

#include <string.h>  // explicit_bzero
#include <cstring>

namespace {

constexpr std::uint8_t kPadding[64] = {0x80};

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (~x & z); }
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & z) | (y & ~z); }
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

#define MD5_STEP(f, a, b, c, d, x, s, ac) \
  (a) += f((b), (c), (d)) + (x) + (ac);   \
  (a) = Rotl((a), (s)) + (b)

inline void Store32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

void Md5Init(Md5Context& ctx) {
  ctx.state[0] = 0x67452301;
  ctx.state[1] = 0xefcdab89;
  ctx.state[2] = 0x98badcfe;
  ctx.state[3] = 0x10325476;
  ctx.count[0] = ctx.count[1] = 0;
}

void Md5Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    const std::uint8_t* p = block + 4 * i;
    x[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
  MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
  MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
  MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
  MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
  MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
  MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
  MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
  MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
  MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
  MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
  MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
  MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
  MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
  MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
  MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

  MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
  MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
  MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
  MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
  MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
  MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
  MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
  MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
  MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
  MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
  MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
  MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
  MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
  MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
  MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
  MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

  MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
  MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
  MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
  MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
  MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
  MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
  MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
  MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
  MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
  MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
  MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
  MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
  MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
  MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
  MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
  MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

  MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
  MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
  MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
  MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
  MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
  MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
  MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
  MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
  MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
  MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
  MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
  MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
  MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
  MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
  MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
  MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef MD5_STEP

void Md5Update(Md5Context& ctx, const void* data, std::size_t count) {
  if (count == 0) return;
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t used = (ctx.count[0] >> 3) & 0x3f;

  // The length is kept modulo 2^64 bits, as RFC 1321 appends it.
  std::uint64_t bits = (std::uint64_t(ctx.count[1]) << 32 | ctx.count[0]) + std::uint64_t(count) * 8;
  ctx.count[0] = static_cast<std::uint32_t>(bits);
  ctx.count[1] = static_cast<std::uint32_t>(bits >> 32);

  std::size_t free = 64 - used;
  if (count < free) {
    std::memcpy(ctx.buffer + used, in, count);
    return;
  }
  if (used != 0) {
    std::memcpy(ctx.buffer + used, in, free);
    Md5Transform(ctx.state, ctx.buffer);
    in += free;
    count -= free;
  }
  for (; count >= 64; in += 64, count -= 64) Md5Transform(ctx.state, in);
  std::memcpy(ctx.buffer, in, count);
}

void Md5Final(std::uint8_t digest[16], Md5Context& ctx) {
  std::uint8_t length[8];
  Store32(length, ctx.count[0]);
  Store32(length + 4, ctx.count[1]);

  std::size_t used = (ctx.count[0] >> 3) & 0x3f;
  std::size_t padLength = used < 56 ? 56 - used : 120 - used;
  Md5Update(ctx, kPadding, padLength);
  Md5Update(ctx, length, 8);

  for (int i = 0; i < 4; ++i) Store32(digest + 4 * i, ctx.state[i]);
  explicit_bzero(&ctx, sizeof ctx);
}

void HmacMd5(const void* text, int textLength, const void* key, int keyLength, std::uint8_t digest[16]) {
  if (textLength < 0) textLength = 0;
  if (keyLength < 0) keyLength = 0;

  std::uint8_t keyDigest[16];
  if (keyLength > 64) {
    Md5Context ctx;
    Md5Init(ctx);
    Md5Update(ctx, key, static_cast<std::size_t>(keyLength));
    Md5Final(keyDigest, ctx);
    key = keyDigest;
    keyLength = 16;
  }

  std::uint8_t innerPad[64] = {};
  std::uint8_t outerPad[64] = {};
  if (keyLength > 0) {
    std::memcpy(innerPad, key, static_cast<std::size_t>(keyLength));
    std::memcpy(outerPad, key, static_cast<std::size_t>(keyLength));
  }
  for (int i = 0; i < 64; ++i) {
    innerPad[i] ^= 0x36;
    outerPad[i] ^= 0x5c;
  }

  std::uint8_t inner[16];
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, innerPad, 64);
  if (textLength > 0) Md5Update(ctx, text, static_cast<std::size_t>(textLength));
  Md5Final(inner, ctx);

  Md5Init(ctx);
  Md5Update(ctx, outerPad, 64);
  Md5Update(ctx, inner, 16);
  Md5Final(digest, ctx);
}

std::string Md5Hex(const std::uint8_t digest[16]) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0x0f];
  }
  return text;
}
