// The options sheet and the e-mail options dialog on the screen: opened, filled through their
// controls, refused, confirmed and cancelled; the settings file and the documents afterwards.
#include <gtest/gtest.h>

#include <wx/bookctrl.h>
#include <wx/checkbox.h>
#include <wx/propdlg.h>
#include <wx/slider.h>

#include "e2e/support/PeerProcess.h"
#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "ui/Commands.h"
#include "ui/DialogView.h"
#include "ui/EMailDialog.h"
#include "ui/MainFrame.h"
#include "ui/OptionSheet.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

wxWindow* TopLevel(const char* name) {
  for (wxWindow* window : wxTopLevelWindows)
    if (window->GetName() == name && window->IsShown()) return window;
  return nullptr;
}

void Click(wxWindow* dialog, int id) {
  wxWindow* button = dialog->FindWindow(id);
  ASSERT_NE(button, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, id);
  click.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(click);
}

// Checks or clears a check box as a click would, its event included.
void Toggle(WxDialogControls& controls, const char* name, bool on) {
  auto* box = wxDynamicCast(controls.Find(name), wxCheckBox);
  ASSERT_NE(box, nullptr) << name;
  box->SetValue(on);
  wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
  event.SetEventObject(box);
  event.SetInt(on ? 1 : 0);
  box->GetEventHandler()->ProcessEvent(event);
}

void MoveSlider(WxDialogControls& controls, int position) {
  auto* slider = wxDynamicCast(controls.Find(COptionPage1::kThreads), wxSlider);
  ASSERT_NE(slider, nullptr);
  slider->SetValue(position);
  for (wxEventType type : {wxEVT_SCROLL_THUMBTRACK, wxEVT_SCROLL_THUMBRELEASE, wxEVT_SCROLL_CHANGED}) {
    wxScrollEvent event(type, slider->GetId(), position, wxVERTICAL);
    event.SetEventObject(slider);
    slider->GetEventHandler()->ProcessEvent(event);
  }
}

class OptionDialogsTest : public GuiTest {
 protected:
  // A document of a one-page check, run to its end.
  CWexoDoc& OpenCheck(const std::string& name) {
    Write(dir / name / "index.html", "<html><body>No links</body></html>");
    Write(dir / (name + ".txt"), "file://" + (dir / name / "index.html").string() + "\n");
    nextFile = (dir / (name + ".txt")).string();
    const std::size_t before = Documents().size();
    Command(ID_CMD_CHECK_URL_LIST);
    EXPECT_TRUE(PumpUntil([&] { return Documents().size() > before && !Documents().back()->Engine().IsRunning(); }));
    CWexoDoc& doc = Documents().back()->Engine();
    doc.SetModifiedFlag(false);
    boxes.clear();
    return doc;
  }

  // The sheet while it is open: its pages' controls by index.
  struct Sheet {
    wxPropertySheetDialog* dialog = nullptr;
    wxBookCtrlBase* book = nullptr;
    WxDialogControls Page(int i) { return WxDialogControls(*book->GetPage(i)); }
  };
  static Sheet OpenSheet() {
    Sheet sheet;
    sheet.dialog = wxDynamicCast(TopLevel("OptionSheet"), wxPropertySheetDialog);
    if (sheet.dialog) sheet.book = sheet.dialog->GetBookCtrl();
    return sheet;
  }

  std::string Ini(const char* key) { return values.GetProfileString("Options", key, "-"); }
};

