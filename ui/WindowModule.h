// The windowed program's entry point. The window lives in a module of its own (wexo-window.so)
// that the program loads only when it opens a window, so a run without a display maps no
// GUI library. This header includes no wx header.
#pragma once

#include <string>

class CWexoApp;

// What the command line asks for at start: nothing, a new check, or opening a document file.
enum class StartCommand { Nothing, New, Open };

// RunWindowed (ui/WexoApplication.h) under a name the program looks up in the module.
extern "C" bool wexo_run_windowed(int argc, char** argv, CWexoApp& app, StartCommand command,
                                  const std::string& fileName, int& exitCode);
using RunWindowedEntry = decltype(&wexo_run_windowed);
inline constexpr char kRunWindowedEntry[] = "wexo_run_windowed";
// The module's file name.
inline constexpr char kWindowModuleName[] = "wexo-window.so";
