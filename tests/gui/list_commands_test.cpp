// The list view's commands: their enabled and checked states across a check's life, Copy read
// back by another process, a shell verb of the desktop run on a local file, an export through
// its save dialog, and the context menu on screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>

#include <wx/checkbox.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "gui/support/SilentServer.h"
#include "platform/FileUrl.h"
#include "platform/ShellLaunch.h"
#include "ui/Commands.h"
#include "ui/MainFrame.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

const std::string kQuestion = "Link tolvak finished. Do you want a report?";

class ListCommandsTest : public GuiTest {
 protected:
  // Checks the URLs of a list file; ended is set at the end question (answered No).
  CWexoDoc& CheckList(const std::vector<std::string>& urls) {
    std::string text;
    for (const std::string& u : urls) text += u + "\n";
    Write(dir / "list.txt", text);
    nextFile = (dir / "list.txt").string();
    answer = [this](const std::string& text, BoxKind kind) {
      if (text == kQuestion) ended = true;
      return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    };
    Command(ID_CMD_CHECK_URL_LIST);
    EXPECT_TRUE(PumpUntil([this] { return app->Frame()->GetActiveListView() != nullptr; }));
    view = app->Frame()->GetActiveListView();
    list = view->Rows();
    return *view->Engine();
  }
  // What the menus would show for a command: enabled, and checked.
  std::pair<bool, bool> State(int id) {
    wxUpdateUIEvent e(id);
    e.SetEventObject(app->Frame());
    app->Frame()->ProcessWindowEvent(e);
    return {e.GetSetEnabled() ? e.GetEnabled() : true, e.GetSetChecked() && e.GetChecked()};
  }
  std::vector<int> Enabled(std::initializer_list<int> ids) {
    std::vector<int> out;
    for (int id : ids)
      if (State(id).first) out.push_back(id);
    return out;
  }
  void Select(const CLinkInfo& link) { list->SelectRow(list->RowOf(link)); }
  // A desktop of our own, first in both search paths, that opens PDF files with a stub shell
  // script of this body, run as "stub-viewer --page 1 <file>".
  void StubPdfViewer(const std::string& body) {
    const auto data = dir / "xdg";
    Write(dir / "bin/stub-viewer", "#!/bin/sh\n" + body);
    std::filesystem::permissions(dir / "bin/stub-viewer", std::filesystem::perms::owner_all);
    Write(data / "applications/stub-viewer.desktop",
          "[Desktop Entry]\nType=Application\nName=Stub Viewer\nExec=stub-viewer --page 1 %f\n"
          "MimeType=application/pdf;\n");
    Write(data / "applications/defaults.list", "[Default Applications]\napplication/pdf=stub-viewer.desktop\n");
    // The toolkit lower-cases the command it reads, so the stub is found on PATH by a lower-case name.
    ::setenv("PATH", ((dir / "bin").string() + ":" + std::getenv("PATH")).c_str(), 1);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (data.string() + ":/usr/local/share:/usr/share").c_str(), 1);
  }

  bool ended = false;
  CWexoView* view = nullptr;
  LinkListCtrl* list = nullptr;
};