TEST_F(OptionDialogsTest, PreferencesWithoutDocumentWriteTheSettingsFileAndEveryDocument) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = OpenCheck("one");
  bool ran = false;
  app->CallAfter([&] {
    ran = true;
    Sheet sheet = OpenSheet();
    ASSERT_NE(sheet.dialog, nullptr);
    EXPECT_EQ(sheet.dialog->GetTitle(), "Options");
    EXPECT_EQ(sheet.dialog->FindWindow(wxID_APPLY), nullptr);
    EXPECT_EQ(sheet.dialog->FindWindow(wxID_HELP), nullptr);
    WxDialogControls basic = sheet.Page(0);
    EXPECT_EQ(basic.GetValue(COptionPage::kAllJobs), 1);
    EXPECT_FALSE(basic.IsEnabled(COptionPage::kAllJobs));
    EXPECT_EQ(basic.GetText(COptionPage1::kCurrent), "30");
    EXPECT_EQ(basic.GetText(COptionPage1::kMaxLevel), "9999");
    Screenshot("options-basic");

    // A bad depth keeps the page in front, and a move of the slider warns once and keeps
    // "Current:".
    basic.SetText(COptionPage1::kMaxLevel, "10000");
    sheet.book->SetSelection(1);
    app->ProcessPendingEvents();
    EXPECT_EQ(sheet.book->GetSelection(), 0);
    MoveSlider(basic, 44);
    EXPECT_EQ(basic.GetText(COptionPage1::kCurrent), "30");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].first, "Please enter a number between 0 and 9999.");
    EXPECT_EQ(boxes[1].first, boxes[0].first);
    basic.SetText(COptionPage1::kMaxLevel, "5");
    MoveSlider(basic, 44);
    EXPECT_EQ(basic.GetText(COptionPage1::kCurrent), "44");
    basic.SetValue("ReportOrphans", 0);

    sheet.book->SetSelection(1);
    EXPECT_EQ(sheet.book->GetSelection(), 1);
    WxDialogControls advanced = sheet.Page(1);
    EXPECT_EQ(advanced.GetText(COptionPage2::kMaxRetry), "1");
    EXPECT_FALSE(advanced.IsEnabled(COptionPage::kAllJobs));
    Screenshot("options-advanced");
    advanced.SetValue("MakeLowerCase", 1);
    advanced.SetText(COptionPage2::kMaxRetry, "11");
    Click(sheet.dialog, wxID_OK);
    EXPECT_TRUE(sheet.dialog->IsModal());
    EXPECT_EQ(boxes.back().first, "Please enter a number between 0 and 10.");
    EXPECT_EQ(wxWindow::FindFocus(), advanced.Find(COptionPage2::kMaxRetry));
    advanced.SetText(COptionPage2::kMaxRetry, "3");
    Click(sheet.dialog, wxID_OK);
  });
  // What Preferences does when no list view takes it (an open document's view takes it first).
  ShowOptionSheet(app->Frame(), nullptr);
  EXPECT_TRUE(ran);
  EXPECT_EQ(OpenSheet().dialog, nullptr);
  EXPECT_EQ(Ini("Threads"), "44");
  EXPECT_EQ(Ini("MaxLevel"), "5");
  EXPECT_EQ(Ini("ReportOrphans"), "0");
  EXPECT_EQ(Ini("MakeLowerCase"), "1");
  EXPECT_EQ(Ini("MaxRetry"), "3");
  EXPECT_EQ(doc.Settings().Threads, 44);
  EXPECT_EQ(doc.Settings().MaxRetry, 3);
  EXPECT_TRUE(doc.IsModified());
}

