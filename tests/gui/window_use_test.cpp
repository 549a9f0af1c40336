// The window as a day's use finds it: closing a document or the program while a check runs or
// documents are changed, a browser that does not open, the message boxes and their dialogs, the
// first focus of the small dialogs, the rows of a broken-only list and of a URL list.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include <wx/aui/auibook.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/scrolwin.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>

#include "engine/FtpDialogModel.h"
#include "engine/TempFiles.h"
#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "gui/support/SilentServer.h"
#include "platform/ShellLaunch.h"
#include "ui/Commands.h"
#include "ui/ContextMenu.h"
#include "ui/EMailDialog.h"
#include "ui/MainFrame.h"
#include "ui/TipDlg.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::string kGuardStart =
    "Wait until all active threads have terminated before closing (press PAUSE and STOP if needed).\n"
    "Active threads: \n\n";

class WindowUseTest : public GuiTest {
 protected:
  // A URL list of count URLs on a server that never answers; true once all of them run.
  bool StartSlowCheck(SilentServer& server, int count) {
    std::string lines;
    for (int i = 0; i < count; ++i)
      lines += "http://127.0.0.1:" + std::to_string(server.port) + "/slow" + std::to_string(i) + "\n";
    Write(dir / "slow.txt", lines);
    nextFile = (dir / "slow.txt").string();
    Command(ID_CMD_CHECK_URL_LIST);
    if (Documents().size() != 1) return false;
    CWexoDoc& doc = Documents()[0]->Engine();
    return PumpUntil([&doc, count] { return doc.GetActiveThreadCount() == count; }, 30);
  }
  // Stops the check of the first document and waits until its workers have handed over.
  void StopCheck() {
    Command(ID_PAUSE);
    Command(ID_STOP_NOW);
    CWexoDoc& doc = Documents()[0]->Engine();
    EXPECT_TRUE(PumpUntil([&doc] { return doc.GetActiveThreadCount() == 0; }, 30));
  }
  // The texts of the boxes shown so far.
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : boxes) texts.push_back(box.first);
    return texts;
  }
  // A stand-in for xdg-open first on PATH that exits with status after delay seconds, and
  // notes in dir/order when each run started and ended.
  void StubLauncher(int status, double delay = 0) {
    const std::string order = (dir / "order").string();
    Write(dir / "bin/xdg-open", "#!/bin/sh\nprintf 'start %s\\n' \"$1\" >> '" + order + "'\nsleep " +
                                    std::to_string(delay) + "\nprintf 'end %s\\n' \"$1\" >> '" + order + "'\nexit " +
                                    std::to_string(status) + "\n");
    ::chmod((dir / "bin/xdg-open").c_str(), 0755);
    savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", ((dir / "bin").string() + ":" + savedPath).c_str(), 1);
  }
  void TearDown() override {
    if (!savedPath.empty()) ::setenv("PATH", savedPath.c_str(), 1);
    GuiTest::TearDown();
  }
  // Checks one local page; its list view with the first row selected, nullptr when the check
  // did not end.
  CWexoView* CheckOnePage() {
    Write(dir / "site/a.html", "<html><body>a</body></html>");
    Write(dir / "list.txt", "file://" + (dir / "site/a.html").string() + "\n");
    if (!CheckUrlList(dir / "list.txt")) return nullptr;
    CWexoView* view = app->Frame()->GetActiveListView();
    if (view) view->Rows()->SelectRow(0);
    return view;
  }
  // Every row's record index, top to bottom.
  std::vector<std::uint32_t> RowRecords() {
    LinkListCtrl* list = app->Frame()->GetActiveListView()->Rows();
    std::vector<std::uint32_t> out;
    for (long r = 0; r < list->GetItemCount(); ++r) out.push_back(list->RecordAt(r)->m_nIndex);
    return out;
  }
  // Shows a real box of that kind (no answerer) and runs check inside it.
  BoxAnswer RealBox(const std::string& text, BoxKind kind, const std::function<void(wxDialog&)>& check) {
    auto answerer = std::move(app->Host().m_boxAnswerer);
    app->Host().m_boxAnswerer = nullptr;
    BoxAnswer answer = BoxAnswer::Ok;
    WhileOpen("messageBox", check, [&] { answer = app->Host().MessageBox(text, kind); });
    app->Host().m_boxAnswerer = std::move(answerer);
    return answer;
  }

  std::string savedPath;
};

