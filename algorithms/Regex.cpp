// The matcher and the Regex interface object.
//
// The matcher backtracks over an explicit stack instead of recursing, so a long subject cannot
// exhaust the thread's stack; the stack and the work of one Match are bounded, and a Match that
// reaches either bound gives no match.
#include "algorithms/Regex.h"

#include <cstring>
#include <vector>

namespace {

bool IsWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

class RegexExecutor {
 public:
  static constexpr int kGroups = 10;

  RegexExecutor(const RegexProgram& program, const char* subject)
      : m_program(program), m_bol(subject), m_end(subject ? subject + std::strlen(subject) : nullptr) {}

  // Tries positions from the left; the first successful try is the match.
  bool Exec();
  int ErrorCode() const { return m_errorCode; }
  bool LimitExceeded() const { return m_exceeded; }

  const char* start[kGroups] = {};
  const char* end[kGroups] = {};

 private:
  struct Choice {
    const unsigned char* node;  // next alternative, or the OpStar / OpPlus node
    const char* pos;            // input when the choice was made
    std::ptrdiff_t count;       // repetition count tried last
    std::uint32_t trail;        // trail height when the choice was made
    unsigned char min;
    unsigned char nextChar;
    bool repeat;
  };
  struct TrailEntry {
    int slot;
    const char* old;
  };

  using P = RegexProgram;
  void SetError(int code) { m_errorCode = code; }
  bool Try(const char* at);
  bool MatchNode(const unsigned char* scan);
  bool Backtrack(const unsigned char*& scan, const char*& in);
  bool Room() {
    if (m_choices.size() + m_trail.size() < static_cast<std::size_t>(Regex::kMaxDepth)) return true;
    m_exceeded = true;
    return false;
  }
  bool Spend(long steps) {
    m_steps += steps;
    if (m_steps <= Regex::kStepBudget) return true;
    m_exceeded = true;
    return false;
  }
  std::ptrdiff_t Repeat(const unsigned char* node, const char* at);
  // The largest count in [min, count] whose following character can start the next literal.
  static std::ptrdiff_t FitCount(const char* base, std::ptrdiff_t count, int min, unsigned char nextChar);

