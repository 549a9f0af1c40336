#include "e2e/support/WexoRun.h"

#include <sys/wait.h>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace wexo_test {

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WexoCommand(const std::filesystem::path& home, const std::string& args) {
  return "timeout 600 env -u DISPLAY -u WAYLAND_DISPLAY WEXO_INI='" + (home / "wexo.ini").string() + "' TMPDIR='" +
         home.string() + "' '" WEXO_EXE "' " + args;
}

int RunWexo(const std::filesystem::path& cwd, const std::filesystem::path& home, const std::string& args,
            long memoryKib) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // A sanitizer's shadow memory needs more address space than any such limit allows.
  memoryKib = 0;
#endif
  const std::string limit = memoryKib > 0 ? "ulimit -v " + std::to_string(memoryKib) + " && " : std::string();
  const std::string command =
      "cd '" + cwd.string() + "' && " + limit + WexoCommand(home, args) + " > out.log 2> err.log";
  const int rc = Shell(command);
  return rc == 124 ? -1 : rc;
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::map<std::string, std::vector<std::string>> Rows(const std::string& exportText) {
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream in(exportText);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows[fields[0]] = fields;
  }
  return rows;
}

}  // namespace wexo_test