TEST_F(WindowUseTest, ClosingATabWhileWorkersRunKeepsTheTabAndTheCheck) {
  SilentServer server;
  ASSERT_NE(server.port, 0);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(StartSlowCheck(server, 2));
  WexoDocument* doc = Documents()[0];
  doc->Modify(true);
  boxes.clear();
  // Ctrl+W: the guard comes first, and no save question: the user is not asked about a
  // document that cannot close. wx's asserts would fail the test.
  Command(wxID_CLOSE);
  PumpUntil([] { return false; }, 0.2);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].first.starts_with(kGuardStart)) << boxes[0].first;
  ASSERT_EQ(Documents().size(), 1u);
  EXPECT_EQ(doc->Engine().GetActiveThreadCount(), 2);
  EXPECT_TRUE(doc->Engine().IsRunning());
  EXPECT_TRUE(doc->IsModified());

  // The active tab has a close button; pressing it is refused the same way.
  wxAuiNotebook* tabs = app->Frame()->GetNotebook();
  ASSERT_NE(tabs, nullptr);
  EXPECT_TRUE(tabs->GetWindowStyleFlag() & wxAUI_NB_CLOSE_ON_ACTIVE_TAB);
  ASSERT_EQ(tabs->GetPageCount(), 1u);
  boxes.clear();
  wxAuiNotebookEvent press(wxEVT_AUINOTEBOOK_PAGE_CLOSE, tabs->GetId());
  press.SetSelection(0);
  press.SetEventObject(tabs);
  tabs->GetEventHandler()->ProcessEvent(press);
  PumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(tabs->GetPageCount(), 1u);
  EXPECT_EQ(Documents().size(), 1u);

  // Stopped, the same Ctrl+W asks about the changes and closes; the program runs on.
  StopCheck();
  boxes.clear();
  answer = [](const std::string&, BoxKind) { return BoxAnswer::No; };
  Command(wxID_CLOSE);
  EXPECT_TRUE(PumpUntil([this] { return Documents().empty(); }, 5));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Save changes to Wexo1?"});
  EXPECT_TRUE(app->Frame()->IsShown());
  EXPECT_EQ(tabs->GetPageCount(), 0u);
}

TEST_F(WindowUseTest, ExitAsksEverySaveQuestionBeforeAnyDocumentCloses) {
  ASSERT_TRUE(Start());
  Write(dir / "site/a.html", "<html><body>a</body></html>");
  Write(dir / "list.txt", "file://" + (dir / "site/a.html").string() + "\n");
  ASSERT_TRUE(CheckUrlList(dir / "list.txt"));
  ASSERT_TRUE(CheckUrlList(dir / "list.txt"));
  ASSERT_EQ(Documents().size(), 2u);
  for (WexoDocument* doc : Documents()) doc->Modify(true);
  boxes.clear();
  // No for the first, Cancel for the second: both stay open, and the first still counts as
  // changed (its No was never carried out).
  answer = [](const std::string& text, BoxKind) {
    return text == "Save changes to Wexo2?" ? BoxAnswer::Cancel : BoxAnswer::No;
  };
  EXPECT_FALSE(app->Frame()->Close(false));
  PumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Save changes to Wexo1?", "Save changes to Wexo2?"}));
  ASSERT_EQ(Documents().size(), 2u);
  EXPECT_TRUE(Documents()[0]->IsModified());
  EXPECT_TRUE(Documents()[1]->IsModified());
  EXPECT_EQ(app->Frame()->GetNotebook()->GetPageCount(), 2u);

  // No to both: every question is asked first, then nothing is left to ask.
  boxes.clear();
  answer = [](const std::string&, BoxKind) { return BoxAnswer::No; };
  EXPECT_TRUE(app->DocManager()->CanQuit());
  EXPECT_EQ(BoxTexts().size(), 2u);
  EXPECT_FALSE(Documents()[0]->IsModified());
  EXPECT_FALSE(Documents()[1]->IsModified());
}

