#include "e2e/support/WexoRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

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

pid_t SpawnWexo(const std::filesystem::path& folder, const std::vector<std::string>& args) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string var = *e;
    if (!var.starts_with("DISPLAY=") && !var.starts_with("WAYLAND_DISPLAY=") && !var.starts_with("WEXO_INI=") &&
        !var.starts_with("TMPDIR="))
      env.push_back(var);
  }
  env.push_back("WEXO_INI=" + (folder / "wexo.ini").string());
  env.push_back("TMPDIR=" + folder.string());
  std::vector<std::string> argv{WEXO_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv, cenv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (std::string& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, (folder / "err.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  if (posix_spawn(&pid, WEXO_EXE, &actions, &attr, cargv.data(), cenv.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return pid;
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
