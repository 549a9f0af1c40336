// The two-pass compiler: the first pass only measures the program, the second writes it into a
// buffer of exactly that size. Both run the same recursive-descent parser.
#include "algorithms/RegexProgram.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>

namespace {

struct RegexErrorRow {
  std::int32_t code;
  const char* text;
};

constexpr RegexErrorRow RegexErrorTable[] = {
    {1, "NULL argument to regexec"},
    {2, "corrupted regexp"},
    {3, "regexp corruption"},
    {4, "corrupted pointers"},
    {5, "internal error: bad call of regrepeat"},
    {6, "corrupted opcode"},
    {7, "NULL parm to regsub"},
    {8, "damaged regexp fed to regsub"},
    {9, "damaged match string"},
    {10, "NULL argument to regcomp"},
    {11, "regexp too big"},
    {12, "too many ()"},
    {13, "unterminated ()"},
    {14, "unmatched ()"},
    {15, "internal error: junk on end"},
    {16, "*+ operand could be empty"},
    {17, "nested *?+"},
    {18, "invalid [] range"},
    {19, "unmatched []"},
    {20, "internal error: \\0|) unexpected"},
    {21, "?+* follows nothing"},
    {22, "trailing \\"},
    {23, "internal error: strcspn 0"},
    {24, "NULL regexp"},
    {0, "Unknown error"},
};

// Parse flags of a piece.
enum : int {
  HasWidth = 1,          // never matches the empty string
  Simple = 2,            // exactly one character: usable under OpStar / OpPlus
  StartsWithRepeat = 4,  // begins with a repetition: look for a required literal
};

constexpr int kMaxProgramSize = 32767;  // links are signed 16-bit
constexpr int kGroupLimit = 10;         // groups 1..9

bool IsRepeatChar(char c) { return c == '*' || c == '+' || c == '?'; }

class CRegErrorHandler {
 public:
  void SetError(int code) {
    m_errorCode = code;
    m_error = RegexErrorText(code);
  }
  int ErrorCode() const { return m_errorCode; }

 private:
  int m_errorCode = 0;
  std::string m_error;
};

class CRegProgramAccessor : public CRegErrorHandler {
 protected:
  static unsigned char Op(const unsigned char* p) { return p[0]; }
  static unsigned char* Operand(unsigned char* p) { return p + 3; }
  static unsigned char* Next(unsigned char* p) { return const_cast<unsigned char*>(RegexProgram::Next(p)); }
};

class CRegCompilerBase : public CRegProgramAccessor {
 public:
  explicit CRegCompilerBase(const char* pattern) : m_parse(pattern) {}
  virtual ~CRegCompilerBase() = default;

  // Returns the first node, or null after SetError.
  unsigned char* ParseAlternation(bool inGroup, int& flags);

 protected:
  virtual void EmitByte(unsigned char b) = 0;
  virtual unsigned char* EmitNode(unsigned char op) = 0;
  virtual void InsertNode(unsigned char op, unsigned char* operand) = 0;
  virtual void LinkTail(unsigned char* chain, unsigned char* target) = 0;
  virtual void LinkOperandTail(unsigned char* node, unsigned char* target) = 0;

 private:
  unsigned char* ParseBranch(int& flags);
  unsigned char* ParsePiece(int& flags);
  unsigned char* ParseAtom(int& flags);
  unsigned char* ParseSet(int& flags);
  unsigned char* ParseLiteralRun(int& flags);

