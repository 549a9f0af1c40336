// The regular expressions: a fuzzed pattern, subject and substitution template (separated by
// NUL bytes); the first byte chooses case-insensitive matching. A match's groups lie inside
// the subject.
#include "algorithms/Regex.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const bool caseInsensitive = in.Byte() & 1;
  const std::string pattern(in.Piece());
  const std::string subject(in.Piece());
  const std::string templ(in.Rest());

  Regex re(pattern, caseInsensitive);
  if (!re.Match(subject)) {
    FUZZ_CHECK(re.GroupCount() == -1);
    return 0;
  }
  FUZZ_CHECK(re.GroupCount() >= 0);
  for (int n = 0; n <= re.GroupCount(); ++n) {
    const std::string group = re.Group(n);
    FUZZ_CHECK(re.GroupLength(n) == static_cast<int>(group.size()));
    FUZZ_CHECK(subject.find(group) != std::string::npos);
  }
  re.Substitute(templ);
  return 0;
}
