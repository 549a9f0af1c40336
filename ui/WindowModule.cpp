#include "ui/WindowModule.h"

#include "ui/WexoApplication.h"

extern "C" bool wexo_run_windowed(int argc, char** argv, CWexoApp& app, StartCommand command,
                                  const std::string& fileName, int& exitCode) {
  return RunWindowed(argc, argv, app, command, fileName, exitCode);
}
