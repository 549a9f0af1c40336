// The tips dialog's Next and check box, the About dialog and its FAQ button, and the FTP
// dialog's fields stored without the password.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include "engine/Application.h"
#include "engine/FtpDialogModel.h"
#include "gui/support/GuiApp.h"
#include "ui/AboutDlg.h"
#include "ui/Commands.h"
#include "ui/MainFrame.h"
#include "ui/TipDlg.h"

namespace {

using namespace wexo_gui;

class SmallDialogsTest : public GuiTest {
 protected:
  void Click(wxWindow* button) {
    ASSERT_NE(button, nullptr);
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
  }
  // The tip as shown: wrapped to its box, '&' as it stands.
  std::string Tip(wxDialog& dialog) {
    return wxControl::RemoveMnemonics(dialog.FindWindow("tip")->GetLabel()).utf8_string();
  }
  std::string Value(wxDialog& dialog, const char* name) {
    return static_cast<wxTextCtrl*>(dialog.FindWindow(name))->GetValue().utf8_string();
  }
  void SetValue(wxDialog& dialog, const char* name, const char* text) {
    static_cast<wxTextCtrl*>(dialog.FindWindow(name))->SetValue(text);
  }
};

TEST_F(SmallDialogsTest, TipsShowTheNextTipAndCloseKeepsTheCheckBox) {
  Write(dir / "tips.txt", "; comment\nFirst tip.\nSecond tip.\n");
  CTipDlg::SetTipsFilePath((dir / "tips.txt").string());
  ASSERT_TRUE(Start());
  WhileOpen(
      "tipDialog",
      [this](wxDialog& dialog) {
        // The start-up read the first tip without showing it.
        EXPECT_EQ(Tip(dialog), "Second tip.\n");
        EXPECT_FALSE(static_cast<wxCheckBox*>(dialog.FindWindow("startup"))->GetValue()) << "StartUp=1 in the test";
        Click(dialog.FindWindow("nextTip"));
        EXPECT_EQ(Tip(dialog), "First tip.\n");
        Click(dialog.FindWindow("nextTip"));
        EXPECT_EQ(Tip(dialog), "Second tip.\n");
        static_cast<wxCheckBox*>(dialog.FindWindow("startup"))->SetValue(true);
        Screenshot("tips");
        Click(dialog.FindWindow("close"));
      },
      [this] { Command(ID_SHOW_TIP); });
  EXPECT_EQ(values.GetProfileInt("Tip", "StartUp", -1), 0);
  EXPECT_EQ(values.GetProfileInt("Tip", "FilePos", -1), 33) << "after the second tip, read last";
  CTipDlg::SetTipsFilePath("");
}

TEST_F(SmallDialogsTest, AboutShowsTheTitleAndItsFaqOpensTheReadme) {
  // A stand-in for xdg-open writes what it was asked to open.
  Write(dir / "bin/xdg-open", "#!/bin/sh\necho \"$1\" > '" + (dir / "opened").string() + "'\n");
  ::chmod((dir / "bin/xdg-open").c_str(), 0755);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", ((dir / "bin").string() + ":" + path).c_str(), 1);
  // The README beside this test program stands for the installed one.
  if (!std::filesystem::exists(InstalledReadmePath()))
    std::filesystem::copy_file(std::string(WEXO_SOURCE_DIR) + "/README.md", InstalledReadmePath());
  ASSERT_TRUE(Start());
  WhileOpen(
      "aboutDialog",
      [this](wxDialog& dialog) {
        EXPECT_EQ(dialog.GetTitle(), "About Wexo");
        EXPECT_EQ(dialog.FindWindow("title")->GetLabel().utf8_string(), WexoApplication::GetProductTitle());
        Screenshot("about");
        Click(dialog.FindWindow("faq"));
        EXPECT_TRUE(PumpUntil([this] { return !ReadAll(dir / "opened").empty(); }, 10));
        dialog.EndModal(wxID_OK);
      },
      [this] { Command(ID_APP_ABOUT); });
  ::setenv("PATH", path.c_str(), 1);
  const std::string opened = ReadAll(dir / "opened");
  EXPECT_EQ(opened, InstalledReadmePath() + "\n") << "the file URL, opened as its path";
  EXPECT_TRUE(boxes.empty());
}

TEST_F(SmallDialogsTest, FtpDialogStoresItsFieldsButNeverThePassword) {
  ASSERT_TRUE(Start());
  const std::string root = "http://site.test/";
  FtpDialogModel model(values, root);
  bool ok = false;
  WhileOpen(
      "ftpDialog",
      [this, &root](wxDialog& dialog) {
        EXPECT_EQ(dialog.FindWindow("root")->GetLabel().utf8_string(), root);
        EXPECT_EQ(Value(dialog, "defaultPage"), "index.html");
        SetValue(dialog, "host", "ftp.site.test:2121");
        SetValue(dialog, "user", "alice");
        SetValue(dialog, "password", "secret");
        SetValue(dialog, "dir", "www");
        static_cast<wxCheckBox*>(dialog.FindWindow("passive"))->SetValue(true);
        Screenshot("ftp");
        Click(dialog.FindWindow(wxID_OK));
      },
      [&] { ok = app->Host().FtpDialog(model); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(model.m_csFtpPassword, "secret");
  const std::string ini = ReadAll(dir / "wexo.ini");
  EXPECT_NE(ini.find("Host=ftp.site.test:2121"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Passive=1"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("secret"), std::string::npos) << ini;

  // Everything but the password stored: it opens with the focus in the empty password.
  FtpDialogModel again(values, root);
  WhileOpen(
      "ftpDialog",
      [this](wxDialog& dialog) {
        EXPECT_EQ(Value(dialog, "user"), "alice");
        EXPECT_EQ(Value(dialog, "password"), "");
        EXPECT_EQ(wxWindow::FindFocus(), dialog.FindWindow("password"));
        Click(dialog.FindWindow(wxID_CANCEL));
      },
      [&] { ok = app->Host().FtpDialog(again); });
  EXPECT_FALSE(ok);
}

}  // namespace
