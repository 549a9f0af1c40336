#include "gui/support/GuiApp.h"

#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/statusbr.h>

#include "engine/FetchWorker.h"
#include "platform/ShellLaunch.h"
#include "ui/Commands.h"
#include "ui/MainFrame.h"
#include "ui/WexoView.h"

namespace wexo_gui {

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
  ADD_FAILURE() << "wx assert at " << file.utf8_string() << ":" << line << " in " << func.utf8_string() << ": "
                << cond.utf8_string() << " " << msg.utf8_string();
}

}  // namespace

GuiTest::GuiTest() {
  dir = std::filesystem::temp_directory_path() / ("wexo-gui-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  ::setenv("WEXO_INI", (dir / "wexo.ini").c_str(), 1);
  ::setenv("TMPDIR", dir.c_str(), 1);
  ::setenv("GDK_BACKEND", "x11", 1);
  ::setenv("NO_AT_BRIDGE", "1", 1);
  // No tips dialog at start-up unless a test asks for it.
  Write(dir / "wexo.ini", "[Tip]\r\nStartUp=1\r\n");
}

GuiTest::~GuiTest() { std::filesystem::remove_all(dir); }

// Before the test's own members go: the program's last events may still reach them.
void GuiTest::TearDown() {
  // A browser launch tells its outcome to the program's host.
  platform::WaitForShellLaunches();
  if (app) {
    if (app->Frame()) {
      app->Host().Quit(0);
      PumpUntil([] { return wxTopLevelWindows.empty(); }, 30);
    }
    app->OnExit();
    wxEntryCleanup();
  }
  app = nullptr;
  ShutdownWorkerThreads();
}

bool GuiTest::Start(StartCommand command, const std::string& file) {
  app = new WexoApplication(values, command, file);
  wxApp::SetInstance(app);
  static int argc = 1;
  static char name[] = "wexo";
  static char* argv[] = {name, nullptr};
  if (!wxEntryStart(argc, argv)) {
    app = nullptr;
    return false;
  }
  wxSetAssertHandler(FailOnAssert);
  app->Host().m_boxAnswerer = [this](const std::string& text, BoxKind kind) {
    boxes.emplace_back(text, kind);
    if (answer) return answer(text, kind);
    return kind == BoxKind::Question || kind == BoxKind::QuestionDefaultNo ? BoxAnswer::No : BoxAnswer::Ok;
  };
  app->Host().m_fileAnswerer = [this](const std::string&, std::string& path) {
    path = nextFile;
    return !path.empty();
  };
  static wxEventLoop* loop = nullptr;
  if (!loop) loop = new wxEventLoop;
  wxEventLoopBase::SetActive(loop);
  return app->CallOnInit();
}

bool GuiTest::PumpUntil(const std::function<bool()>& pred, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
    if (wxTheApp) {
      wxTheApp->ProcessPendingEvents();
      wxTheApp->ProcessIdle();
    }
    ::usleep(2000);
  }
  return true;
}

void GuiTest::Command(int id) {
  wxCommandEvent event(wxEVT_MENU, id);
  event.SetEventObject(app->Frame());
  app->Frame()->ProcessWindowEvent(event);
}

bool GuiTest::CheckUrlList(const std::filesystem::path& list) {
  nextFile = list.string();
  bool ended = false;
  answer = [&ended](const std::string& text, BoxKind kind) {
    if (text == "Link tolvak finished. Do you want a report?") ended = true;
    return kind == BoxKind::Question || kind == BoxKind::QuestionDefaultNo ? BoxAnswer::No : BoxAnswer::Ok;
  };
  Command(ID_CMD_CHECK_URL_LIST);
  const bool done = PumpUntil([&ended] { return ended; });
  answer = nullptr;
  return done;
}

void GuiTest::WhileOpen(const char* name, std::function<void(wxDialog&)> check, const std::function<void()>& run) {
  bool seen = false;
  std::function<void()> look;
  look = [&] {
    auto* dialog = wxDynamicCast(wxWindow::FindWindowByName(name), wxDialog);
    if (!dialog || !dialog->IsModal()) {
      app->CallAfter(look);
      return;
    }
    seen = true;
    check(*dialog);
  };
  app->CallAfter(look);
  run();
  EXPECT_TRUE(seen) << name;
}

std::string GuiTest::Pane(int pane) { return app->Frame()->GetStatusBar()->GetStatusText(pane).utf8_string(); }

std::vector<WexoDocument*> GuiTest::Documents() { return app->DocManager()->Documents(); }

void GuiTest::Screenshot(const std::string& name) {
  PumpUntil([] { return false; }, 0.3);
  const char* out = std::getenv("WEXO_SCREENSHOTS");
  if (!out || !*out) return;
  const std::string command = "import -window root '" + std::string(out) + "/" + name + ".png' 2>/dev/null";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "screenshot %s failed\n", name.c_str());
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace wexo_gui
