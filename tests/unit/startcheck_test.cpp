#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "unit/support/ScriptedHost.h"

namespace {

class StartCheckTest : public ::testing::Test {
 protected:
  StartCheckTest() {
    dir = std::filesystem::temp_directory_path() / ("wexo-start-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~StartCheckTest() override { std::filesystem::remove_all(dir); }

  std::unique_ptr<CWexoDoc> NewDoc() {
    auto doc = std::make_unique<CWexoDoc>(host.Context());
    view.Attach(*doc);
    return doc;
  }

  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
  std::filesystem::path dir;
};

TEST_F(StartCheckTest, CommandLineRootWithoutProfile) {
  host.app.m_csUrl = "HTTP://Example.COM/docs/index.html";
  host.app.m_nLevel = 4;
  auto doc = NewDoc();
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::CommandLine));
  ASSERT_EQ(doc->GetLinkCount(), 1u);
  EXPECT_EQ(doc->GetUrl(0), "http://Example.COM/docs/index.html");
  EXPECT_EQ(doc->GetRootUrl(), "http://Example.COM/docs/");
  EXPECT_EQ(doc->GetLink(0)->m_wRequestKind, REQUEST_GET);
  EXPECT_EQ(doc->GetLink(0)->m_nLevel, 0);
  EXPECT_TRUE(doc->IsBatch());
  EXPECT_EQ(doc->Settings().AskPassword, 0);
  EXPECT_EQ(doc->Settings().MaxLevel, 4);
  EXPECT_TRUE(doc->Includes().empty());
  EXPECT_TRUE(doc->IsRunning());
  EXPECT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.schedulePosts, 1);
}

// How a new document starts is what its creator asks for, whatever the command line holds:
// Check URL shows the dialog, Check URL List asks for a file, and a command-line start without
// a url switch falls back to the dialog.
TEST_F(StartCheckTest, TheCreatorSaysHowANewCheckStarts) {
  const struct {
    const char* url;
    CheckStart start;
    int dialogs;
    std::size_t fileDialogs;
    bool batch;
  } cases[] = {
      {"http://h/", CheckStart::CommandLine, 0, 0, true},
      {"http://h/", CheckStart::StartingPointDialog, 1, 0, false},
      {"http://h/", CheckStart::UrlList, 0, 1, false},
      {"", CheckStart::CommandLine, 1, 0, false},
  };
  for (const auto& c : cases) {
    host.app.m_csUrl = c.url;
    host.startingPointDialogs = 0;
    host.dialogTitles.clear();
    host.startingPoint = [](CWexoDoc&, StartingPoint& values) {
      values.url = "http://dialog/";
      return true;
    };
    const std::filesystem::path list = dir / "list.txt";
    std::ofstream(list) << "http://listed/\n";
    host.openPaths.assign({list.string()});
    auto doc = NewDoc();
    ASSERT_TRUE(doc->OnNewDocument(c.start)) << c.url << " " << static_cast<int>(c.start);
    EXPECT_EQ(host.startingPointDialogs, c.dialogs) << c.url << " " << static_cast<int>(c.start);
    EXPECT_EQ(host.dialogTitles.size(), c.fileDialogs) << c.url << " " << static_cast<int>(c.start);
    EXPECT_EQ(doc->IsBatch(), c.batch) << c.url << " " << static_cast<int>(c.start);
  }
  // Two command-line starts are two checks of the root: nothing is used up by the first.
  host.app.m_csUrl = "http://h/";
  auto first = NewDoc();
  auto second = NewDoc();
  ASSERT_TRUE(first->OnNewDocument(CheckStart::CommandLine));
  ASSERT_TRUE(second->OnNewDocument(CheckStart::CommandLine));
  EXPECT_EQ(second->GetUrl(0), "http://h/");
}

TEST_F(StartCheckTest, PostRoot) {
  host.app.m_csUrl = "http://h/form.cgi";
  host.app.m_csPost = "a=1&b=2";
  auto doc = NewDoc();
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::CommandLine));
  EXPECT_EQ(doc->GetLink(0)->m_wRequestKind, REQUEST_POST);
  EXPECT_EQ(doc->GetLink(0)->m_csPostData, "a=1&b=2");
}