TEST_F(WindowUseTest, ABrowserThatDoesNotOpenIsReportedAndLogged) {
  StubLauncher(3);  // xdg-open: no method available for the type
  ASSERT_TRUE(Start());
  CWexoView* view = CheckOnePage();
  ASSERT_NE(view, nullptr);
  const CLinkInfo* link = view->SelectedRecord();
  ASSERT_NE(link, nullptr);
  const std::string url = link->GetUrl();
  boxes.clear();
  view->OpenInBrowser();
  const std::string box = "Unable to open browser for '" + url +
                          "': error 31: No application is associated with the specified file for this operation.";
  EXPECT_TRUE(PumpUntil([this] { return !boxes.empty(); }, 20));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{box});
  const std::string log = ReadAll(GetLogFilePath());
  EXPECT_NE(log.find(",SW_SHOWNORMAL) = 31 (No application is associated"), std::string::npos) << log;
  EXPECT_EQ(log.find("= 42 (ok)"), std::string::npos) << log;
}

// Show Backlinks opens its three services in their order: each launcher starts once the one
// before it has ended, while the window goes on handling events.
TEST_F(WindowUseTest, ShowBacklinksOpensItsServicesOneAfterAnother) {
  StubLauncher(0, 0.3);
  ASSERT_TRUE(Start());
  // Nothing listens on port 1: the check ends at once with the connection refused.
  const std::string url = "http://127.0.0.1:1/page.html";
  Write(dir / "list.txt", url + "\n");
  ASSERT_TRUE(CheckUrlList(dir / "list.txt"));
  CWexoView* view = app->Frame()->GetActiveListView();
  ASSERT_NE(view, nullptr);
  const CLinkInfo* link = view->Engine()->FindLink(url);
  ASSERT_NE(link, nullptr);
  view->Rows()->FlushUpdates();
  view->Rows()->SelectRow(view->Rows()->RowOf(*link));
  ASSERT_EQ(view->SelectedRecord(), link);
  boxes.clear();
  Command(ID_SHOW_BACKLINKS);
  std::vector<std::string> expected;
  for (const std::string& address : ServiceAddresses(ID_SHOW_BACKLINKS, url)) {
    expected.push_back("start " + address);
    expected.push_back("end " + address);
  }
  ASSERT_EQ(expected.size(), 6u);
  EXPECT_TRUE(PumpUntil([&] { return Lines(ReadAll(dir / "order")).size() >= expected.size(); }, 30));
  EXPECT_EQ(Lines(ReadAll(dir / "order")), expected);
  EXPECT_TRUE(boxes.empty());
}

// Quitting while a check runs: the fetches that run end, and no other starts meanwhile.
TEST_F(WindowUseTest, AQuitStartsNoFetchWhileItWaitsForTheRunningOnes) {
  SilentServer server;
  ASSERT_NE(server.port, 0);
  Write(dir / "wexo.ini", "[Tip]\r\nStartUp=1\r\n[Options]\r\nThreads=2\r\n");
  ASSERT_TRUE(Start());
  std::string lines;
  for (int i = 0; i < 8; ++i)
    lines += "http://127.0.0.1:" + std::to_string(server.port) + "/p" + std::to_string(i) + "\n";
  Write(dir / "slow.txt", lines);
  nextFile = (dir / "slow.txt").string();
  Command(ID_CMD_CHECK_URL_LIST);
  ASSERT_EQ(Documents().size(), 1u);
  CWexoDoc* doc = &Documents()[0]->Engine();
  const auto tried = [this] {
    std::size_t count = 0;
    for (WexoDocument* d : Documents())
      for (std::size_t i = 0; i < d->Engine().GetLinkCount(); ++i) count += d->Engine().GetLink(i)->GetAttempts() > 0;
    return count;
  };
  ASSERT_TRUE(PumpUntil([doc] { return doc->GetActiveThreadCount() == 2; }, 30));
  PumpUntil([] { return false; }, 0.2);
  const std::size_t atQuit = tried();
  // A slot is free again (more threads allowed) when the quit is asked for, as the end of a batch
  // run does, and a scheduler pass comes while the quit waits.
  CheckSettings settings = doc->Settings();
  settings.Threads = 3;
  doc->SetSettings(std::move(settings));
  app->Host().Quit(0);
  doc->ScheduleFetches();
  std::size_t last = atQuit;
  EXPECT_TRUE(PumpUntil(
      [&] {
        if (!Documents().empty()) last = tried();
        return wxTopLevelWindows.empty();
      },
      60));
  EXPECT_EQ(last, atQuit);
}

