// A batch command line run as its own process: in the window when the display opens, by the
// headless host when it does not.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

class BatchWindow : public ::testing::Test {
 protected:
  BatchWindow() {
    dir = std::filesystem::temp_directory_path() / ("wexo-batchwin-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  ~BatchWindow() override { std::filesystem::remove_all(dir); }

  // Runs the program with args in dir; while it runs, each box it shows is answered with
  // Return (boxes). The exit code, -1 when it hung.
  int Run(const std::string& env, const std::string& args, bool answerBoxes = false) {
    const std::string d = dir.string();
    std::string script = "cd '" + d + "' && export WEXO_INI='" + d + "/wexo.ini' TMPDIR='" + d + "' " + env + "; " +
                         "timeout 60 '" + WEXO_EXE + "' " + args + " >out.log 2>err.log & pid=$!; ";
    if (answerBoxes)
      script +=
          "id=$(timeout 30 xdotool search --sync --onlyvisible --name '^Wexo$' | head -1); "
          "[ -n \"$id\" ] && xdotool windowfocus --sync \"$id\" key Return; ";
    script += "wait $pid";
    const int status = std::system(("bash -c \"" + Escape(script) + "\"").c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) != 124 ? WEXITSTATUS(status) : -1;
  }
  static std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
      if (c == '"' || c == '\\' || c == '$' || c == '`') out += '\\';
      out += c;
    }
    return out;
  }
  std::string Log() {
    std::ifstream in(dir / "err.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir;
  const std::string site = "file://" + std::string(WEXO_SOURCE_DIR) + "/examples/site/index.html";
};

TEST_F(BatchWindow, WritesItsOutputsAndExitsZero) {
  ASSERT_EQ(Run("", "-url " + site + " -export all.txt -save check.wxo"), 0) << Log();
  EXPECT_TRUE(std::filesystem::exists(dir / "all.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "check.wxo"));
  // It ran in the window: the headless host would have printed its boxes.
  EXPECT_EQ(Log().find("wexo: "), std::string::npos) << Log();
}

// GTK and GLib report a call on the wrong kind of widget on stderr ("Gtk-CRITICAL **: ...",
// "GLib-GObject-WARNING **: ..."); the run opens the frame and a tab.
TEST_F(BatchWindow, ItsWindowAndTabDrawWithoutToolkitWarnings) {
  ASSERT_EQ(Run("", "-url " + site + " -save check.wxo"), 0) << Log();
  ASSERT_TRUE(std::filesystem::exists(dir / "check.wxo"));
  for (const char* level : {"-CRITICAL **", "-WARNING **"}) EXPECT_EQ(Log().find(level), std::string::npos) << Log();
}

TEST_F(BatchWindow, ExitsOneWhenAnOutputCannotBeWritten) {
  EXPECT_EQ(Run("", "-url " + site + " -export '" + (dir / "no" / "such" / "all.txt").string() + "'", true), 1)
      << Log();
}

// The document the command line names cannot be opened: its box, then 1.
TEST_F(BatchWindow, ExitsOneWhenTheDocumentCannotBeOpened) {
  EXPECT_EQ(Run("", "missing.wxo -export all.txt", true), 1) << Log();
  EXPECT_FALSE(std::filesystem::exists(dir / "all.txt"));
}

TEST_F(BatchWindow, AnUnopenableDisplayFallsBackToTheHeadlessHost) {
  EXPECT_EQ(Run("DISPLAY=:97", "-url " + site + " -export all.txt"), 0) << Log();
  EXPECT_TRUE(std::filesystem::exists(dir / "all.txt"));
  // Not a batch run: how to use the program, and 2.
  EXPECT_EQ(Run("DISPLAY=:97", ""), 2);
  EXPECT_NE(Log().find("usage: wexo"), std::string::npos) << Log();
}

}  // namespace
