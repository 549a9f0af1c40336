// The tips file: tips in file order with comments and blank lines skipped, the wrap at its
// end, the saved position, a changed file starting again, long lines, and a missing file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ui/TipDlg.h"
#include "unit/support/ControlTable.h"
#include "unit/support/ScriptedHost.h"

namespace {

namespace fs = std::filesystem;

class Tips : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  // Each tip a new dialog reads, n times.
  std::vector<std::string> Cycle(int n) {
    CTipDlg dialog(host.app, host, path);
    std::vector<std::string> tips{dialog.m_csTip};
    for (int i = 1; i < n; ++i) {
      dialog.OnNextTip();
      tips.push_back(dialog.m_csTip);
    }
    return tips;
  }
  int FilePos() { return host.app.GetProfileInt("Tip", "FilePos", -1); }

  TempIni ini;
  ScriptedHost host;
  std::string path = fs::path(ini.Path()).parent_path() / "tips.txt";
};

using Strings = std::vector<std::string>;

TEST_F(Tips, ShowsTheTipLinesInOrderAndWrapsAtTheEnd) {
  Write("; comment\n\n indented\n\ttabbed\nOne\r\nTwo\n;Two and a half\nThree");
  EXPECT_EQ(Cycle(5), (Strings{"One\n", "Two\n", "Three", "One\n", "Two\n"}));
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Tips, EachDialogStartsAfterTheLastTipReadUntilTheFileIsChanged) {
  Write("One\nTwo\nThree\n");
  EXPECT_EQ(Cycle(2), (Strings{"One\n", "Two\n"}));
  EXPECT_EQ(FilePos(), 8);
  EXPECT_EQ(host.app.GetProfileString("Tip", "TimeStamp", ""), CTipDlg::FileTimeText(path));
  EXPECT_EQ(Cycle(1), (Strings{"Three\n"}));
  EXPECT_EQ(Cycle(1), (Strings{"One\n"}));

  // Changed in place, keeping its creation time: the saved place is no line start any more.
  EXPECT_EQ(Cycle(1), (Strings{"Two\n"}));
  Write("Alpha\nBeta\nGamma\n");
  EXPECT_EQ(Cycle(1), (Strings{"Alpha\n"}));

  // A new file (another creation time) starts again even where the place is a line start.
  EXPECT_EQ(Cycle(1), (Strings{"Beta\n"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  fs::remove(path);
  Write("Delta\nEpsilon\nZeta\n");
  EXPECT_EQ(Cycle(1), (Strings{"Delta\n"}));
  EXPECT_EQ(host.app.GetProfileString("Tip", "TimeStamp", ""), CTipDlg::FileTimeText(path));
}

TEST_F(Tips, LinesOf1000CharactersOrMoreComeInPartsOf999) {
  Write(std::string(2500, 'a') + "\nb\n");
  EXPECT_EQ(Cycle(5), (Strings{std::string(999, 'a'), std::string(999, 'a'), std::string(502, 'a') + "\n", "b\n",
                               std::string(999, 'a')}));
}

TEST_F(Tips, AFileWithoutTipsGivesAnEmptyTip) {
  Write("; only\n\n comments\n");
  EXPECT_EQ(Cycle(2), (Strings{"", ""}));
}

TEST_F(Tips, AMissingFileSaysSoAndDisablesNextTip) {
  {
    CTipDlg dialog(host.app, host, path);
    EXPECT_EQ(dialog.m_csTip, "Tips-File not found");
    EXPECT_FALSE(dialog.HasFile());
    ControlTable controls;
    dialog.AttachControls(&controls);
    dialog.OnInitDialog();
    EXPECT_FALSE(controls.At("nextTip").enabled);
    EXPECT_EQ(controls.At("tip").text, "Tips-File not found");
  }
  EXPECT_EQ(FilePos(), -1) << "no position saved";
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Tips, CloseWritesTheStartUpChoice) {
  Write("One\n");
  {
    CTipDlg dialog(host.app, host, path);
    EXPECT_EQ(dialog.m_bStartup, 1) << "StartUp 0 by default: shown";
    ControlTable controls;
    dialog.AttachControls(&controls);
    dialog.OnInitDialog();
    EXPECT_EQ(controls.At("startup").value, 1);
    EXPECT_TRUE(controls.At("nextTip").enabled);
    controls.At("startup").value = 0;
    EXPECT_TRUE(dialog.OnOK());
  }
  EXPECT_EQ(host.app.GetProfileInt("Tip", "StartUp", -1), 1);
  CTipDlg again(host.app, host, path);
  EXPECT_EQ(again.m_bStartup, 0);
}

}  // namespace
