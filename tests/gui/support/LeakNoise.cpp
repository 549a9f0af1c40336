// Under AddressSanitizer, the window tests and the programs they start leave fontconfig's
// caches out of the leak report: pango and GTK never free them, so every windowed process
// ends with them allocated (library noise, not ours; tests/lsan.supp says the same).
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {
// Read by the processes the tests start; a setting of the caller's own wins.
const int kChildSuppressions = setenv("LSAN_OPTIONS", "suppressions=" WEXO_SOURCE_DIR "/tests/lsan.supp", 0);
}  // namespace
#endif
