// The windowed program driven inside the test: start, a check run from a URL list, the close
// guards, the abort box, saving and opening documents.
#include <gtest/gtest.h>

#include <regex>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/toolbar.h>

#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "gui/support/SilentServer.h"
#include "ui/Commands.h"
#include "ui/MainFrame.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

const std::string kSite = std::string(WEXO_SOURCE_DIR) + "/examples/site/";
const std::string kQuestion = "Link tolvak finished. Do you want a report?";

class WindowTest : public GuiTest {
 protected:
  // Starts a check of the example site with Check URL List and runs it to its end question,
  // noting the status panes when the question comes.
  void CheckExampleSite() {
    const auto list = dir / "list.txt";
    Write(list, "file://" + kSite + "index.html\n");
    nextFile = list.string();
    answer = [this](const std::string& text, BoxKind kind) {
      if (text == kQuestion) panesAtEnd = {Pane(PANE_THREADS), Pane(PANE_PROGRESS), Pane(PANE_ELAPSED)};
      return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    };
    Command(ID_CMD_CHECK_URL_LIST);
    ASSERT_EQ(Documents().size(), 1u);
    ASSERT_TRUE(PumpUntil([this] { return !panesAtEnd.empty(); })) << "no end question";
  }
  // Every record's URL and status, in table order.
  static std::vector<std::string> Table(CWexoDoc& doc) {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i)
      rows.push_back(doc.GetUrl(i) + " " + std::to_string(doc.GetLink(i)->m_nStatus));
    return rows;
  }
  std::vector<std::string> panesAtEnd;
};

TEST_F(WindowTest, PlainStartShowsTheFrameAndNoDocument) {
  ASSERT_TRUE(Start());
  CMainFrame* frame = app->Frame();
  ASSERT_TRUE(frame && frame->IsShown());
  EXPECT_EQ(frame->GetTitle().utf8_string(), "Wexo's Link Tolvak 1.3.9 beta");
  EXPECT_TRUE(Documents().empty());
  EXPECT_EQ(frame->GetStatusBar()->GetFieldsCount(), 4);
  EXPECT_EQ(Pane(PANE_READY), "Ready");
  frame->UpdateWindowUI(wxUPDATE_UI_RECURSE);
  wxMenuBar* menus = frame->GetMenuBar();
  // The frame's own commands work without a document.
  for (int id : {ID_CMD_CHECK_URL, ID_PREFERENCES, ID_SHOW_TIP, ID_APP_ABOUT}) EXPECT_TRUE(menus->IsEnabled(id)) << id;
  EXPECT_TRUE(menus->IsEnabled(ID_CMD_CHECK_URL_LIST));
  EXPECT_TRUE(menus->IsEnabled(wxID_OPEN));
  EXPECT_EQ(menus->FindItem(ID_CMD_CHECK_URL)->GetHelp(), "Check web site");
  wxToolBar* tools = frame->GetToolBar();
  for (int id : {ID_FIND, ID_STOP_NOW}) EXPECT_FALSE(tools->GetToolEnabled(id)) << id;
  EXPECT_TRUE(tools->GetToolEnabled(ID_CMD_CHECK_URL));
  EXPECT_EQ(tools->GetToolShortHelp(wxID_OPEN), "Open");
  Screenshot("before");
}

TEST_F(WindowTest, CheckUrlListRunsToTheEndQuestion) {
  ASSERT_TRUE(Start());
  CheckExampleSite();
  CWexoDoc& doc = Documents()[0]->Engine();
  EXPECT_TRUE(doc.IsFinished());
  ASSERT_EQ(panesAtEnd.size(), 3u);
  EXPECT_EQ(panesAtEnd[0], "Threads: 0  ");
  const std::string all = std::to_string(doc.GetLinkCount());
  EXPECT_EQ(panesAtEnd[1], all + " of " + all + " URLs (100 %) done");
  EXPECT_TRUE(std::regex_match(panesAtEnd[2], std::regex("0:00:0[0-9]"))) << panesAtEnd[2];
  // The list shows a row per record.
  auto* view = app->Frame()->GetActiveListView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(static_cast<std::size_t>(view->Rows()->GetItemCount()), doc.GetLinkCount());
  EXPECT_GT(doc.GetLinkCount(), 5u);
  // The list's line is above the list file; the links found come after them.
  EXPECT_EQ(view->Rows()->GetItemText(0).utf8_string(), doc.GetUrl(1));
  EXPECT_EQ(view->Rows()->GetItemText(1).utf8_string(), doc.GetUrl(0));
  EXPECT_EQ(view->Rows()->GetItemText(2).utf8_string(), doc.GetUrl(2));
  Screenshot("after");
}