// Quitting right after a browser launch: the launch is waited for before the program's host
// goes, so its late outcome reaches nothing that has gone.
TEST_F(WindowUseTest, QuittingRightAfterABrowserLaunchLeavesItsOutcomeLogged) {
  StubLauncher(3, 1);
  ASSERT_TRUE(Start());
  CWexoView* view = CheckOnePage();
  ASSERT_NE(view, nullptr);
  view->OpenInBrowser();
  app->Host().Quit(0);
  ASSERT_TRUE(PumpUntil([] { return wxTopLevelWindows.empty(); }, 30));
  app->OnExit();
  wxEntryCleanup();
  app = nullptr;
  platform::WaitForShellLaunches();
  EXPECT_EQ(Lines(ReadAll(dir / "order")).size(), 2u);
  const std::string log = ReadAll(GetLogFilePath());
  EXPECT_NE(log.find(",SW_SHOWNORMAL) = 31 (No application is associated"), std::string::npos) << log;
}

TEST_F(WindowUseTest, MessageBoxesCarryTheirIconButtonsAndDefault) {
  ASSERT_TRUE(Start());
  const struct {
    BoxKind kind;
    const char* icon;
    std::vector<int> buttons;
    int defaultButton;
    int press;
    BoxAnswer answer;
  } cases[] = {
      {BoxKind::Warning, "wxART_WARNING", {wxID_OK}, wxID_OK, wxID_OK, BoxAnswer::Ok},
      {BoxKind::Error, "wxART_ERROR", {wxID_OK}, wxID_OK, wxID_OK, BoxAnswer::Ok},
      {BoxKind::Info, "wxART_INFORMATION", {wxID_OK}, wxID_OK, wxID_OK, BoxAnswer::Ok},
      {BoxKind::Question, "wxART_QUESTION", {wxID_YES, wxID_NO}, wxID_YES, wxID_YES, BoxAnswer::Yes},
      // The profile question of the starting-point dialog: Return answers No.
      {BoxKind::QuestionDefaultNo, "wxART_QUESTION", {wxID_YES, wxID_NO}, wxID_NO, wxID_NO, BoxAnswer::No},
  };
  for (const auto& c : cases) {
    const BoxAnswer got = RealBox("Something to say", c.kind, [&](wxDialog& box) {
      auto* icon = wxDynamicCast(box.FindWindow(c.icon), wxStaticBitmap);
      ASSERT_NE(icon, nullptr) << c.icon;
      EXPECT_TRUE(icon->GetBitmap().IsOk()) << c.icon;
      EXPECT_EQ(box.GetParent(), app->Frame());
      for (int id : {wxID_OK, wxID_YES, wxID_NO, wxID_CANCEL}) {
        const bool wanted = std::find(c.buttons.begin(), c.buttons.end(), id) != c.buttons.end();
        EXPECT_EQ(box.FindWindow(id) != nullptr, wanted) << c.icon << " " << id;
      }
      EXPECT_EQ(box.GetDefaultItem(), box.FindWindow(c.defaultButton)) << c.icon;
      if (c.kind == BoxKind::Warning) Screenshot("message-box");
      wxCommandEvent click(wxEVT_BUTTON, c.press);
      click.SetEventObject(box.FindWindow(c.press));
      box.FindWindow(c.press)->ProcessWindowEvent(click);
    });
    EXPECT_EQ(got, c.answer) << c.icon;
  }
}

// A box's text may carry what a server sent: its control characters and the bytes that are no
// UTF-8 show as "\xNN", its line breaks and tabs as they are.
TEST_F(WindowUseTest, ABoxShowsControlCharactersEscaped) {
  ASSERT_TRUE(Start());
  RealBox("Failed to send e-mail message: 550-\x1B]0;owned\x07\x1B[2J\n550 no\x08\xFF\tuser", BoxKind::Error,
          [&](wxDialog& box) {
            auto* message = wxDynamicCast(box.FindWindow("message"), wxStaticText);
            ASSERT_NE(message, nullptr);
            wxString shown = message->GetLabel();
            shown.Replace("\n", " ");  // where the label wraps
            EXPECT_EQ(shown.utf8_string(),
                      "Failed to send e-mail message: 550-\\x1B]0;owned\\x07\\x1B[2J 550 no\\x08\\xFF\tuser");
            Screenshot("message-box-escaped");
            box.EndModal(wxID_OK);
          });
}