TEST_F(ListCommandsTest, StatesFollowTheCheck) {
  SilentServer server;
  ASSERT_NE(server.port, 0);
  ASSERT_TRUE(Start());
  const std::string slow = "http://127.0.0.1:" + std::to_string(server.port) + "/slow";
  CWexoDoc& doc = CheckList({slow});
  ASSERT_TRUE(PumpUntil([&doc] { return doc.GetActiveThreadCount() == 1; }));
  const std::initializer_list<int> flow = {ID_PAUSE, ID_CONTINUE, ID_STOP_NOW};
  const std::initializer_list<int> row = {ID_EDIT_COPY, ID_URL_PROPERTIES, ID_RESET_ENTRY};
  const std::initializer_list<int> always = {ID_RETRY_BROKEN, ID_REPORT,     ID_FIND,
                                             ID_PREFERENCES,  ID_EXPORT_TAB, ID_SITEMAP_FILE};

  // Running: only Pause; nothing selected, nothing searched yet.
  EXPECT_EQ(Enabled(flow), std::vector<int>{ID_PAUSE});
  EXPECT_TRUE(Enabled(row).empty());
  EXPECT_EQ(Enabled(always).size(), always.size());
  EXPECT_FALSE(State(ID_FIND_AGAIN).first);
  EXPECT_FALSE(State(ID_SHOW_BROKEN_ONLY).second);
  // The record being fetched can be copied but not reset.
  const CLinkInfo* busy = doc.FindLink(slow);
  ASSERT_NE(busy, nullptr);
  Select(*busy);
  EXPECT_EQ(Enabled(row), (std::vector<int>{ID_EDIT_COPY, ID_URL_PROPERTIES}));
  // A record that shows a result while its worker has not handed over yet is not reset: it
  // would get a second worker.
  doc.UpdateLink(*busy, [](CLinkInfo& l) { l.m_nStatus = 404; });
  EXPECT_FALSE(State(ID_RESET_ENTRY).first);
  Command(ID_RESET_ENTRY);
  EXPECT_EQ(busy->m_nStatus, 404);
  EXPECT_EQ(doc.GetActiveThreadCount(), 1);
  doc.UpdateLink(*busy, [](CLinkInfo& l) { l.m_nStatus = STATUS_BUSY; });

  // Paused with a worker still running: Continue and Stop.
  Command(ID_PAUSE);
  EXPECT_EQ(Enabled(flow), (std::vector<int>{ID_CONTINUE, ID_STOP_NOW}));
  EXPECT_TRUE(doc.IsPaused());

  // Stopped: the worker fails at once and hands over; the broken record may be reset.
  Command(ID_STOP_NOW);
  ASSERT_TRUE(PumpUntil([&doc] { return doc.GetActiveThreadCount() == 0; }));
  PumpUntil([busy] { return busy->m_nStatus > 0; }, 10);
  EXPECT_EQ(Enabled(flow), std::vector<int>{ID_CONTINUE});
  EXPECT_GT(busy->m_nStatus, 0);
  EXPECT_EQ(Enabled(row), (std::vector<int>{ID_EDIT_COPY, ID_URL_PROPERTIES, ID_RESET_ENTRY}));

  // While a long pass reads the table, commands that change it are off.
  {
    CLongPass pass(app->Values());
    EXPECT_TRUE(Enabled({ID_RETRY_BROKEN, ID_RESET_ENTRY, ID_SHOW_BROKEN_ONLY, ID_CHECK_EXTERNAL}).empty());
    Command(ID_SHOW_BROKEN_ONLY);
    EXPECT_EQ(doc.Settings().ShowBrokenOnly, 0);
  }

  // Finished: none of the three; the filter's check mark follows the setting.
  Command(ID_CONTINUE);
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  EXPECT_TRUE(Enabled(flow).empty());
  Command(ID_SHOW_BROKEN_ONLY);
  EXPECT_TRUE(State(ID_SHOW_BROKEN_ONLY).second);
  EXPECT_EQ(list->GetItemCount(), 1);  // only the stopped record is broken
  const bool external = doc.Settings().CheckExternal != 0;
  EXPECT_EQ(State(ID_CHECK_EXTERNAL).second, external);
  Command(ID_SHOW_BROKEN_ONLY);
  EXPECT_FALSE(State(ID_SHOW_BROKEN_ONLY).second);
  EXPECT_EQ(State(wxID_SAVE).first, doc.IsModified());

  // Find Again once there is a search text; no match leaves the selection and says so.
  view->m_csFind = "/slow";
  EXPECT_TRUE(State(ID_FIND_AGAIN).first);
  list->SelectRow(0);
  Command(ID_FIND_AGAIN);
  EXPECT_EQ(list->RecordAt(list->SelectedRow()), busy);
  Command(ID_FIND_AGAIN);
  EXPECT_EQ(list->RecordAt(list->SelectedRow()), busy);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().first, "Search String Not Found!");
}