TEST_F(OptionDialogsTest, OneDocumentOnlyOrCancelled) {
  ASSERT_TRUE(Start());
  CWexoDoc& first = OpenCheck("one");
  CWexoDoc& second = OpenCheck("two");
  for (bool confirm : {false, true}) {
    app->CallAfter([&] {
      Sheet sheet = OpenSheet();
      ASSERT_NE(sheet.dialog, nullptr);
      WxDialogControls basic = sheet.Page(0);
      EXPECT_TRUE(basic.IsEnabled(COptionPage::kAllJobs));
      Toggle(basic, COptionPage::kAllJobs, false);
      MoveSlider(basic, 12);
      basic.SetText(COptionPage1::kMaxLevel, "0");
      Click(sheet.dialog, confirm ? wxID_OK : wxID_CANCEL);
    });
    ShowOptionSheet(app->Frame(), &second);
    EXPECT_EQ(OpenSheet().dialog, nullptr);
    EXPECT_EQ(second.Settings().Threads, confirm ? 12 : 30) << confirm;
    EXPECT_EQ(second.Settings().MaxLevel, confirm ? 0 : 9999) << confirm;
    EXPECT_EQ(second.IsModified(), confirm);
    EXPECT_EQ(first.Settings().Threads, 30);
    EXPECT_FALSE(first.IsModified());
    EXPECT_EQ(Ini("Threads"), "-");
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(OptionDialogsTest, EMailDialogChecksAndReturnsItsFields) {
  ASSERT_TRUE(Start());
  for (bool confirm : {true, false}) {
    CEMailDlg model(values);
    model.m_mail.EMailSubject = "Weekly";
    boxes.clear();
    app->CallAfter([&] {
      auto* dialog = TopLevel("EMailDialog");
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->GetLabel(), "e-mail options");
      WxDialogControls controls(*dialog);
      EXPECT_EQ(controls.GetText(CEMailDlg::kSubject), "Weekly");
      for (const char* name : {CEMailDlg::kTo, CEMailDlg::kTest, CEMailDlg::kOnlyIfBroken})
        EXPECT_FALSE(controls.IsEnabled(name)) << name;
      Toggle(controls, CEMailDlg::kEMail, true);
      for (const char* name : {CEMailDlg::kTo, CEMailDlg::kTest, CEMailDlg::kOnlyIfBroken})
        EXPECT_TRUE(controls.IsEnabled(name)) << name;
      controls.SetText(CEMailDlg::kFrom, "Wexo <wexo@example.org>");
      if (confirm) Screenshot("email-dialog");
      Click(dialog, wxID_OK);
      EXPECT_TRUE(static_cast<wxDialog*>(dialog)->IsModal());
      EXPECT_EQ(wxWindow::FindFocus(), controls.Find(CEMailDlg::kTo));
      controls.SetText(CEMailDlg::kTo, "a@example.org; b@example.org");
      controls.SetText(CEMailDlg::kSmtpServer, "mail.example.org");
      controls.SetValue(CEMailDlg::kOnlyIfBroken, 1);
      Click(dialog, confirm ? wxID_OK : wxID_CANCEL);
    });
    EXPECT_EQ(ShowEMailDialog(app->Frame(), model), confirm);
    EXPECT_EQ(TopLevel("EMailDialog"), nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "'To:' field empty");
    if (confirm) {
      EXPECT_EQ(model.m_mail.EMail, 1);
      EXPECT_EQ(model.m_mail.EMailOnlyIfBroken, 1);
      EXPECT_EQ(model.m_mail.EMailFrom, "Wexo <wexo@example.org>");
      EXPECT_EQ(model.m_mail.EMailTo, "a@example.org; b@example.org");
      EXPECT_EQ(model.m_mail.EMailSmtpServer, "mail.example.org");
      EXPECT_EQ(model.m_mail.EMailSubject, "Weekly");
    }
  }
}

// The Test button against a mail server that takes the message: the box that says so is an
// information, not a warning; a refused recipient's box stays a warning.
TEST_F(OptionDialogsTest, TestMailSuccessIsAnInformation) {
  ASSERT_TRUE(Start());
  wexo_test::PeerProcess smtp;
  std::filesystem::create_directories(dir / "mail");
  std::string error;
  ASSERT_TRUE(wexo_test::StartMailPeer(smtp, (dir / "mail").string(), &error)) << error;
  for (const char* to : {"a@example.org", "nobody@example.org"}) {
    CEMailDlg model(values);
    model.m_mail.EMail = 1;
    model.m_mail.EMailSmtpServer = "127.0.0.1";
    model.m_mail.EMailFrom = "wexo@example.org";
    model.m_mail.EMailTo = to;
    boxes.clear();
    app->CallAfter([&] {
      auto* dialog = TopLevel("EMailDialog");
      ASSERT_NE(dialog, nullptr);
      WxDialogControls controls(*dialog);
      Click(dialog, controls.Find(CEMailDlg::kTest)->GetId());
      Click(dialog, wxID_CANCEL);
    });
    EXPECT_FALSE(ShowEMailDialog(app->Frame(), model));
    ASSERT_EQ(boxes.size(), 1u) << to;
    if (std::string(to) == "a@example.org") {
      EXPECT_EQ(boxes[0].first, "E-Mail message successfully sent");
      EXPECT_EQ(boxes[0].second, BoxKind::Info);
    } else {
      EXPECT_EQ(boxes[0].first.rfind("Failed to send e-mail message: ", 0), 0u) << boxes[0].first;
      EXPECT_EQ(boxes[0].second, BoxKind::Warning);
    }
  }
  unsetenv("WEXO_SMTP_PORT");
}

}  // namespace
