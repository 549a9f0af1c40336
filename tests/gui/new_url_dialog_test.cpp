// Check URL: the starting-point dialog over the frame; OK starts the check in a new tab, a
// stored profile is offered and loaded, Cancel leaves no document.
#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/textctrl.h>

#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "ui/Commands.h"
#include "ui/MainFrame.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

const std::string kQuestion = "Link tolvak finished. Do you want a report?";

class NewUrlDialogTest : public GuiTest {
 protected:
  // Runs Check URL; drive runs once the dialog is up.
  void CheckUrl(std::function<void(wxDialog&)> drive) {
    app->Frame()->UpdateWindowUI(wxUPDATE_UI_RECURSE);
    ASSERT_TRUE(app->Frame()->GetMenuBar()->IsEnabled(ID_CMD_CHECK_URL));
    ASSERT_EQ(app->Frame()->GetMenuBar()->FindItem(ID_CMD_CHECK_URL)->GetItemLabel(), "Check &URL...\tCtrl+N");
    bool driven = false;
    app->CallAfter([&] {
      wxDialog* dialog = nullptr;
      for (wxWindow* w : wxTopLevelWindows)
        if (w->GetName() == "NewUrlDialog" && w->IsShown()) dialog = wxDynamicCast(w, wxDialog);
      ASSERT_NE(dialog, nullptr);
      driven = true;
      drive(*dialog);
      if (dialog->IsModal()) dialog->EndModal(wxID_CANCEL);  // a failed step ends the dialog
    });
    Command(ID_CMD_CHECK_URL);
    EXPECT_TRUE(driven);
  }
  template <class T>
  static T* Control(wxDialog& dialog, const char* name) {
    return wxDynamicCast(dialog.FindWindow(name), T);
  }
  static void Click(wxDialog& dialog, wxWindow* button) {
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
  }
  static std::vector<std::string> Lines(wxListBox* list) {
    std::vector<std::string> lines;
    for (unsigned i = 0; i < list->GetCount(); ++i) lines.push_back(list->GetString(i).utf8_string());
    return lines;
  }
  void AnswerTheEnd() {
    answer = [this](const std::string& text, BoxKind kind) {
      if (text == kQuestion) ended = true;
      return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    };
  }
  bool ended = false;
};

TEST_F(NewUrlDialogTest, TypedUrlAndOkRunTheCheckInANewTab) {
  values.WriteProfileString("Recent URL List", "URL0", "http://recent.example/");
  ASSERT_TRUE(Start());
  // A folder with non-ASCII letters: the file URL reaches the engine as UTF-8.
  const auto site = dir / "s\xC3\xAEte";
  Write(site / "index.html", "<html><body><a href=\"page.html\">p</a></body></html>");
  Write(site / "page.html", "<html><body>p</body></html>");
  AnswerTheEnd();
  std::string typedShown;
  CheckUrl([&](wxDialog& dialog) {
    EXPECT_EQ(dialog.GetTitle(), "Wexo's starting point");
    auto* url = Control<wxComboBox>(dialog, "Url");
    ASSERT_NE(url, nullptr);
    ASSERT_EQ(url->GetCount(), 1u);
    EXPECT_EQ(url->GetString(0), "http://recent.example/");
    // Local file... gives the chosen file's URL.
    nextFile = (site / "index.html").string();
    Click(dialog, dialog.FindWindow("LocalFile"));
    typedShown = url->GetValue().utf8_string();
    Control<wxTextCtrl>(dialog, "ExcludeEdit")->ChangeValue("http://nowhere.example/");
    Click(dialog, dialog.FindWindow("ExcludeAdd"));
    Screenshot("new-url-dialog-filled");
    Click(dialog, dialog.FindWindow(wxID_OK));
  });
  EXPECT_EQ(typedShown, "file://" + (site / "index.html").string());
  ASSERT_EQ(Documents().size(), 1u);
  ASSERT_TRUE(PumpUntil([this] { return ended; })) << "no end question";
  CWexoDoc& doc = Documents()[0]->Engine();
  EXPECT_EQ(doc.GetUrl(0), typedShown);
  EXPECT_EQ(doc.GetExcludes(), (std::vector<std::string>{"http://nowhere.example/"}));
  ASSERT_EQ(doc.GetLinkCount(), 2u) << doc.GetLink(0)->m_nStatus << " " << doc.GetLink(0)->GetStatusText();
  for (std::size_t i = 0; i < doc.GetLinkCount(); ++i) EXPECT_FALSE(doc.GetLink(i)->IsBroken()) << doc.GetUrl(i);
  EXPECT_FALSE(doc.IsBatch());
  auto* view = app->Frame()->GetActiveListView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->Engine(), &doc);
  EXPECT_EQ(view->Rows()->GetItemCount(), 2);
  EXPECT_EQ(app->Frame()->m_saRecentUrls.front(), typedShown);
  Screenshot("new-url-dialog-check-done");

  // A typed URL without a scheme gets "http://"; the recent list offers the last one.
  ended = false;
  CheckUrl([&](wxDialog& dialog) {
    auto* url = Control<wxComboBox>(dialog, "Url");
    ASSERT_EQ(url->GetCount(), 2u);
    EXPECT_EQ(url->GetString(0).utf8_string(), typedShown);
    EXPECT_EQ(url->GetString(1), "http://recent.example/");
    url->SetValue("127.0.0.1:1/");
    Click(dialog, dialog.FindWindow(wxID_OK));
  });
  ASSERT_EQ(Documents().size(), 2u);
  EXPECT_EQ(Documents()[1]->Engine().GetUrl(0), "http://127.0.0.1:1/");
  EXPECT_TRUE(PumpUntil([this] { return ended; })) << "no end question";
}