TEST_F(WindowTest, CloseGuardListsRunningWorkersAndKeepsTheWindow) {
  SilentServer server;
  ASSERT_NE(server.port, 0);
  ASSERT_TRUE(Start());
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/slow";
  Write(dir / "list.txt", url + "\n" + url + "2\n");
  nextFile = (dir / "list.txt").string();
  Command(ID_CMD_CHECK_URL_LIST);
  ASSERT_EQ(Documents().size(), 1u);
  CWexoDoc& doc = Documents()[0]->Engine();
  ASSERT_TRUE(PumpUntil([&] { return doc.GetActiveThreadCount() == 2; }, 30));
  EXPECT_TRUE(PumpUntil([&] { return Pane(PANE_THREADS) == "Threads: 2  "; }, 5)) << Pane(PANE_THREADS);
  Screenshot("during");
  boxes.clear();
  EXPECT_FALSE(app->Frame()->Close(false));
  PumpUntil([] { return false; }, 0.2);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].first.starts_with(
      "Wait until all active threads have terminated before closing (press PAUSE and STOP if needed).\n"
      "Active threads: \n\n"))
      << boxes[0].first;
  // A running worker shows its URL alone.
  EXPECT_NE(boxes[0].first.find("\n" + url + "\n"), std::string::npos) << boxes[0].first;
  EXPECT_EQ(boxes[0].first.find("Thread Status"), std::string::npos) << boxes[0].first;
  EXPECT_TRUE(app->Frame()->IsShown());
  EXPECT_EQ(Documents().size(), 1u);
  // Closing the document window is refused the same way.
  boxes.clear();
  auto* view = app->Frame()->GetActiveListView();
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(view->GetFrame()->Close(false));
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(WindowTest, AbortBoxDisablesTheFramePumpsAndAborts) {
  ASSERT_TRUE(Start());
  bool ran = false;
  {
    CLongPass pass(values);
    auto box = app->Host().CreateAbortBox("Creating sitemap...");
    auto* dialog = dynamic_cast<wxDialog*>(wxWindow::FindWindowByName("AbortBox"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->GetTitle(), "Creating sitemap...");
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_FALSE(app->Frame()->IsEnabled());
    box->SetTopText("page 1 of 2");
    bool found = false;
    for (wxWindow* child : dialog->GetChildren())
      if (auto* text = dynamic_cast<wxStaticText*>(child)) found |= text->GetLabel() == "page 1 of 2";
    EXPECT_TRUE(found);
    // A window-manager close of the frame during the pass is refused.
    EXPECT_FALSE(app->Frame()->Close(false));
    EXPECT_TRUE(app->Frame()->IsShown());
    app->CallAfter([&] { ran = true; });
    box->PumpWaitingMessages();
    EXPECT_TRUE(ran);
    auto* abort = dynamic_cast<wxButton*>(dialog->FindWindow(wxID_CANCEL));
    ASSERT_NE(abort, nullptr);
    EXPECT_FALSE(box->IsAborted());
    for (int press = 0; press < 2 && abort->IsEnabled(); ++press) {
      wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
      click.SetEventObject(abort);
      abort->ProcessWindowEvent(click);
    }
    EXPECT_TRUE(box->IsAborted());
    EXPECT_FALSE(abort->IsEnabled());
  }
  EXPECT_TRUE(app->Frame()->IsEnabled());
}

TEST_F(WindowTest, SaveAsThenOpenGivesTheSameTableAndADroppedFileOpens) {
  ASSERT_TRUE(Start());
  CheckExampleSite();
  const std::vector<std::string> table = Table(Documents()[0]->Engine());
  const auto saved = dir / "saved.wxo";
  nextFile = saved.string();
  Command(wxID_SAVEAS);
  ASSERT_TRUE(std::filesystem::exists(saved));
  EXPECT_FALSE(Documents()[0]->IsModified());
  // Saved as itself: the title names the file and it is the newest recent file.
  EXPECT_EQ(Documents()[0]->GetFilename().utf8_string(), saved.string());
  EXPECT_EQ(values.GetProfileString("Recent File List", "File1", ""), saved.string());

  // An open document is only brought to the front: open copies of it.
  const auto copy1 = dir / "copy1.wxo", copy2 = dir / "copy2.wxo";
  std::filesystem::copy_file(saved, copy1);
  std::filesystem::copy_file(saved, copy2);
  nextFile = copy1.string();
  Command(wxID_OPEN);
  ASSERT_EQ(Documents().size(), 2u);
  EXPECT_EQ(Table(Documents()[1]->Engine()), table);

  auto* target = dynamic_cast<wxFileDropTarget*>(app->Frame()->GetDropTarget());
  ASSERT_NE(target, nullptr);
  wxArrayString files;
  files.Add(wxString::FromUTF8(copy2.string()));
  EXPECT_TRUE(target->OnDropFiles(10, 10, files));
  ASSERT_EQ(Documents().size(), 3u);
  EXPECT_EQ(Table(Documents()[2]->Engine()), table);
}

TEST_F(WindowTest, ClosingADocumentForgetsItsViewAndAsksToSaveChanges) {
  ASSERT_TRUE(Start());
  CheckExampleSite();
  WexoDocument* doc = Documents()[0];
  doc->Modify(true);
  ASSERT_NE(app->Frame()->GetActiveListView(), nullptr);
  boxes.clear();
  answer = [](const std::string&, BoxKind) { return BoxAnswer::Cancel; };
  Command(wxID_CLOSE);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "Save changes to Wexo1?");
  EXPECT_EQ(Documents().size(), 1u);
  answer = [](const std::string&, BoxKind) { return BoxAnswer::No; };
  Command(wxID_CLOSE);
  PumpUntil([this] { return Documents().empty(); }, 5);
  EXPECT_TRUE(Documents().empty());
  EXPECT_EQ(app->Frame()->GetActiveListView(), nullptr);
  EXPECT_EQ(Pane(PANE_THREADS), "");
}

}  // namespace
