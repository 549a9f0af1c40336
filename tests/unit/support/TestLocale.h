// Switches the process to a non-English locale for one test, as the GUI toolkit does from
// LANG, and back to "C" after it.
//
// German comes from the system (tools/install-deps makes de_DE.UTF-8). The Turkish ones are
// made once per test program with localedef in a private folder (LOCPATH): in them the C
// library's case mapping of 'I' and 'i' is not the ASCII one.
#pragma once

#include <string>

namespace wexo_test {

// Sets LC_ALL to name ("de_DE.UTF-8", "tr_TR.UTF-8", "tr_TR.ISO-8859-9" or "C"); false with
// a reason in *error when the locale cannot be had.
bool UseLocale(const std::string& name, std::string* error);
// Back to the "C" locale.
void UseCLocale();

}  // namespace wexo_test
