#include "algorithms/Base64.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kNotInAlphabet = 0xFE;
constexpr unsigned char kPad = 0xFF;
// Keeps every capacity, and so every length, within an int.
constexpr std::size_t kMaxRequest = 0x7FFFE000;

// Built at compile time: one table for every coder and thread.
constexpr std::array<unsigned char, 256> BuildDecodeTable() {
  std::array<unsigned char, 256> table{};
  for (auto& entry : table) entry = kNotInAlphabet;
  for (int i = 0; i < 64; ++i) {
    auto c = static_cast<unsigned char>(kAlphabet[i]);
    table[c] = static_cast<unsigned char>(i);
    table[c | 0x80] = static_cast<unsigned char>(i);
  }
  table['='] = kPad;
  table['=' | 0x80] = kPad;
  return table;
}
constexpr std::array<unsigned char, 256> kDecodeTable = BuildDecodeTable();

const unsigned char kEmpty[1] = {0};

// Whether p lies inside [buffer, buffer + capacity): such input is copied before the buffer
// it lives in is cleared.
bool Inside(const void* p, const void* buffer, std::size_t capacity) {
  auto* q = static_cast<const unsigned char*>(p);
  auto* b = static_cast<const unsigned char*>(buffer);
  return b && q >= b && q < b + capacity;
}

}  // namespace

CBase64Coder::CBase64Coder() = default;

CBase64Coder::~CBase64Coder() {
  delete[] m_decoded;
  delete[] m_encoded;
}

void CBase64Coder::EncodeString(const char* text) {
  if (text) Encode(text, std::strlen(text));
}

void CBase64Coder::DecodeString(const char* text) {
  if (text) Decode(text, std::strlen(text));
}

const unsigned char* CBase64Coder::DecodedData() const { return m_decoded ? m_decoded : kEmpty; }

const char* CBase64Coder::EncodedText() const { return m_encoded ? m_encoded : reinterpret_cast<const char*>(kEmpty); }

int CBase64Coder::DecodedLength() const { return static_cast<int>(m_decodedLength); }

int CBase64Coder::EncodedLength() const { return static_cast<int>(m_encodedLength); }

// A capacity equal to the request is grown too, so there is always room for the final NUL
// (and an empty result still has a buffer).
void CBase64Coder::ReserveEncoded(std::size_t count) {
  if (count > kMaxRequest) throw std::bad_alloc();
  if (m_encodedCapacity <= count) {
    std::size_t capacity = (count / 4096 + 1) * 4096;
    char* buffer = new char[capacity];
    delete[] m_encoded;
    m_encoded = buffer;
    m_encodedCapacity = capacity;
  }
  std::memset(m_encoded, 0, m_encodedCapacity);
  m_encodedLength = 0;
}

void CBase64Coder::ReserveDecoded(std::size_t count) {
  if (count > kMaxRequest) throw std::bad_alloc();
  if (m_decodedCapacity <= count) {
    std::size_t capacity = (count / 4096 + 1) * 4096;
    auto* buffer = new unsigned char[capacity];
    delete[] m_decoded;
    m_decoded = buffer;
    m_decodedCapacity = capacity;
  }
  std::memset(m_decoded, 0, m_decodedCapacity);
  m_decodedLength = 0;
}

void CBase64Coder::SetEncodedInput(const char* text, std::size_t count) {
  if (!text) count = 0;
  std::vector<char> copy;
  if (count && Inside(text, m_encoded, m_encodedCapacity)) {
    copy.assign(text, text + count);
    text = copy.data();
  }
  ReserveEncoded(count);
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (!IsSkippedChar(text[i])) m_encoded[length++] = text[i];
  m_encodedLength = length;
}

void CBase64Coder::SetDecodedInput(const void* bytes, std::size_t count) {
  if (!bytes) count = 0;
  std::vector<unsigned char> copy;
  if (count && Inside(bytes, m_decoded, m_decodedCapacity)) {
    auto* p = static_cast<const unsigned char*>(bytes);
    copy.assign(p, p + count);
    bytes = copy.data();
  }
  ReserveDecoded(count);
  if (count) std::memcpy(m_decoded, bytes, count);
  m_decodedLength = count;
}