TEST_F(WindowUseTest, ABoxBelongsToTheDialogItWasShownFrom) {
  ASSERT_TRUE(Start());
  FtpDialogModel model(values, "http://site.test/");
  WhileOpen(
      "ftpDialog",
      [this](wxDialog& ftp) {
        EXPECT_EQ(app->Host().Parent(), &ftp);
        RealBox("Please input an URL", BoxKind::Warning, [&ftp](wxDialog& box) {
          EXPECT_EQ(box.GetParent(), &ftp);
          box.EndModal(wxID_OK);
        });
        EXPECT_EQ(app->Host().Parent(), &ftp);
        ftp.EndModal(wxID_CANCEL);
      },
      [&] { app->Host().FtpDialog(model); });
  EXPECT_EQ(app->Host().Parent(), app->Frame());
}

TEST_F(WindowUseTest, TheStartingPointDialogStaysInFrontOfItsBoxes) {
  ASSERT_TRUE(Start());
  WhileOpen(
      "NewUrlDialog",
      [this](wxDialog& dialog) {
        // OK with no URL: the box over the dialog, which stays in front once it is answered.
        RealBox("Please input an URL", BoxKind::Warning, [&](wxDialog& box) {
          EXPECT_EQ(box.GetParent(), &dialog);
          Screenshot("box-over-starting-point");
          box.EndModal(wxID_OK);
        });
        PumpUntil([] { return false; }, 0.3);
        EXPECT_TRUE(dialog.IsShown());
        EXPECT_EQ(app->Host().Parent(), &dialog);
        Screenshot("starting-point-after-box");
        dialog.EndModal(wxID_CANCEL);
      },
      [this] { Command(ID_CMD_CHECK_URL); });
  EXPECT_TRUE(Documents().empty());
}

TEST_F(WindowUseTest, TheActiveThreadsBoxScrollsAHundredWorkers) {
  Write(dir / "wexo.ini", "[Tip]\r\nStartUp=1\r\n[Options]\r\nThreads=100\r\n");
  SilentServer server;
  ASSERT_NE(server.port, 0);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(StartSlowCheck(server, 100));
  app->Host().m_boxAnswerer = nullptr;
  WhileOpen(
      "messageBox",
      [this, &server](wxDialog& box) {
        auto* heading = wxDynamicCast(box.FindWindow("message"), wxStaticText);
        ASSERT_NE(heading, nullptr);
        wxString said = heading->GetLabel();
        said.Replace("\n", " ");
        EXPECT_TRUE(said.StartsWith("Wait until all active threads have terminated before closing")) << said;
        auto* list = wxDynamicCast(box.FindWindow("scrolledText"), wxTextCtrl);
        ASSERT_NE(list, nullptr);
        // One line per worker, each its URL alone.
        EXPECT_EQ(list->GetNumberOfLines(), 101) << "100 lines and the end of the last";
        const std::string prefix = "http://127.0.0.1:" + std::to_string(server.port) + "/slow";
        for (int line = 0; line < 100; ++line) {
          const std::string text = list->GetLineText(line).utf8_string();
          EXPECT_TRUE(text.starts_with(prefix) &&
                      text.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
              << text;
        }
        EXPECT_LE(box.GetSize().y, wxDisplay(&box).GetClientArea().height);
        Screenshot("active-threads-100");
        box.EndModal(wxID_OK);
      },
      [this] { EXPECT_FALSE(app->Frame()->Close(false)); });
  EXPECT_EQ(Documents().size(), 1u);
  StopCheck();
}

TEST_F(WindowUseTest, EscapeClosesTheTipsWritingNothingAndALongTipScrolls) {
  std::string longTip(999, 'x');
  for (std::size_t i = 7; i < longTip.size(); i += 8) longTip[i] = ' ';
  Write(dir / "tips.txt", "First tip.\n" + longTip + "\n");
  CTipDlg::SetTipsFilePath((dir / "tips.txt").string());
  ASSERT_TRUE(Start());
  WhileOpen(
      "tipDialog",
      [](wxDialog& dialog) {
        wxWindow* tip = dialog.FindWindow("tip");
        ASSERT_NE(tip, nullptr);
        // Read-only text without a cursor: no edit control, nothing to focus.
        EXPECT_EQ(wxDynamicCast(tip, wxTextCtrl), nullptr);
        EXPECT_FALSE(tip->AcceptsFocus());
        auto* box = wxDynamicCast(dialog.FindWindow("tipBox"), wxScrolledWindow);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->HasScrollbar(wxVERTICAL));
        EXPECT_GT(box->GetVirtualSize().y, box->GetClientSize().y) << "the 999 characters do not fit";
        EXPECT_EQ(wxWindow::FindFocus(), dialog.FindWindow("close"));
        // The check box changed, then Escape: the dialog ends as cancelled.
        static_cast<wxCheckBox*>(dialog.FindWindow("startup"))->SetValue(true);
        wxKeyEvent escape(wxEVT_CHAR_HOOK);
        escape.m_keyCode = WXK_ESCAPE;
        escape.SetEventObject(&dialog);
        dialog.ProcessWindowEvent(escape);
        EXPECT_FALSE(dialog.IsModal());
      },
      [this] { Command(ID_SHOW_TIP); });
  EXPECT_EQ(values.GetProfileInt("Tip", "StartUp", -1), 1) << "Escape writes nothing";
  CTipDlg::SetTipsFilePath("");
}

