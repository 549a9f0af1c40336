// Opens the window through the window module (ui/WindowModule.h), loaded on first use.
#pragma once

#include <string>

#include "ui/WindowModule.h"

enum class WindowRun {
  Ran,        // the windowed program ran; exitCode is its exit code
  NoDisplay,  // the display could not be opened: nothing ran
  NoModule,   // the module could not be loaded (the reason went to stderr): nothing ran
};

// Loads the window module from the program's folder or, installed, from its library folder
// (WEXO_WINDOW_MODULE_DIR, relative to the program's folder), and runs the windowed program.
WindowRun RunWindowModule(int argc, char** argv, CWexoApp& app, StartCommand command, const std::string& fileName,
                          int& exitCode);