TEST_F(NewUrlDialogTest, StoredProfileIsOfferedAndLoadedAndCancelLeavesNoDocument) {
  ASSERT_TRUE(Start());
  const std::string root = "http://p.example/";
  values.WriteProfileString((root + "-Options").c_str(), "Profile", "1");
  values.WriteProfileString((root + "-Options").c_str(), "CheckExternal", "0");
  values.WriteProfileString((root + "-Include").c_str(), "String1", "http://p.example/a/");
  values.WriteProfileString((root + "-Include").c_str(), "Enable1", "1");
  values.WriteProfileString((root + "-Include").c_str(), "String2", "http://p.example/b/");
  // The question's default is No: only a Yes loads the profile over the user's edits.
  answer = [](const std::string&, BoxKind kind) {
    return kind == BoxKind::QuestionDefaultNo ? BoxAnswer::Yes : BoxAnswer::Ok;
  };
  std::vector<std::string> before, after;
  bool external = true;
  CheckUrl([&](wxDialog& dialog) {
    auto* include = Control<wxListBox>(dialog, "IncludeList");
    Control<wxTextCtrl>(dialog, "IncludeEdit")->ChangeValue("http://mine.example/");
    Click(dialog, dialog.FindWindow("IncludeAdd"));
    before = Lines(include);
    // Typed character by character: the profile is offered once the text names it.
    auto* url = Control<wxComboBox>(dialog, "Url");
    for (char c : root) url->WriteText(wxString(c));
    after = Lines(include);
    external = Control<wxCheckBox>(dialog, "CheckExternal")->GetValue();
    EXPECT_EQ(url->GetValue().utf8_string(), root);
    Screenshot("new-url-dialog-profile");
    Click(dialog, dialog.FindWindow(wxID_CANCEL));
  });
  EXPECT_EQ(before, (std::vector<std::string>{" \thttp://mine.example/"}));
  EXPECT_EQ(after, (std::vector<std::string>{" \thttp://p.example/a/", "!\thttp://p.example/b/"}));
  EXPECT_FALSE(external);
  int questions = 0;
  for (const auto& [text, kind] : boxes) questions += kind == BoxKind::QuestionDefaultNo;
  EXPECT_EQ(questions, 1);
  PumpUntil([] { return false; }, 0.3);
  EXPECT_TRUE(Documents().empty()) << "Cancel leaves no document";
  EXPECT_EQ(values.GetProfileString("Recent URL List", "URL0", ""), "") << "Cancel writes nothing";
}

}  // namespace