  const char* m_parse;
  int m_nextGroup = 1;
};

unsigned char* CRegCompilerBase::ParseAlternation(bool inGroup, int& flags) {
  flags = HasWidth;
  unsigned char* ret = nullptr;
  int group = 0;
  if (inGroup) {
    if (m_nextGroup >= kGroupLimit) {
      SetError(12);
      return nullptr;
    }
    group = m_nextGroup++;
    ret = EmitNode(static_cast<unsigned char>(OpGroupOpen + group));
  }

  int branchFlags = 0;
  unsigned char* branch = ParseBranch(branchFlags);
  if (!branch) return nullptr;
  if (ret)
    LinkTail(ret, branch);
  else
    ret = branch;
  if (!(branchFlags & HasWidth)) flags &= ~HasWidth;
  flags |= branchFlags & StartsWithRepeat;
  while (*m_parse == '|') {
    ++m_parse;
    branch = ParseBranch(branchFlags);
    if (!branch) return nullptr;
    LinkTail(ret, branch);
    if (!(branchFlags & HasWidth)) flags &= ~HasWidth;
    flags |= branchFlags & StartsWithRepeat;
  }

  unsigned char* ender =
      EmitNode(inGroup ? static_cast<unsigned char>(OpGroupClose + group) : static_cast<unsigned char>(OpEnd));
  LinkTail(ret, ender);
  for (unsigned char* br = ret; br; br = Next(br)) LinkOperandTail(br, ender);

  if (inGroup) {
    if (*m_parse != ')') {
      SetError(13);
      return nullptr;
    }
    ++m_parse;
  } else if (*m_parse != '\0') {
    SetError(*m_parse == ')' ? 14 : 15);
    return nullptr;
  }
  return ret;
}

unsigned char* CRegCompilerBase::ParseBranch(int& flags) {
  flags = 0;
  unsigned char* ret = EmitNode(OpAlternative);
  unsigned char* chain = nullptr;
  while (*m_parse != '\0' && *m_parse != '|' && *m_parse != ')') {
    int pieceFlags = 0;
    unsigned char* latest = ParsePiece(pieceFlags);
    if (!latest) return nullptr;
    flags |= pieceFlags & HasWidth;
    if (!chain)
      flags |= pieceFlags & StartsWithRepeat;
    else
      LinkTail(chain, latest);
    chain = latest;
  }
  if (!chain) EmitNode(OpEmpty);
  return ret;
}

unsigned char* CRegCompilerBase::ParsePiece(int& flags) {
  int atomFlags = 0;
  unsigned char* ret = ParseAtom(atomFlags);
  if (!ret) return nullptr;
  char op = *m_parse;
  if (!IsRepeatChar(op)) {
    flags = atomFlags;
    return ret;
  }
  if (!(atomFlags & HasWidth) && op != '?') {
    SetError(16);
    return nullptr;
  }
  flags = op == '*' ? StartsWithRepeat : op == '+' ? (HasWidth | StartsWithRepeat) : 0;

  if (op == '*' && (atomFlags & Simple)) {
    InsertNode(OpStar, ret);
  } else if (op == '*') {
    // x* becomes (x&|): & loops back to the alternative.
    InsertNode(OpAlternative, ret);
    LinkOperandTail(ret, EmitNode(OpBackLink));
    LinkOperandTail(ret, ret);
    LinkTail(ret, EmitNode(OpAlternative));
    LinkTail(ret, EmitNode(OpEmpty));
  } else if (op == '+' && (atomFlags & Simple)) {
    InsertNode(OpPlus, ret);
  } else if (op == '+') {
    // x+ becomes x(&|).
    unsigned char* next = EmitNode(OpAlternative);
    LinkTail(ret, next);
    LinkTail(EmitNode(OpBackLink), ret);
    LinkTail(next, EmitNode(OpAlternative));
    LinkTail(ret, EmitNode(OpEmpty));
  } else {
    // x? becomes (x|).
    InsertNode(OpAlternative, ret);
    LinkTail(ret, EmitNode(OpAlternative));
    unsigned char* next = EmitNode(OpEmpty);
    LinkTail(ret, next);
    LinkOperandTail(ret, next);
  }
  ++m_parse;
  if (IsRepeatChar(*m_parse)) {
    SetError(17);
    return nullptr;
  }
  return ret;
}

unsigned char* CRegCompilerBase::ParseAtom(int& flags) {
  flags = 0;
  unsigned char* ret = nullptr;
  switch (*m_parse) {
    case '^': ++m_parse; return EmitNode(OpLineStart);
    case '$': ++m_parse; return EmitNode(OpLineEnd);
    case '.':
      ++m_parse;
      flags |= HasWidth | Simple;
      return EmitNode(OpAnyChar);
    case '[': ++m_parse; return ParseSet(flags);
    case '(': {
      ++m_parse;
      int groupFlags = 0;
      ret = ParseAlternation(true, groupFlags);
      if (!ret) return nullptr;
      flags |= groupFlags & (HasWidth | StartsWithRepeat);
      return ret;
    }
    case '\0':
    case '|':
    case ')': SetError(20); return nullptr;
    case '?':
    case '+':
    case '*': SetError(21); return nullptr;
    case '\\':
      switch (m_parse[1]) {
        case '\0': SetError(22); return nullptr;
        case '<': m_parse += 2; return EmitNode(OpWordStart);
        case '>': m_parse += 2; return EmitNode(OpWordEnd);
        default:
          ++m_parse;  // the run starts at the escaped character
          return ParseLiteralRun(flags);
      }
    default: return ParseLiteralRun(flags);
  }
}

unsigned char* CRegCompilerBase::ParseSet(int& flags) {
  unsigned char* ret;
  if (*m_parse == '^') {
    ++m_parse;
    ret = EmitNode(OpNotInSet);
  } else {
    ret = EmitNode(OpInSet);
  }
  if (*m_parse == ']' || *m_parse == '-') EmitByte(static_cast<unsigned char>(*m_parse++));
  while (*m_parse != '\0' && *m_parse != ']') {
    if (*m_parse != '-') {
      EmitByte(static_cast<unsigned char>(*m_parse++));
      continue;
    }
    ++m_parse;
    if (*m_parse == ']' || *m_parse == '\0') {
      EmitByte('-');
      continue;
    }
    // The bounds check compares signed bytes; the expansion itself runs over unsigned bytes
    // with an int counter, so a range ending at 0xFF terminates.
    auto lowSigned = static_cast<signed char>(m_parse[-2]);
    auto highSigned = static_cast<signed char>(m_parse[0]);
    if (lowSigned > highSigned) {
      SetError(18);
      return nullptr;
    }
    int high = static_cast<unsigned char>(m_parse[0]);
    for (int c = static_cast<unsigned char>(m_parse[-2]) + 1; c <= high; ++c) EmitByte(static_cast<unsigned char>(c));
    ++m_parse;
  }
  EmitByte(0);
  if (*m_parse != ']') {
    SetError(19);
    return nullptr;
  }
  ++m_parse;
  flags |= HasWidth | Simple;
  return ret;
}

unsigned char* CRegCompilerBase::ParseLiteralRun(int& flags) {
  unsigned char* ret = EmitNode(OpLiteral);
  int length = 0;
  auto take = [&] {
    EmitByte(static_cast<unsigned char>(*m_parse++));
    ++length;
  };
  for (;;) {
    char after = m_parse[1];
    if (after == '\0' || after == '\n' || after == '$' || after == '(' || after == ')' || after == '.' ||
        after == '[' || after == '^' || after == '|') {
      take();
      break;
    }
    if (IsRepeatChar(after)) {
      // The postfix belongs to this character alone: it becomes an atom of its own.
      if (length == 0) take();
      break;
    }
    if (after == '\\') {
      take();  // now at the backslash
      char escaped = m_parse[1];
      if (escaped == '\0' || escaped == '<' || escaped == '>') break;
      // An escaped character with a postfix must start the next atom, still escaped.
      if (IsRepeatChar(m_parse[2])) break;
      ++m_parse;  // continue with the escaped character, taken literally
      continue;
    }
    take();
  }
  EmitByte(0);
  flags |= HasWidth;
  if (length == 1) flags |= Simple;
  return ret;
}

// First pass: counts the program's size.
class CRegValidator : public CRegCompilerBase {
 public:
  using CRegCompilerBase::CRegCompilerBase;
  std::size_t Size() const { return m_size; }

