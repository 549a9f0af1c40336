// MD5 message digest (RFC 1321) and HMAC-MD5 (RFC 2104).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// State of one digest: use Md5Init, any number of Md5Update calls, then one Md5Final.
struct Md5Context {
  std::uint32_t state[4];   // a, b, c, d
  std::uint32_t count[2];   // message length in bits: low word, high word
  std::uint8_t buffer[64];  // bytes of the current block not yet compressed
};

void Md5Init(Md5Context& ctx);

// Appends count bytes to the message; complete blocks are compressed straight from data.
void Md5Update(Md5Context& ctx, const void* data, std::size_t count);

// Pads, writes the 16-byte digest and wipes the whole context.
void Md5Final(std::uint8_t digest[16], Md5Context& ctx);

// Compresses one 64-byte block into the state words.
void Md5Transform(std::uint32_t state[4], const std::uint8_t block[64]);

// HMAC-MD5 with a 64-byte block; a negative length counts as 0.
void HmacMd5(const void* text, int textLength, const void* key, int keyLength, std::uint8_t digest[16]);

// The digest as 32 upper-case hexadecimal digits.
std::string Md5Hex(const std::uint8_t digest[16]);
