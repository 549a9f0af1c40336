// Running the program itself in a test: batch mode, no display, a settings file and a
// temporary folder of the test's own.
#pragma once

#include <filesystem>
#include <string>

namespace wexo_test {

// Runs `wexo <args>` in folder `cwd` with WEXO_INI=<home>/wexo.ini and TMPDIR=<home>, stdout to
// <cwd>/out.log and stderr to <cwd>/err.log. The exit code; -1 when it hung or died.
int RunWexo(const std::filesystem::path& cwd, const std::filesystem::path& home, const std::string& args);

// A shell command's exit code, -1 when it did not exit normally.
int Shell(const std::string& command);

// The whole file; "" when it cannot be read.
std::string ReadAll(const std::filesystem::path& path);

}  // namespace wexo_test