  const RegexProgram& m_program;
  const char* m_bol;
  const char* m_end;
  const char* m_input = nullptr;
  int m_errorCode = 0;
  bool m_exceeded = false;
  long m_steps = 0;
  // Last position of each group's open (0-9) and close (10-19) node on the current path:
  // of a repeated group the last repetition counts.
  const char* m_captures[2 * kGroups] = {};
  std::vector<Choice> m_choices;
  std::vector<TrailEntry> m_trail;
};

bool RegexExecutor::Exec() {
  if (!m_bol) {
    SetError(1);
    return false;
  }
  const auto& bytes = m_program.Bytes();
  if (bytes.empty() || bytes[0] != kRegexMagic) {
    SetError(2);
    return false;
  }
  std::size_t length = static_cast<std::size_t>(m_end - m_bol);
  std::string_view must = m_program.RequiredLiteral();
  if (!must.empty() && !memmem(m_bol, length, must.data(), must.size())) return false;

  if (m_program.Anchored()) return Try(m_bol);
  if (unsigned char first = m_program.FirstChar()) {
    const char* s = m_bol;
    while ((s = static_cast<const char*>(std::memchr(s, first, m_end - s)))) {
      if (Try(s)) return true;
      if (m_exceeded) return false;
      ++s;
    }
    return false;
  }
  for (const char* s = m_bol;; ++s) {  // up to and including the terminating NUL
    if (Try(s)) return true;
    if (m_exceeded || s == m_end) return false;
  }
}

bool RegexExecutor::Try(const char* at) {
  for (auto& c : m_captures) c = nullptr;
  m_input = at;
  if (!MatchNode(m_program.Bytes().data() + 1)) return false;
  start[0] = at;
  end[0] = m_input;
  for (int n = 1; n < kGroups; ++n) {
    start[n] = m_captures[n];
    end[n] = m_captures[kGroups + n];
  }
  return true;
}

std::ptrdiff_t RegexExecutor::Repeat(const unsigned char* node, const char* at) {
  const char* scan = at;
  switch (P::Op(node)) {
    case OpAnyChar: return m_end - at;
    case OpLiteral: {
      char c = static_cast<char>(*P::Operand(node));
      while (*scan == c) ++scan;
      break;
    }
    case OpInSet:
      while (*scan && m_program.SetContains(node, static_cast<unsigned char>(*scan))) ++scan;
      break;
    case OpNotInSet:
      while (*scan && !m_program.SetContains(node, static_cast<unsigned char>(*scan))) ++scan;
      break;
    default: SetError(5); return 0;
  }
  return scan - at;
}

std::ptrdiff_t RegexExecutor::FitCount(const char* base, std::ptrdiff_t count, int min, unsigned char nextChar) {
  if (count < min) return -1;
  if (!nextChar) return count;
  const void* hit = memrchr(base + min, nextChar, static_cast<std::size_t>(count - min + 1));
  return hit ? static_cast<const char*>(hit) - base : -1;
}

bool RegexExecutor::MatchNode(const unsigned char* scan) {
  m_choices.clear();
  m_trail.clear();
  const char* in = m_input;
  for (;;) {
    bool ok = true;
    const unsigned char* next = nullptr;
    if (!scan) {
      SetError(4);
      ok = false;
    } else {
      if (!Spend(1)) return false;
      next = P::Next(scan);
      unsigned char op = P::Op(scan);
      auto c = static_cast<unsigned char>(*in);
      switch (op) {
        case OpEnd: m_input = in; return true;
        case OpLineStart: ok = in == m_bol; break;
        case OpLineEnd: ok = c == 0; break;
        case OpWordStart: ok = IsWordChar(c) && !(in > m_bol && IsWordChar(static_cast<unsigned char>(in[-1]))); break;
        case OpWordEnd: ok = !IsWordChar(c); break;
        case OpAnyChar:
          ok = c != 0;
          if (ok) ++in;
          break;
        case OpLiteral: {
          const char* literal = reinterpret_cast<const char*>(P::Operand(scan));
          if (*literal != *in) {
            ok = false;
            break;
          }
          std::size_t n = std::strlen(literal);
          if (n > 1) {
            if (static_cast<std::size_t>(m_end - in) < n || std::memcmp(literal, in, n) != 0) {
              ok = false;
              break;
            }
            if (!Spend(static_cast<long>(n >> 5))) return false;
          }
          in += n;
          break;
        }
        case OpInSet:
          ok = c != 0 && m_program.SetContains(scan, c);
          if (ok) ++in;
          break;
        case OpNotInSet:
          ok = c != 0 && !m_program.SetContains(scan, c);
          if (ok) ++in;
          break;
        case OpEmpty:
        case OpBackLink: break;
        case OpAlternative:
          if (next && P::Op(next) == OpAlternative) {
            if (!Room()) return false;
            m_choices.push_back({next, in, 0, static_cast<std::uint32_t>(m_trail.size()), 0, 0, false});
          }
          next = P::Operand(scan);
          break;
        case OpStar:
        case OpPlus: {
          const unsigned char* operand = P::Operand(scan);
          unsigned char nextChar = next && P::Op(next) == OpLiteral ? *P::Operand(next) : 0;
          int min = op == OpStar ? 0 : 1;
          std::ptrdiff_t count = Repeat(operand, in);
          if (P::Op(operand) != OpAnyChar && !Spend(static_cast<long>(count))) return false;
          std::ptrdiff_t fit = FitCount(in, count, min, nextChar);
          if (fit < 0) {
            ok = false;
            break;
          }
          if (fit > min) {
            if (!Room()) return false;
            m_choices.push_back({scan, in, fit, static_cast<std::uint32_t>(m_trail.size()),
                                 static_cast<unsigned char>(min), nextChar, true});
          }
          in += fit;
          break;
        }
        default:
          if (op > OpGroupOpen && op < OpGroupOpen + kGroups) {
            if (!m_choices.empty()) {
              if (!Room()) return false;
              m_trail.push_back({op - OpGroupOpen, m_captures[op - OpGroupOpen]});
            }
            m_captures[op - OpGroupOpen] = in;
          } else if (op > OpGroupClose && op < OpGroupClose + kGroups) {
            int slot = kGroups + op - OpGroupClose;
            if (!m_choices.empty()) {
              if (!Room()) return false;
              m_trail.push_back({slot, m_captures[slot]});
            }
            m_captures[slot] = in;
          } else {
            SetError(3);
            ok = false;
          }
          break;
      }
    }
    if (ok) {
      scan = next;
    } else if (!Backtrack(scan, in)) {
      return false;
    }
  }
}

// Resumes the latest choice with its next alternative or its next smaller count.
bool RegexExecutor::Backtrack(const unsigned char*& scan, const char*& in) {
  while (!m_choices.empty()) {
    Choice& choice = m_choices.back();
    while (m_trail.size() > choice.trail) {
      m_captures[m_trail.back().slot] = m_trail.back().old;
      m_trail.pop_back();
    }
    if (!choice.repeat) {
      const unsigned char* branch = choice.node;
      in = choice.pos;
      const unsigned char* following = P::Next(branch);
      if (following && P::Op(following) == OpAlternative)
        choice.node = following;
      else
        m_choices.pop_back();
      scan = P::Operand(branch);
      return true;
    }
    std::ptrdiff_t fit = FitCount(choice.pos, choice.count - 1, choice.min, choice.nextChar);
    if (fit < 0) {
      m_choices.pop_back();
      continue;
    }
    in = choice.pos + fit;
    scan = P::Next(choice.node);
    if (fit == choice.min)
      m_choices.pop_back();
    else
      choice.count = fit;
    return true;
  }
  return false;
}

}  // namespace

