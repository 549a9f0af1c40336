#include "app/WindowLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The folder of the running program, with its trailing '/'; "" when unknown.
std::string ProgramFolder() {
  std::vector<char> path(4096);
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return std::string();
  std::string text(path.data(), static_cast<std::size_t>(n));
  return text.substr(0, text.rfind('/') + 1);
}

}  // namespace

WindowRun RunWindowModule(int argc, char** argv, CWexoApp& app, StartCommand command, const std::string& fileName,
                          int& exitCode) {
  const std::string folder = ProgramFolder();
  std::string errors;
  void* module = nullptr;
  for (const std::string& dir : {folder, folder + WEXO_WINDOW_MODULE_DIR "/"}) {
    const std::string path = dir + kWindowModuleName;
    if (::access(path.c_str(), F_OK) != 0) continue;
    // Kept loaded to the end: the toolkit leaves exit handlers behind.
    module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) break;
    errors += std::string("\n  ") + ::dlerror();
  }
  RunWindowedEntry entry = module ? reinterpret_cast<RunWindowedEntry>(::dlsym(module, kRunWindowedEntry)) : nullptr;
  if (!entry) {
    std::fprintf(stderr, "wexo: the window module %s could not be loaded from %s%s\n", kWindowModuleName,
                 folder.c_str(), errors.empty() ? " or its library folder" : errors.c_str());
    return WindowRun::NoModule;
  }
  return entry(argc, argv, app, command, fileName, exitCode) ? WindowRun::Ran : WindowRun::NoDisplay;
}