TEST_F(ListCommandsTest, CopyReachesAnotherProcess) {
  ASSERT_TRUE(Start());
  Write(dir / "site/a b.html", "<html><title>x</title></html>");
  const std::string url = platform::FileUrlFromPath((dir / "site/a b.html").string());
  CWexoDoc& doc = CheckList({url});
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  Select(*doc.FindLink(url));
  Command(ID_EDIT_COPY);
  // xclip asks us for the text: the event loop must run to answer it.
  auto read = std::async(std::launch::async, [] {
    std::string out;
    if (FILE* p = ::popen("timeout 20 xclip -o -selection clipboard", "r")) {
      char buf[512];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  });
  ASSERT_TRUE(PumpUntil([&read] { return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30));
  EXPECT_EQ(read.get(), url);
}

TEST_F(ListCommandsTest, ShellVerbRunsTheDesktopsCommandWithThePathAsOneArgument) {
  const auto record = dir / "record.txt";
  StubPdfViewer("for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + record.string() + "'; done\n");
  ASSERT_TRUE(Start());
  const auto pdf = dir / "my docs/it's $HOME; a.pdf";
  Write(pdf, "%PDF-1.4\n");
  const std::string url = platform::FileUrlFromPath(pdf.string());
  CWexoDoc& doc = CheckList({url});
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  Select(*doc.FindLink(url));
  wxMenu* menu = view->BuildContextMenu();
  ASSERT_NE(menu, nullptr);
  ASSERT_FALSE(view->m_saShellVerbs.empty());
  EXPECT_EQ(view->m_saShellVerbs[0], "open");
  EXPECT_EQ(menu->GetLabelText(ID_SHELL_VERB).utf8_string(), "open");
  boxes.clear();
  Command(ID_SHELL_VERB);
  ASSERT_TRUE(PumpUntil([&record] { return ReadAll(record).size() > 0; }, 20))
      << "the stub did not run" << (boxes.empty() ? "" : ": " + boxes.back().first);
  platform::WaitForShellLaunches();
  PumpUntil([] { return false; }, 0.3);
  EXPECT_EQ(ReadAll(record), "--page\n1\n" + pdf.string() + "\n");
  EXPECT_TRUE(boxes.empty()) << boxes.back().first;
}

// A file gone since the check, or a program that cannot open it (it ends with a status other
// than 0), gives the failure box; the viewer is not started on a file that is gone.
TEST_F(ListCommandsTest, ShellVerbFailuresAreShown) {
  const auto record = dir / "record.txt";
  StubPdfViewer("printf '%s\\n' \"$3\" >> '" + record.string() + "'\ncase \"$3\" in *refused*) exit 1;; esac\n");
  ASSERT_TRUE(Start());
  struct Case {
    std::string name;
    bool removed;
    std::string error;
    bool ran;
  } cases[] = {
      {"opens.pdf", false, "", true},
      {"gone.pdf", true, "error 2: The system cannot find the file specified.", false},
      {"refused.pdf", false, "error 4: The system cannot open the file.", true},
  };
  std::vector<std::string> urls;
  for (const Case& c : cases) {
    Write(dir / c.name, "%PDF-1.4\n");
    urls.push_back(platform::FileUrlFromPath((dir / c.name).string()));
  }
  CWexoDoc& doc = CheckList(urls);
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string path = (dir / c.name).string();
    if (c.removed) std::filesystem::remove(path);
    boxes.clear();
    Select(*doc.FindLink(urls[i]));
    ASSERT_NE(view->BuildContextMenu(), nullptr) << c.name;
    ASSERT_FALSE(view->m_saShellVerbs.empty()) << c.name;
    Command(ID_SHELL_VERB);
    const std::string expected = "Unable to open '" + path + "': " + c.error;
    if (c.error.empty()) {
      ASSERT_TRUE(PumpUntil([&] { return ReadAll(record).find(path) != std::string::npos; }, 20)) << c.name;
      platform::WaitForShellLaunches();
      PumpUntil([] { return false; }, 0.3);
      EXPECT_TRUE(boxes.empty()) << c.name << ": " << boxes.front().first;
    } else {
      ASSERT_TRUE(PumpUntil([this] { return !boxes.empty(); }, 20)) << c.name;
      EXPECT_EQ(boxes.front().first, expected);
      EXPECT_EQ(boxes.front().second, BoxKind::Warning);
    }
    EXPECT_EQ(ReadAll(record).find(path) != std::string::npos, c.ran) << c.name;
  }
}

TEST_F(ListCommandsTest, KeysFindAndResetEntry) {
  // A stub launcher records every browser launch.
  const auto record = dir / "opened.txt";
  Write(dir / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.string() + "'\n");
  std::filesystem::permissions(dir / "bin/xdg-open", std::filesystem::perms::owner_all);
  ::setenv("PATH", ((dir / "bin").string() + ":" + std::getenv("PATH")).c_str(), 1);
  ASSERT_TRUE(Start());
  Write(dir / "site/index.html", "<html><title>Home</title><a href=\"b.html\">b</a></html>");
  Write(dir / "site/b.html", "<html><title>Second page</title></html>");
  const std::string url = platform::FileUrlFromPath((dir / "site/index.html").string());
  CWexoDoc& doc = CheckList({url});
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  const CLinkInfo* home = doc.FindLink(url);
  Select(*home);

  auto key = [this](wxEventType type, int code) {
    if (type == wxEVT_KEY_UP) {
      wxKeyEvent up(wxEVT_KEY_UP);
      up.m_keyCode = code;
      list->ProcessWindowEvent(up);
      return;
    }
    wxListEvent down(wxEVT_LIST_KEY_DOWN, list->GetId());
    down.m_code = code;
    down.SetEventObject(list);
    list->ProcessWindowEvent(down);
  };
  // Enter opens the URL once while it is held; after the key-up it opens it again.
  key(wxEVT_LIST_KEY_DOWN, WXK_RETURN);
  key(wxEVT_LIST_KEY_DOWN, WXK_RETURN);
  EXPECT_EQ(view->m_wLastKey, WXK_RETURN);
  key(wxEVT_KEY_UP, WXK_RETURN);
  EXPECT_EQ(view->m_wLastKey, 0);
  key(wxEVT_LIST_KEY_DOWN, WXK_RETURN);
  key(wxEVT_KEY_UP, WXK_RETURN);
  // Alt then Enter is URL properties, not the browser; Ctrl then keypad plus sizes the columns.
  key(wxEVT_LIST_KEY_DOWN, WXK_ALT);
  key(wxEVT_LIST_KEY_DOWN, WXK_RETURN);
  key(wxEVT_KEY_UP, WXK_RETURN);
  list->SetColumnWidth(4, 3);
  key(wxEVT_LIST_KEY_DOWN, WXK_CONTROL);
  key(wxEVT_LIST_KEY_DOWN, WXK_NUMPAD_ADD);
  EXPECT_GT(list->GetColumnWidth(4), 3);
  PumpUntil([&record] { return ReadAll(record).size() > 2 * (std::string(".../index.html\n").size()); }, 10);
  PumpUntil([] { return false; }, 0.5);
  const std::string path = (dir / "site/index.html").string() + "\n";
  EXPECT_EQ(ReadAll(record), path + path);

  // Find: one dialog kept by the frame; a found row closes it, a miss keeps it open.
  Command(ID_FIND);
  wxWindow* dialog = app->Frame()->m_pFindDialog;
  ASSERT_NE(dialog, nullptr);
  Command(ID_FIND);
  EXPECT_EQ(app->Frame()->m_pFindDialog, dialog);
  wxTextCtrl* text = nullptr;
  std::map<std::string, std::pair<bool, bool>> boxesShown;  // check box label: shown, enabled
  for (wxWindow* child : dialog->GetChildren()) {
    if (!text) text = wxDynamicCast(child, wxTextCtrl);
    if (auto* box = wxDynamicCast(child, wxCheckBox))
      boxesShown[box->GetLabelText().utf8_string()] = {box->IsShown(), box->IsEnabled()};
  }
  ASSERT_NE(text, nullptr);
  // The search has no whole-word mode: no such box, shown or disabled; match case is offered.
  using Shown = std::map<std::string, std::pair<bool, bool>>;
  EXPECT_EQ(boxesShown, (Shown{{"Match case", {true, true}}, {"Whole word", {false, false}}}));
  Screenshot("find-dialog");
  auto find = [dialog, text](const char* what) {
    text->SetValue(what);
    wxCommandEvent press(wxEVT_BUTTON, wxID_FIND);
    press.SetEventObject(dialog);
    dialog->ProcessWindowEvent(press);
  };
  find("nothing like it");
  EXPECT_EQ(app->Frame()->m_pFindDialog, dialog);
  EXPECT_EQ(boxes.back().first, "Search String Not Found!");
  find("SECOND page");
  EXPECT_EQ(app->Frame()->m_pFindDialog, nullptr);
  const CLinkInfo* second = list->RecordAt(list->SelectedRow());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->m_csTitle, "Second page");
  EXPECT_EQ(view->m_csFind, "SECOND page");

  // Alt+R resets a record of status 200 as well, and the check fetches it again.
  Select(*home);
  ended = false;
  Command(ID_RESET_ENTRY);
  EXPECT_EQ(home->m_nStatus, STATUS_PENDING);
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  EXPECT_EQ(home->m_nStatus, 200);
}

TEST_F(ListCommandsTest, ExportWritesThroughTheSaveDialog) {
  ASSERT_TRUE(Start());
  Write(dir / "site/index.html", "<html><title>Home</title></html>");
  const std::string url = platform::FileUrlFromPath((dir / "site/index.html").string());
  CheckList({url});
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  std::vector<std::string> titles;
  app->Host().m_fileAnswerer = [&titles, this](const std::string& title, std::string& path) {
    titles.push_back(title);
    path = (dir / "out.txt").string();
    return true;
  };
  Command(ID_EXPORT_TAB);
  Command(ID_EXPORT_GRAPHVIZ);
  EXPECT_EQ(titles, (std::vector<std::string>{"Export into Excel readable file (D)", "Create GraphViz File"}));
  EXPECT_TRUE(ReadAll(dir / "out.txt").starts_with("digraph G\r\n{\r\n"));
  app->Host().m_fileAnswerer = [this](const std::string&, std::string& path) {
    path = (dir / "links.txt").string();
    return true;
  };
  Command(ID_EXPORT_TAB);
  const std::string text = ReadAll(dir / "links.txt");
  EXPECT_TRUE(text.starts_with("Address\tStatus-Code\t")) << text;
  EXPECT_NE(text.find("\r\n" + url + "\t200\t"), std::string::npos) << text;
}

TEST_F(ListCommandsTest, ContextMenuOnScreen) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckList({"http://127.0.0.1:1/missing.html"});
  ASSERT_TRUE(PumpUntil([this] { return ended; }));
  const CLinkInfo* link = doc.FindLink("http://127.0.0.1:1/missing.html");
  ASSERT_NE(link, nullptr);
  list->EnsureVisible(list->RowOf(*link));
  wxRect rect;
  ASSERT_TRUE(list->GetItemRect(list->RowOf(*link), rect));
  // A right-click on the row opens the menu; a timer looks at it and closes it.
  wxUIActionSimulator sim;
  int shownItems = -1;
  wxTimer look;
  look.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    if (wxMenu* menu = view->m_pContextMenu.get()) shownItems = static_cast<int>(menu->GetMenuItemCount());
    Screenshot("28-context-menu");
    sim.Char(WXK_ESCAPE);
  });
  look.StartOnce(1500);
  sim.MouseMove(list->ClientToScreen(rect.GetPosition() + wxPoint(40, rect.height / 2)));
  sim.MouseClick(wxMOUSE_BTN_RIGHT);
  ASSERT_TRUE(PumpUntil([&shownItems] { return shownItems >= 0; }, 20));
  EXPECT_EQ(list->RecordAt(list->SelectedRow()), link);
  // Copy, open, five services, Reset entry and URL properties, with three separators.
  EXPECT_EQ(shownItems, 12);
}

}  // namespace