 protected:
  void EmitByte(unsigned char) override { m_size += 1; }
  unsigned char* EmitNode(unsigned char) override {
    m_size += 3;
    return m_scratch;
  }
  void InsertNode(unsigned char, unsigned char*) override { m_size += 3; }
  void LinkTail(unsigned char*, unsigned char*) override {}
  void LinkOperandTail(unsigned char*, unsigned char*) override {}

 private:
  std::size_t m_size = 1;  // the magic byte
  unsigned char m_scratch[3] = {OpEmpty, 0, 0};
};

// Second pass: writes the program into a buffer of the measured size.
class CRegCompiler : public CRegCompilerBase {
 public:
  CRegCompiler(const char* pattern, unsigned char* buffer, std::size_t size)
      : CRegCompilerBase(pattern), m_code(buffer), m_limit(buffer + size) {
    EmitByte(kRegexMagic);
  }
  // False when the second pass did not fit the first pass's size (never for a sound parser).
  bool Fits() const { return !m_overflow; }

 protected:
  void EmitByte(unsigned char b) override {
    if (m_code >= m_limit) {
      m_overflow = true;
      return;
    }
    *m_code++ = b;
  }
  unsigned char* EmitNode(unsigned char op) override {
    if (m_limit - m_code < 3) {
      m_overflow = true;
      return m_scratch;
    }
    unsigned char* ret = m_code;
    *m_code++ = op;
    *m_code++ = 0;
    *m_code++ = 0;
    return ret;
  }
  void InsertNode(unsigned char op, unsigned char* operand) override {
    if (m_limit - m_code < 3 || operand == m_scratch) {
      m_overflow = true;
      return;
    }
    std::memmove(operand + 3, operand, static_cast<std::size_t>(m_code - operand));
    m_code += 3;
    operand[0] = op;
    operand[1] = 0;
    operand[2] = 0;
  }
  void LinkTail(unsigned char* chain, unsigned char* target) override {
    if (chain == m_scratch || target == m_scratch) return;
    unsigned char* scan = chain;
    while (unsigned char* next = Next(scan)) scan = next;
    long offset = Op(scan) == OpBackLink ? scan - target : target - scan;
    scan[1] = static_cast<unsigned char>(offset & 0xFF);
    scan[2] = static_cast<unsigned char>((offset >> 8) & 0xFF);
  }
  void LinkOperandTail(unsigned char* node, unsigned char* target) override {
    if (!node || node == m_scratch || Op(node) != OpAlternative) return;
    LinkTail(Operand(node), target);
  }