TEST_F(WindowUseTest, TheTipsAtStartUpBelongToTheShownFrame) {
  Write(dir / "wexo.ini", "[Tip]\r\nStartUp=0\r\n");
  Write(dir / "tips.txt", "First tip.\nSecond tip.\n");
  CTipDlg::SetTipsFilePath((dir / "tips.txt").string());
  ASSERT_TRUE(Start());
  bool seen = false;
  WhileOpen(
      "tipDialog",
      [&](wxDialog& dialog) {
        seen = true;
        EXPECT_EQ(dialog.GetParent(), app->Frame());
        EXPECT_TRUE(app->Frame()->IsShown());
        EXPECT_EQ(app->Host().Parent(), &dialog);
        PumpUntil([] { return false; }, 0.5);
        Screenshot("tips-at-startup");
        dialog.EndModal(wxID_CANCEL);
      },
      [&] { PumpUntil([&] { return seen; }, 10); });
  CTipDlg::SetTipsFilePath("");
}

TEST_F(WindowUseTest, FtpAndEMailDialogsOpenOnTheirFirstControl) {
  ASSERT_TRUE(Start());
  FtpDialogModel ftp(values, "http://site.test/");
  WhileOpen(
      "ftpDialog",
      [](wxDialog& dialog) {
        EXPECT_EQ(wxWindow::FindFocus(), dialog.FindWindow("host"));
        dialog.EndModal(wxID_CANCEL);
      },
      [&] { app->Host().FtpDialog(ftp); });
  for (int on : {0, 1}) {
    CEMailDlg mail(values);
    mail.m_mail.EMail = on;
    WhileOpen(
        "EMailDialog",
        [](wxDialog& dialog) {
          EXPECT_EQ(wxWindow::FindFocus(), dialog.FindWindow(CEMailDlg::kEMail));
          dialog.EndModal(wxID_CANCEL);
        },
        [&] { ShowEMailDialog(app->Frame(), mail); });
  }
}

