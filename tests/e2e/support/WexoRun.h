// Running the program itself in a test: batch mode, no display, a settings file and a
// temporary folder of the test's own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace wexo_test {

// Runs `wexo <args>` in folder `cwd` with WEXO_INI=<home>/wexo.ini and TMPDIR=<home>, stdout to
// <cwd>/out.log and stderr to <cwd>/err.log, its address space limited to memoryKib (ulimit -v)
// when that is not 0. The exit code; -1 when it hung or died.
int RunWexo(const std::filesystem::path& cwd, const std::filesystem::path& home, const std::string& args,
            long memoryKib = 0);

// The shell words that run `wexo <args>` as RunWexo does (settings and temporary folder in home,
// no display, a time limit), without its folder, limit and redirections: for commands that
// run several at once or inside another command.
std::string WexoCommand(const std::filesystem::path& home, const std::string& args);

// Starts `wexo <args>` as RunWexo would, with folder as its working folder and home, stdout to
// /dev/null and stderr to <folder>/err.log, and SIGINT, SIGTERM and SIGHUP at their defaults
// whatever the test runner ignores; returns its pid (-1 when it could not start) without
// waiting, so that a signal can reach the program itself.
pid_t SpawnWexo(const std::filesystem::path& folder, const std::vector<std::string>& args);

// A shell command's exit code, -1 when it did not exit normally.
int Shell(const std::string& command);

// The whole file; "" when it cannot be read.
std::string ReadAll(const std::filesystem::path& path);

// Writes a file, making its folders.
void Write(const std::filesystem::path& path, const std::string& text);

// The rows of a TAB export by their first column (the URL), each row's fields split.
std::map<std::string, std::vector<std::string>> Rows(const std::string& exportText);

}  // namespace wexo_test