 private:
  unsigned char* m_code;
  unsigned char* m_limit;
  bool m_overflow = false;
  unsigned char m_scratch[3] = {OpEmpty, 0, 0};
};

// Letters outside sets become the set of both cases, upper first. An escaped letter is a
// plain literal, so it is rewritten the same way (without its backslash); other escapes stay.
std::string RewriteCaseInsensitive(const char* p) {
  auto isAlpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto both = [](std::string& out, char c) {
    char lower = static_cast<char>(c | 0x20);
    out += '[';
    out += static_cast<char>(lower - 'a' + 'A');
    out += lower;
    out += ']';
  };
  std::string out;
  out.reserve(4 * std::strlen(p) + 1);
  while (*p) {
    char c = *p;
    if (c == '[') {
      // Copied as it stands, up to its closing ']' (one right after the opening is literal).
      out += *p++;
      if (*p == '^') out += *p++;
      if (*p == ']') out += *p++;
      while (*p && *p != ']') out += *p++;
      if (*p) out += *p++;
    } else if (c == '\\' && p[1] != '\0') {
      if (isAlpha(p[1])) {
        both(out, p[1]);
      } else {
        out += c;
        out += p[1];
      }
      p += 2;
    } else if (isAlpha(c)) {
      both(out, c);
      ++p;
    } else {
      out += c;
      ++p;
    }
  }
  return out;
}

// Bounded cache of compiled programs, least recently used evicted first.
class ProgramCache {
 public:
  static constexpr std::size_t kCapacity = 128;
  // Longer patterns are compiled each time rather than kept.
  static constexpr std::size_t kMaxKeyLength = 64 * 1024;

  std::shared_ptr<const RegexProgram> Get(const std::string& pattern, bool caseInsensitive) {
    if (pattern.size() > kMaxKeyLength) return RegexProgram::Compile(pattern, caseInsensitive);
    std::string key;
    key.reserve(pattern.size() + 1);
    key += caseInsensitive ? 'i' : 's';
    key += pattern;
    {
      std::lock_guard lock(m_mutex);
      auto it = m_index.find(key);
      if (it != m_index.end()) {
        m_order.splice(m_order.begin(), m_order, it->second);
        return it->second->second;
      }
    }
    // Compiled outside the lock; a racing thread's program wins if it got in first.
    auto program = RegexProgram::Compile(pattern, caseInsensitive);
    std::lock_guard lock(m_mutex);
    auto it = m_index.find(key);
    if (it != m_index.end()) {
      m_order.splice(m_order.begin(), m_order, it->second);
      return it->second->second;
    }
    m_order.emplace_front(key, program);
    m_index.emplace(std::move(key), m_order.begin());
    if (m_order.size() > kCapacity) {
      m_index.erase(m_order.back().first);
      m_order.pop_back();
    }
    return program;
  }

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const RegexProgram>>;
  std::mutex m_mutex;
  std::list<Entry> m_order;
  std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
};

}  // namespace