TEST_F(WindowUseTest, ABrokenOnlyListGetsTheRowsOfRecordsThatEndBroken) {
  Write(dir / "wexo.ini", "[Tip]\r\nStartUp=1\r\n[Options]\r\nShowBrokenOnly=1\r\n");
  ASSERT_TRUE(Start());
  Write(
      dir / "site/index.html",
      "<html><body><a href=\"gone1.html\">1</a><a href=\"gone2.html\">2</a><a href=\"here.html\">3</a></body></html>");
  Write(dir / "site/here.html", "<html><body></body></html>");
  Write(dir / "list.txt", "file://" + (dir / "site/index.html").string() + "\n");
  nextFile = (dir / "list.txt").string();
  long rowsAtEnd = -1;
  answer = [&](const std::string& text, BoxKind kind) {
    if (text == "Link tolvak finished. Do you want a report?")
      rowsAtEnd = app->Frame()->GetActiveListView()->Rows()->GetItemCount();
    return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
  };
  auto checkEnds = [&] {
    rowsAtEnd = -1;
    return PumpUntil([&] { return rowsAtEnd >= 0; });
  };
  auto sorted = [](std::vector<std::uint32_t> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  Command(ID_CMD_CHECK_URL_LIST);
  ASSERT_EQ(Documents().size(), 1u);
  CWexoDoc& doc = Documents()[0]->Engine();
  ASSERT_TRUE(checkEnds());
  ASSERT_EQ(doc.GetLinkCount(), 5u);
  EXPECT_TRUE(doc.GetLink(2)->IsBroken() && doc.GetLink(3)->IsBroken());
  EXPECT_EQ(doc.GetLink(4)->m_nStatus, 200);
  // Each broken record got its row at the end as its fetch ended.
  EXPECT_EQ(rowsAtEnd, 2);
  EXPECT_EQ(sorted(RowRecords()), (std::vector<std::uint32_t>{2, 3}));
  Screenshot("broken-only-after-check");
  // Reset entry takes the row away; fetched again and broken again, it is back, last.
  LinkListCtrl* list = app->Frame()->GetActiveListView()->Rows();
  const std::uint32_t first = RowRecords()[0], second = RowRecords()[1];
  list->SelectRow(0);
  Command(ID_RESET_ENTRY);
  EXPECT_EQ(RowRecords(), std::vector<std::uint32_t>{second});
  ASSERT_TRUE(checkEnds());
  EXPECT_EQ(RowRecords(), (std::vector<std::uint32_t>{second, first}));
  // Retry broken empties the list; the retried records that fail again get their rows.
  Command(ID_RETRY_BROKEN);
  EXPECT_TRUE(RowRecords().empty());
  ASSERT_TRUE(checkEnds());
  EXPECT_EQ(rowsAtEnd, 2);
  EXPECT_EQ(sorted(RowRecords()), (std::vector<std::uint32_t>{2, 3}));
  // A rebuild lists the same.
  Command(ID_SHOW_BROKEN_ONLY);
  Command(ID_SHOW_BROKEN_ONLY);
  EXPECT_EQ(RowRecords(), (std::vector<std::uint32_t>{2, 3}));
}

TEST_F(WindowUseTest, AUrlListsLinesAreAboveTheListFileInReverseOrder) {
  ASSERT_TRUE(Start());
  std::string lines;
  for (const char* name : {"a", "b", "c"}) {
    Write(dir / "site" / (std::string(name) + ".html"), "<html><body></body></html>");
    lines += "file://" + (dir / "site" / (std::string(name) + ".html")).string() + "\n";
  }
  Write(dir / "list.txt", lines);
  ASSERT_TRUE(CheckUrlList(dir / "list.txt"));
  CWexoDoc& doc = Documents()[0]->Engine();
  ASSERT_EQ(doc.GetLinkCount(), 4u);
  EXPECT_TRUE(doc.GetUrl(0).ends_with("/list.txt"));
  EXPECT_EQ(RowRecords(), (std::vector<std::uint32_t>{3, 2, 1, 0}));
  // A rebuild lists the table in its order.
  Command(ID_SHOW_BROKEN_ONLY);
  Command(ID_SHOW_BROKEN_ONLY);
  EXPECT_EQ(RowRecords(), (std::vector<std::uint32_t>{0, 1, 2, 3}));
}

TEST_F(WindowUseTest, EveryToolAndCommandTakesItsTextsFromTheTable) {
  ASSERT_TRUE(Start());
  wxMenuBar* menus = app->Frame()->GetMenuBar();
  wxToolBar* tools = app->Frame()->GetToolBar();
  int checked = 0;
  for (const CommandText& text : kCommandTexts) {
    if (wxMenuItem* item = menus->FindItem(text.id)) {
      EXPECT_EQ(item->GetHelp().utf8_string(), text.prompt) << text.id;
      ++checked;
    }
    if (tools->FindById(text.id)) {
      EXPECT_EQ(tools->GetToolShortHelp(text.id).utf8_string(), text.tip) << text.id;
      EXPECT_EQ(tools->GetToolLongHelp(text.id).utf8_string(), text.prompt) << text.id;
      ++checked;
    }
  }
  EXPECT_GE(checked, 25);
  EXPECT_EQ(tools->GetToolShortHelp(ID_STOP_NOW), "Emergency Stop");
  EXPECT_EQ(tools->GetToolLongHelp(ID_STOP_NOW), "Stop");
  EXPECT_EQ(tools->GetToolLongHelp(ID_FIND), "Search URL and Title");
}

}  // namespace
