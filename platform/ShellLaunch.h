// The shell's "open" verb: a file or URL handed to the desktop's default application
// through xdg-open, and the numbers and texts that ShellExecute reports for the outcome.
//
// Threads: every function may be called from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What ShellExecute returns when the launch started (any value above 32 means success).
inline constexpr int SHELL_EXECUTE_OK = 42;

// Starts "xdg-open <target>" (xdg-open found on PATH) with folder as its working folder
// ("" keeps ours) and returns without waiting for it. The target is one argument of an
// argument vector, never read by a shell. The child inherits none of our descriptors but
// 0 to 2 (stdin is /dev/null), and SIGPIPE at its default; a detached thread reaps it, so
// no launch leaves a zombie.
// Returns 0 when the launcher started, else an errno value: EINVAL for an empty target or
// one beginning with '-' (xdg-open would read it as an option), ENOENT when xdg-open is not
// on PATH or the folder does not exist, EAGAIN or ENOMEM when no process can be made.
int ShellOpen(const std::string& target, const std::string& folder = "");

// Starts xdg-open as ShellOpen does and waits for it, at most ShellLaunchBound(). xdg-open
// returns once it has handed the target to the application, so its exit status is the
// launch's result: 0 with result = ShellExecuteResultOfExit of the status, or SHELL_EXECUTE_OK
// when it still runs after the bound (it is reaped when it ends). When the launcher did not
// start, its errno value as by ShellOpen (result untouched). Blocks: never on the
// user-interface thread (a launch step runs it).
int ShellOpenAndWait(const std::string& target, const std::string& folder, int& result);

// The ShellExecute number for a launcher's wait status: SHELL_EXECUTE_OK for exit status 0;
// xdg-open's 1 (syntax) 13, 2 (file not found) 2, 3 (no tool for the type) 31, 4 (the action
// failed) 4; any other ending (a signal, another status) 4.
int ShellExecuteResultOfExit(int waitStatus);

// How long a launch is waited for (10 s; tests shorten it).
std::chrono::milliseconds ShellLaunchBound();
void SetShellLaunchBoundForTests(std::chrono::milliseconds bound);

// Launches reach the browser in the order they were asked for: each launch (and whatever must
// follow it, such as its trace-log lines) is a step, and the steps run one at a time, in the
// order queued, on a thread of ours. So the caller never waits, and a launcher starts only
// once the one before it has ended or its bound has passed. Any thread. A step that finds no
// thread to run on runs on the caller's thread at once.
void QueueLaunchStep(std::function<void()> step);
// Returns once every step queued so far has returned. The program calls it before anything a
// step may reach (its host) goes.
void WaitForShellLaunches();

// Starts argv[0] (found on PATH) with the arguments argv as they stand, under the same
// conditions as ShellOpen, and returns without waiting. Returns 0 when the program started,
// else an errno value: EINVAL for an empty vector or program name, ENOENT when the program
// or the folder does not exist.
int ShellRun(const std::vector<std::string>& argv, const std::string& folder = "");
// ShellRun that tells what became of the program: done gets, on a thread of ours,
// ShellExecuteResultOfExit of its wait status, or SHELL_EXECUTE_OK while it still runs at
// ShellLaunchBound(). WaitForShellLaunches waits for done too.
int ShellRun(const std::vector<std::string>& argv, const std::string& folder, std::function<void(int result)> done);

// A desktop command line split into its words as a POSIX shell splits a simple command:
// blanks separate words; single quotes keep everything, double quotes keep everything but
// a backslash before '"', '\\', '$' or '`'; a backslash outside quotes keeps the next
// character. Nothing is expanded, so "$HOME", "*" and ";" are text. An unclosed quote ends
// at the end of the text.
std::vector<std::string> SplitCommandLine(std::string_view command);

// The number ShellExecute reports for an outcome of ShellOpen: SHELL_EXECUTE_OK for 0;
// ENOENT 2, ENOTDIR, ENAMETOOLONG and ELOOP 3, EMFILE and ENFILE 4, EACCES and EPERM 5,
// ENOMEM and EAGAIN 8, ENOEXEC 11; every other value (EINVAL included) 13.
int ShellExecuteResult(int err);

// The system's English message for a result of ShellExecuteResult without its line end
// ("The system cannot find the file specified." for 2, and for 31, no association); "ok" above 32.
std::string ShellExecuteResultText(int result);

}  // namespace platform