const char* RegexErrorText(int code) {
  for (const auto& row : RegexErrorTable)
    if (row.code == code) return row.text;
  return RegexErrorTable[std::size(RegexErrorTable) - 1].text;
}

std::shared_ptr<const RegexProgram> RegexProgram::Compile(const std::string& pattern, bool caseInsensitive) {
  std::shared_ptr<RegexProgram> program(new RegexProgram());
  // Patterns are C strings: anything after a NUL is not part of them.
  std::string rewritten;
  const char* text = pattern.c_str();
  if (caseInsensitive) {
    rewritten = RewriteCaseInsensitive(text);
    text = rewritten.c_str();
  }

  auto fail = [&](int code) {
    program->m_errorCode = code;
    program->m_error = RegexErrorText(code);
    program->m_bytes.clear();
    return program;
  };

  CRegValidator validator(text);
  int flags = 0;
  if (!validator.ParseAlternation(false, flags)) return fail(validator.ErrorCode());
  if (validator.Size() >= static_cast<std::size_t>(kMaxProgramSize)) return fail(11);

  program->m_bytes.assign(validator.Size(), 0);
  CRegCompiler compiler(text, program->m_bytes.data(), program->m_bytes.size());
  if (!compiler.ParseAlternation(false, flags)) return fail(compiler.ErrorCode());
  if (!compiler.Fits()) return fail(15);
  program->Analyse(flags);
  program->BuildSets();
  return program;
}

std::shared_ptr<const RegexProgram> RegexProgram::Get(const std::string& pattern, bool caseInsensitive) {
  static ProgramCache cache;
  return cache.Get(pattern, caseInsensitive);
}

std::string_view RegexProgram::RequiredLiteral() const {
  if (m_requiredOffset < 0) return {};
  return {reinterpret_cast<const char*>(m_bytes.data()) + m_requiredOffset, static_cast<std::size_t>(m_requiredLength)};
}

// Start-up hints from a single top-level alternative.
void RegexProgram::Analyse(int flags) {
  const unsigned char* first = m_bytes.data() + 1;
  const unsigned char* next = Next(first);
  if (!next || Op(next) != OpEnd) return;
  const unsigned char* scan = Operand(first);
  if (Op(scan) == OpLiteral)
    m_firstChar = *Operand(scan);
  else if (Op(scan) == OpLineStart)
    m_anchored = true;
  if (!(flags & StartsWithRepeat)) return;
  const unsigned char* longest = nullptr;
  std::size_t length = 0;
  for (; scan; scan = Next(scan)) {
    if (Op(scan) != OpLiteral) continue;
    std::size_t n = std::strlen(reinterpret_cast<const char*>(Operand(scan)));
    if (n >= length) {
      longest = Operand(scan);
      length = n;
    }
  }
  if (longest) {
    m_requiredOffset = static_cast<int>(longest - m_bytes.data());
    m_requiredLength = static_cast<int>(length);
  }
}

// Nodes lie one after another in memory, so one linear walk finds every set operand.
void RegexProgram::BuildSets() {
  std::size_t i = 1;
  while (i + 3 <= m_bytes.size()) {
    unsigned char op = m_bytes[i];
    std::size_t operand = i + 3;
    if (op == OpInSet || op == OpNotInSet || op == OpLiteral) {
      std::size_t end = operand;
      while (end < m_bytes.size() && m_bytes[end] != 0) ++end;
      if (op != OpLiteral) {
        std::array<std::uint64_t, 4> bits{};
        for (std::size_t k = operand; k < end; ++k) bits[m_bytes[k] >> 6] |= std::uint64_t{1} << (m_bytes[k] & 63);
        m_sets.emplace_back(static_cast<int>(i), bits);
      }
      i = end + 1;
    } else {
      i = operand;
    }
  }
}

bool RegexProgram::SetContains(const unsigned char* node, unsigned char c) const {
  int offset = static_cast<int>(node - m_bytes.data());
  auto it = std::lower_bound(m_sets.begin(), m_sets.end(), offset,
                             [](const auto& entry, int value) { return entry.first < value; });
  if (it == m_sets.end() || it->first != offset) return false;
  return (it->second[c >> 6] >> (c & 63)) & 1;
}
