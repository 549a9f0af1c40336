// The desktop's verbs for a file type (its MIME database through wxMimeTypesManager) and
// running one on a file.
//
// Threads: user-interface thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The verbs the desktop knows for a file extension with its dot (".pdf"), in its order;
// empty when the extension has no file type.
std::vector<std::string> DesktopShellVerbs(const std::string& extension);

// The argument vector of a verb's command for a file: the command's words as a shell would
// split them, nothing expanded, with path put in as one argument wherever the command names
// the file (and at the end when it names it nowhere).
std::vector<std::string> ShellVerbArguments(const std::string& command, const std::string& path);

// Runs a verb of the extension's file type on path without a shell. Returns a ShellExecute
// result: above 32 when the program started; 2 (file not found) when path is gone, 31 (no
// association) when the type has no such verb, else the number of the spawn failure. A program
// that started is waited for off the user-interface thread (at most platform::ShellLaunchBound);
// when it ends with a status other than 0, failed is called on that thread with 2 when path is
// gone by then, else 4 (the file could not be opened).
int RunShellVerb(const std::string& extension, const std::string& verb, const std::string& path,
                 std::function<void(int result)> failed);