void CBase64Coder::Encode(const void* bytes, std::size_t count) {
  if (count > kMaxRequest / 2) throw std::bad_alloc();
  SetDecodedInput(bytes, count);
  count = m_decodedLength;
  ReserveEncoded(2 * count);
  char* out = m_encoded;
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    Group group{{m_decoded[i], m_decoded[i + 1], m_decoded[i + 2]}, 3};
    EncodeGroup(group, out);
    out += 4;
  }
  if (i < count) {
    Group group{{m_decoded[i], 0, 0}, static_cast<int>(count - i)};
    if (count - i == 2) group.bytes[1] = m_decoded[i + 1];
    EncodeGroup(group, out);
    out += 4;
  }
  m_encodedLength = static_cast<std::size_t>(out - m_encoded);
}

void CBase64Coder::Decode(const char* text, std::size_t count) {
  SetEncodedInput(text, count);
  ReserveDecoded(count);
  const std::size_t length = m_encodedLength;
  const auto* in = reinterpret_cast<const unsigned char*>(m_encoded);
  unsigned char* out = m_decoded;
  std::size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    unsigned char values[4];
    for (int k = 0; k < 4; ++k) values[k] = kDecodeTable[in[i + k]];
    if (values[2] == kPad) values[2] = 0;
    if (values[3] == kPad) values[3] = 0;
    DecodeGroup(values, out);
    out += 3;
  }
  const std::size_t tail = length - i;
  if (tail) {
    unsigned char values[4] = {0, 0, 0, 0};
    for (std::size_t k = 0; k < tail; ++k) {
      unsigned char v = kDecodeTable[in[i + k]];
      values[k] = v == kPad ? 0 : v;
    }
    DecodeGroup(values, out);
    out += 3;
  }

  // Three bytes per group of four, less one per '=' of the last group (or of the tail, which
  // gives one byte for two characters and two for three), never below zero.
  std::size_t groups = length / 4;
  std::size_t decoded = 0;
  if (tail) {
    std::size_t pads = 0;
    for (std::size_t k = 0; k < tail; ++k) pads += kDecodeTable[in[i + k]] == kPad;
    std::size_t tailBytes = tail - 1;  // 1 -> 0, 2 -> 1, 3 -> 2
    decoded = 3 * groups + (tailBytes > pads ? tailBytes - pads : 0);
  } else if (groups) {
    std::size_t pads = 0;
    for (std::size_t k = length - 4; k < length; ++k) pads += kDecodeTable[in[k]] == kPad;
    decoded = 3 * groups > pads ? 3 * groups - pads : 0;
  }
  // Bytes written past the counted length (padding bits) are cleared: the result stays
  // NUL-terminated.
  std::memset(m_decoded + decoded, 0, static_cast<std::size_t>(out - m_decoded) - decoded);
  m_decodedLength = decoded;
}

void CBase64Coder::EncodeGroup(const Group& group, char* out) {
  unsigned char values[4];
  SplitGroup(group.bytes, values);
  for (int k = 0; k < 4; ++k) out[k] = kAlphabet[values[k]];
  if (group.count == 1) out[2] = out[3] = '=';
  if (group.count == 2) out[3] = '=';
}

void CBase64Coder::DecodeGroup(const unsigned char values[4], unsigned char* out) { JoinGroup(values, out); }

void CBase64Coder::SplitGroup(const unsigned char bytes[3], unsigned char values[4]) {
  values[0] = static_cast<unsigned char>(bytes[0] >> 2);
  values[1] = static_cast<unsigned char>(((bytes[0] & 3) << 4) | (bytes[1] >> 4));
  values[2] = static_cast<unsigned char>(((bytes[1] & 15) << 2) | (bytes[2] >> 6));
  values[3] = static_cast<unsigned char>(bytes[2] & 63);
}

void CBase64Coder::JoinGroup(const unsigned char values[4], unsigned char bytes[3]) {
  bytes[0] = static_cast<unsigned char>((values[0] << 2) | ((values[1] >> 4) & 3));
  bytes[1] = static_cast<unsigned char>((values[1] << 4) | ((values[2] >> 2) & 15));
  bytes[2] = static_cast<unsigned char>((values[2] << 6) | (values[3] & 63));
}

bool CBase64Coder::IsSkippedChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 7 && u <= 13) || u == ' ';
}