TEST_F(StartCheckTest, ProfileListsStopAtTheFirstEmptyEntry) {
  const std::string root = "http://h/site/";
  host.app.m_csUrl = root;
  host.app.m_nLevel = 7;
  // Section names are matched without regard to case, as the dialog wrote them.
  ini.Set("HTTP://H/site/-Options", "Profile", "1");
  ini.Set((root + "-Options").c_str(), "CheckExternal", "0");
  ini.Set((root + "-Options").c_str(), "E-Mail-To", "x@y.z");
  ini.Set((root + "-Include").c_str(), "String1", "http://a/");
  ini.Set((root + "-Include").c_str(), "Enable1", "1");
  ini.Set((root + "-Include").c_str(), "String2", "http://b/");
  ini.Set((root + "-Include").c_str(), "Enable2", "0");
  ini.Set((root + "-Include").c_str(), "String3", "http://c/");
  ini.Set((root + "-Include").c_str(), "Enable3", "1");
  ini.Set((root + "-Exclude").c_str(), "String1", "http://h/site/a/");
  ini.Set((root + "-Exclude").c_str(), "Enable1", "1");
  ini.Set((root + "-Exclude").c_str(), "String3", "http://h/site/c/");
  ini.Set((root + "-Exclude").c_str(), "Enable3", "1");
  auto doc = NewDoc();
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::CommandLine));
  EXPECT_EQ(doc->Includes(), (std::vector<std::string>{"http://a/", "http://c/"}));
  EXPECT_EQ(doc->Excludes(), (std::vector<std::string>{"http://h/site/a/"})) << "String2 is empty: the list ends";
  EXPECT_EQ(doc->Settings().CheckExternal, 0);
  EXPECT_EQ(doc->Settings().MaxLevel, 7) << "MaxLevel defaults to the level switch";
  EXPECT_EQ(doc->Settings().EMailTo, "x@y.z");
}

TEST_F(StartCheckTest, DepthsTooBigFor16BitsReadAsTheLargest) {
  ini.Set("Options", "MaxLevel", "40000");
  EXPECT_EQ(NewDoc()->Settings().MaxLevel, 32767);
  const std::string root = "http://deep/";
  host.app.m_csUrl = root;
  ini.Set((root + "-Options").c_str(), "Profile", "1");
  ini.Set((root + "-Options").c_str(), "MaxLevel", "70000");
  auto doc = NewDoc();
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::CommandLine));
  EXPECT_EQ(doc->Settings().MaxLevel, 32767);
}

TEST_F(StartCheckTest, MakeLowerCaseLowersRootAndLists) {
  ini.Set("Options", "MakeLowerCase", "1");
  const std::string root = "http://H/Site/Index.HTML";
  host.app.m_csUrl = root;
  ini.Set((root + "-Options").c_str(), "Profile", "1");
  ini.Set((root + "-Include").c_str(), "String1", "http://A/Mixed/");
  ini.Set((root + "-Include").c_str(), "Enable1", "1");
  auto doc = NewDoc();
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::CommandLine));
  EXPECT_EQ(doc->GetUrl(0), "http://h/site/index.html");
  EXPECT_EQ(doc->Includes(), (std::vector<std::string>{"http://a/mixed/"}));
}

TEST_F(StartCheckTest, UrlList) {
  const std::filesystem::path list = dir / "urls.txt";
  const std::string listUrl = "file://" + list.string();
  {
    std::ofstream out(list, std::ios::binary);
    out << "\xEF\xBB\xBFhttp://a/x\r\n"
        << "\r\n"
        << "   http://b/y   \r\n"
        << "http://a/x\n"
        << "\t\n"
        << listUrl << "\n"
        << "/srv/site/index.html";
  }
  auto cancelled = NewDoc();
  EXPECT_FALSE(cancelled->OnNewDocument(CheckStart::UrlList)) << "a cancelled dialog starts nothing";
  host.openPaths.push_back(list.string());
  auto doc = NewDoc();
  view.rows.clear();
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::UrlList));
  EXPECT_EQ(host.dialogTitles.back(), "Open URL List");
  EXPECT_EQ(doc->GetUrls(),
            (std::vector<std::string>{listUrl, "http://a/x", "http://b/y", "file:///srv/site/index.html"}));
  EXPECT_EQ(doc->Includes(), (std::vector<std::string>{"http://a/x", "http://b/y", "http://a/x", listUrl,
                                                       "file:///srv/site/index.html"}));
  EXPECT_EQ(doc->GetRootUrl(), "file://" + dir.string() + "/");
  ASSERT_EQ(view.rows.size(), 4u);
  EXPECT_EQ(view.rows[0]->GetUrl(), listUrl) << "each record reaches the list as it is added";
  EXPECT_EQ(view.rows[3]->GetUrl(), "file:///srv/site/index.html");
  EXPECT_FALSE(doc->IsBatch());
  EXPECT_EQ(view.schedulePosts, 1);

  host.openPaths.push_back((dir / "missing.txt").string());
  auto missing = NewDoc();
  EXPECT_FALSE(missing->OnNewDocument(CheckStart::UrlList));
  EXPECT_EQ(host.boxes.back(), "File '" + (dir / "missing.txt").string() + "' could not be opened");
}

}  // namespace
