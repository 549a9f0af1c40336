// A small backtracking regular-expression engine over 8-bit strings.
//
// Dialect: ^ $ . [set] [^set] (groups 1-9) | * + ? \< \> and \c for a literal c.
// '^' and '$' match only at the subject's ends. Compile errors are not reported: a pattern
// that does not compile matches nothing.
#pragma once

#include <memory>
#include <string>

#include "algorithms/RegexProgram.h"

class Regex {
 public:
  // Takes the compiled program from the process-wide cache, so building a Regex for every
  // use costs one lookup. After a failed compile ErrorText() holds the compiler's text.
  explicit Regex(const std::string& pattern, bool caseInsensitive = false);
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  // The leftmost match. Gives up (false) beyond a bound on backtracking depth and steps.
  bool Match(const std::string& subject);  // subject must outlive the queries
  // Groups of the last match, from 1 on, up to the first that did not take part; -1 after
  // a failed match.
  int GroupCount() const;
  int GroupLength(int n) const;
  std::string Group(int n) const;
  // & is the whole match, \0 to \9 a group, \\ and \& the character itself.
  std::string Substitute(const std::string& templ);
  const std::string& ErrorText() const;  // last error, for tests

  // Whether the last Match gave up on its depth or step bound.
  bool LimitExceeded() const { return m_limitExceeded; }
  const std::shared_ptr<const RegexProgram>& Program() const { return m_program; }

  // Bounds of one Match.
  static constexpr int kMaxDepth = 100000;       // saved backtracking states
  static constexpr long kStepBudget = 10000000;  // nodes visited and repetition counts tried

 private:
  static constexpr int kGroups = 10;
  bool HasProgram() const;
  void ClearErrors() const { m_error.clear(); }
  void SetError(int code) const { m_error = RegexErrorText(code); }
  bool TookPart(int n) const;

  std::shared_ptr<const RegexProgram> m_program;
  const char* m_subject = nullptr;
  const char* m_start[kGroups] = {};
  const char* m_end[kGroups] = {};
  int m_groupCount = -1;
  bool m_limitExceeded = false;
  mutable std::string m_error;
};
