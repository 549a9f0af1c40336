#include "e2e/support/WexoRun.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace wexo_test {

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunWexo(const std::filesystem::path& cwd, const std::filesystem::path& home, const std::string& args) {
  const std::string command = "cd '" + cwd.string() + "' && timeout 600 env -u DISPLAY -u WAYLAND_DISPLAY WEXO_INI='" +
                              (home / "wexo.ini").string() + "' TMPDIR='" + home.string() + "' '" WEXO_EXE "' " + args +
                              " > out.log 2> err.log";
  const int rc = Shell(command);
  return rc == 124 ? -1 : rc;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace wexo_test
