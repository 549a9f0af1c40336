#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "engine/Application.h"

namespace {

CWexoApp app;

CCommandLineInfoEx Parse(const std::vector<std::string>& args) {
  app = CWexoApp{};
  CCommandLineInfoEx info;
  ParseCommandLine(info, args);
  ApplyCommandLine(info, app);
  return info;
}

TEST(CommandLine, LevelValues) {
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"-url", "http://h/"}, 9999},
      {{"-url", "http://h/", "-level", "0"}, 9999},
      {{"-url", "http://h/", "-level", "-5"}, 9999},
      {{"-url", "http://h/", "-level", "abc"}, 9999},
      {{"-url", "http://h/", "-level", "3"}, 3},
      {{"-url", "http://h/", "-level", "12x"}, 12},
      {{"-url", "http://h/", "-level", "40000"}, 32767},
  };
  for (const auto& [args, level] : cases) {
    Parse(args);
    EXPECT_EQ(app.m_nLevel, level) << args.back();
  }
}

TEST(CommandLine, SwitchesValuesAndBatch) {
  CCommandLineInfoEx info = Parse({"-url", "http://h/", "-export", "/tmp/x.txt", "-retrybroken"});
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfoEx::FileNew);
  EXPECT_EQ(app.m_csUrl, "http://h/");
  EXPECT_EQ(app.m_csExport, "/tmp/x.txt");
  EXPECT_EQ(app.m_bRetryBroken, 1);
  EXPECT_TRUE(app.m_bBatch);

  info = Parse({"-url"});
  EXPECT_EQ(app.m_csUrl, "TRUE") << "a value switch without its value";

  info = Parse({"site.wxo", "-export", "/abs/out.txt"});
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfoEx::FileOpen);
  EXPECT_EQ(info.m_strFileName, "site.wxo");
  EXPECT_EQ(app.m_csExport, "/abs/out.txt") << "an absolute path is a value, not a switch";

  info = Parse({"-URL", "http://h/"});
  EXPECT_TRUE(app.m_csUrl.empty()) << "switch names are case-sensitive";
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfoEx::FileOpen);
  EXPECT_EQ(info.m_strFileName, "http://h/");

  info = Parse({"/url", "http://h/", "-level", "2"});
  EXPECT_EQ(app.m_csUrl, "http://h/") << "'/' before a switch name is a switch";

  info = Parse({"-level", "2"});
  EXPECT_FALSE(app.m_bBatch) << "level alone is no batch run";
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfoEx::FileOpen) << "its value names the file to open";

  info = Parse({});
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfoEx::FileNothing);
  EXPECT_FALSE(app.m_bBatch);
}

TEST(CommandLine, SwitchTokens) {
  EXPECT_TRUE(IsSwitchToken("-anything"));
  EXPECT_TRUE(IsSwitchToken("/export"));
  EXPECT_FALSE(IsSwitchToken("/home/u/site/index.html"));
  EXPECT_FALSE(IsSwitchToken("/"));
  EXPECT_FALSE(IsSwitchToken("-"));
  EXPECT_FALSE(IsSwitchToken("plain"));
}

}  // namespace