Regex::Regex(const std::string& pattern, bool caseInsensitive)
    : m_program(RegexProgram::Get(pattern, caseInsensitive)) {
  if (!m_program->Compiled()) m_error = m_program->ErrorText();
}

bool Regex::HasProgram() const { return m_program && m_program->Compiled(); }

bool Regex::TookPart(int n) const { return n >= 0 && n < kGroups && m_start[n] && m_end[n] && m_start[n] <= m_end[n]; }

bool Regex::Match(const std::string& subject) {
  ClearErrors();
  m_limitExceeded = false;
  m_subject = subject.c_str();
  for (int n = 0; n < kGroups; ++n) m_start[n] = m_end[n] = nullptr;
  m_groupCount = -1;
  if (!HasProgram()) {
    SetError(24);
    return false;
  }
  RegexExecutor executor(*m_program, m_subject);
  bool matched = executor.Exec();
  if (executor.ErrorCode()) SetError(executor.ErrorCode());
  m_limitExceeded = executor.LimitExceeded();
  if (!matched) return false;
  int set = 0;
  for (int n = 0; n < kGroups; ++n) {
    m_start[n] = executor.start[n];
    m_end[n] = executor.end[n];
  }
  while (set < kGroups && m_start[set]) ++set;
  m_groupCount = set - 1;
  return true;
}

int Regex::GroupCount() const {
  ClearErrors();
  if (!HasProgram()) {
    SetError(24);
    return -1;
  }
  return m_groupCount;
}

int Regex::GroupLength(int n) const {
  ClearErrors();
  if (!TookPart(n)) return 0;
  return static_cast<int>(m_end[n] - m_start[n]);
}

std::string Regex::Group(int n) const {
  ClearErrors();
  if (!HasProgram()) {
    SetError(24);
    return {};
  }
  if (!TookPart(n)) return {};
  std::size_t length = static_cast<std::size_t>(m_end[n] - m_start[n]);
  return std::string(m_start[n], strnlen(m_start[n], length));
}

std::string Regex::Substitute(const std::string& templ) {
  ClearErrors();
  if (!HasProgram()) {
    SetError(24);
    return {};
  }
  if (m_program->Bytes()[0] != kRegexMagic) {
    SetError(8);
    return {};
  }
  std::string out;
  out.reserve(templ.size());
  const char* src = templ.c_str();  // the template ends at its first NUL
  while (char c = *src++) {
    int no = -1;
    if (c == '&')
      no = 0;
    else if (c == '\\' && *src >= '0' && *src <= '9')
      no = *src++ - '0';
    if (no < 0) {
      if (c == '\\' && (*src == '\\' || *src == '&')) c = *src++;
      out += c;
      continue;
    }
    if (!m_start[no] || !m_end[no] || m_start[no] >= m_end[no]) continue;
    std::size_t length = static_cast<std::size_t>(m_end[no] - m_start[no]);
    if (std::memchr(m_start[no], 0, length)) {
      SetError(9);
      return {};
    }
    out.append(m_start[no], length);
  }
  return out;
}

const std::string& Regex::ErrorText() const { return m_error; }
