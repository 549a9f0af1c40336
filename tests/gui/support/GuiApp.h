// The windowed program inside a test process: started on the test's X server with a settings
// file and temporary folder of its own; boxes and file dialogs are answered by the test, and
// wx's asserts fail the test instead of opening a box.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/Application.h"
#include "ui/WexoApplication.h"

class WexoDocument;
class wxDialog;

namespace wexo_gui {

class GuiTest : public ::testing::Test {
 protected:
  GuiTest();
  ~GuiTest() override;
  void TearDown() override;

  // Starts the program as a command line would; false when it did not start.
  bool Start(StartCommand command = StartCommand::Nothing, const std::string& file = std::string());
  // Runs the event loop until pred holds or the time is up; pred's last answer.
  bool PumpUntil(const std::function<bool()>& pred, double seconds = 60);
  // Sends a menu command to the main frame.
  void Command(int id);
  std::string Pane(int pane);
  std::vector<WexoDocument*> Documents();
  // Checks the URLs of a list file with Check URL List until its end question (answered No);
  // false when it did not end in time.
  bool CheckUrlList(const std::filesystem::path& list);
  // Runs check inside the modal dialog of that window name once it is open, while run
  // shows it; a test failure when it never opened.
  void WhileOpen(const char* name, std::function<void(wxDialog&)> check, const std::function<void()>& run);
  // Saves a picture of the whole screen for people to look at (tests never read it).
  void Screenshot(const std::string& name);

  CWexoApp values;
  WexoApplication* app = nullptr;
  std::filesystem::path dir;
  // Every box shown, with its kind; answer decides the reply (OK, or No for questions).
  std::vector<std::pair<std::string, BoxKind>> boxes;
  std::function<BoxAnswer(const std::string&, BoxKind)> answer;
  // The path each file dialog answers with; empty cancels.
  std::string nextFile;
};

// A file's text; "" when it cannot be read.
std::string ReadAll(const std::filesystem::path& path);
void Write(const std::filesystem::path& path, const std::string& text);

}  // namespace wexo_gui
