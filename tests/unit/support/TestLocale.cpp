#include "unit/support/TestLocale.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

namespace wexo_test {
namespace {

// The folder with the Turkish locales, made on first use and removed at exit.
const std::string& TurkishLocales() {
  // Never freed: the exit handler below still reads it.
  static const std::string* dir = new std::string([] {
    char tmpl[] = "/tmp/wexo-locale-XXXXXX";
    if (!mkdtemp(tmpl)) return std::string();
    const std::string made = tmpl;
    for (const char* charset : {"UTF-8", "ISO-8859-9"}) {
      const std::string cmd =
          std::string("localedef -i tr_TR -f ") + charset + " " + made + "/tr_TR." + charset + " >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0) {
        std::filesystem::remove_all(made);
        return std::string();
      }
    }
    std::atexit([] { std::filesystem::remove_all(TurkishLocales()); });
    return made;
  }());
  return *dir;
}

}  // namespace

bool UseLocale(const std::string& name, std::string* error) {
  if (name.rfind("tr_TR", 0) == 0) {
    if (TurkishLocales().empty()) {
      *error = "localedef failed for tr_TR (package locales missing?)";
      return false;
    }
    setenv("LOCPATH", TurkishLocales().c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  if (std::setlocale(LC_ALL, name.c_str()) == nullptr) {
    *error = "locale " + name + " is not installed (tools/install-deps makes de_DE.UTF-8)";
    return false;
  }
  return true;
}

void UseCLocale() {
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
}

}  // namespace wexo_test
