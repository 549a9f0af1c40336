// Compiled form of a regular expression: a compact byte program that the matcher walks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Byte 0 of every program.
inline constexpr unsigned char kRegexMagic = 156;

// A node is one opcode byte followed by a signed 16-bit little-endian link to the next node
// (0 = none; OpBackLink counts backwards). Set and literal operands follow the node as
// NUL-terminated bytes; the operand of OpAlternative, OpStar and OpPlus is the next node in memory.
enum RegexOpcode : unsigned char {
  OpEnd = 0,
  OpLineStart = 1,
  OpLineEnd = 2,
  OpAnyChar = 3,
  OpInSet = 4,
  OpNotInSet = 5,
  OpAlternative = 6,
  OpBackLink = 7,
  OpLiteral = 8,
  OpEmpty = 9,
  OpStar = 10,
  OpPlus = 11,
  OpWordStart = 12,
  OpWordEnd = 13,
  OpGroupOpen = 20,   // + group number 1..9
  OpGroupClose = 30,  // + group number 1..9
};

// The text of an error code; unknown codes give "Unknown error".
const char* RegexErrorText(int code);

// Immutable once built, so one program is shared by every Regex built from the same pattern.
class RegexProgram {
 public:
  // Compiles the pattern (no cache).
  static std::shared_ptr<const RegexProgram> Compile(const std::string& pattern, bool caseInsensitive);
  // The program for (pattern, flag) from a bounded, thread-safe, process-wide cache.
  static std::shared_ptr<const RegexProgram> Get(const std::string& pattern, bool caseInsensitive);

  bool Compiled() const { return m_errorCode == 0; }
  int ErrorCode() const { return m_errorCode; }
  const std::string& ErrorText() const { return m_error; }

  // Empty when the pattern did not compile.
  const std::vector<unsigned char>& Bytes() const { return m_bytes; }
  unsigned char FirstChar() const { return m_firstChar; }
  bool Anchored() const { return m_anchored; }
  std::string_view RequiredLiteral() const;

  // Membership of c in the operand of the OpInSet / OpNotInSet node at `node`.
  bool SetContains(const unsigned char* node, unsigned char c) const;

  // Walking the node chain.
  static unsigned char Op(const unsigned char* node) { return node[0]; }
  static const unsigned char* Operand(const unsigned char* node) { return node + 3; }
  static const unsigned char* Next(const unsigned char* node) {
    auto link = static_cast<std::int16_t>(node[1] | (node[2] << 8));
    if (link == 0) return nullptr;
    return node[0] == OpBackLink ? node - link : node + link;
  }

 private:
  RegexProgram() = default;
  void Analyse(int flags);
  void BuildSets();

  int m_errorCode = 0;
  std::string m_error;
  std::vector<unsigned char> m_bytes;
  unsigned char m_firstChar = 0;
  bool m_anchored = false;
  int m_requiredOffset = -1;  // into m_bytes
  int m_requiredLength = 0;
  // Bitmaps of the set operands, by node offset (sorted), so membership is one lookup.
  std::vector<std::pair<int, std::array<std::uint64_t, 4>>> m_sets;
};
