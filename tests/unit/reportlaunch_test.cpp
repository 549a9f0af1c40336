// Opening a document's report in the browser: one report file per document path, recorded in
// [reports]; the stub launcher sees the report's path as one argument; the trace log tells
// each step. The temporary folder's name holds shell text and list separators on purpose.
#include "report/ReportLaunch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/TempFiles.h"
#include "engine/WexoDoc.h"
#include "platform/FileUrl.h"
#include "platform/ShellLaunch.h"
#include "platform/TempDir.h"
#include "report/BrowserLaunch.h"
#include "unit/support/ScriptedHost.h"
#include "unit/support/StubLauncher.h"

namespace {

constexpr std::int64_t kNow = 1765272918;
constexpr const char* kStamp = "09.12.2025 09:35:18";

class ReportLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    savedTmp_ = tmp ? tmp : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    SetClockForTests([] { return kNow; });
    char tmpl[] = "/tmp/wexo-reportlaunch-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    stub_ = std::make_unique<StubLauncher>(base_);
    tmp_ = base_ + "/t $(touch x); a,b";
    ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
    setenv("TMPDIR", tmp_.c_str(), 1);
    folder_ = platform::GetTempPath();
    ASSERT_FALSE(folder_.empty());
    log_ = GetLogFilePath();
  }

  void TearDown() override {
    platform::WaitForShellLaunches();
    SetClockForTests(nullptr);
    stub_.reset();
    if (savedTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", savedTmp_.c_str(), 1);
    ASSERT_EQ(std::system(("rm -rf '" + base_ + "'").c_str()), 0);
  }

  std::unique_ptr<CWexoDoc> NewDoc(const std::string& pathName) {
    auto doc = std::make_unique<CWexoDoc>(host_.Context(nullptr, [] { return kNow; }));
    doc->NewLink("http://site.test/", nullptr, REQUEST_GET);
    doc->SetPathName(pathName);
    return doc;
  }

  std::string Recorded(const std::string& key) { return host_.app.GetProfileString("reports", key.c_str(), ""); }

  // The runs so far, each checked to be one argument, an existing report of ours, opened in
  // its own folder; their paths.
  std::vector<std::string> LaunchedPaths(std::size_t count) {
    std::vector<std::string> paths;
    const std::vector<StubRun> runs = stub_->WaitForRuns(count);
    // Each launch tells its outcome once its launcher has ended.
    host_.RunPostedTasks();
    for (const StubRun& run : runs) {
      EXPECT_EQ(run.args.size(), 1u);
      if (run.args.size() != 1) continue;
      EXPECT_EQ(run.cwd, run.args[0].substr(0, run.args[0].rfind('/')));
      // The shell text in the folder's name never ran: no "x" beside the report or here.
      EXPECT_FALSE(PathExists(run.cwd + "/x"));
      paths.push_back(run.args[0]);
    }
    EXPECT_FALSE(PathExists("x"));
    return paths;
  }

  std::string savedTmp_, base_, tmp_, folder_, log_;
  std::unique_ptr<StubLauncher> stub_;
  TempIni ini_;
  ScriptedHost host_;
};

TEST_F(ReportLaunchTest, SecondLaunchOfADocumentReplacesItsFirstReport) {
  auto doc = NewDoc(base_ + "/site.wxo");
  vLaunchReport(*doc);
  const std::string first = Recorded(base_ + "/site.wxo");
  EXPECT_EQ(LaunchedPaths(1), std::vector<std::string>{first});
  ASSERT_TRUE(IsOurReportFile(first)) << first;
  EXPECT_EQ(first.rfind(folder_, 0), 0u);
  EXPECT_EQ(ReadFileText(first).rfind("<!DOCTYPE HTML PUBLIC", 0), 0u);
  EXPECT_FALSE(PathExists(first.substr(0, first.size() - 4) + ".tmp"));

  const std::string folder = first.substr(0, first.rfind('/'));
  const std::string url = platform::FileUrlFromPath(first);
  EXPECT_EQ(TraceLogLines(log_, kStamp), (std::vector<std::string>{
                                             "WexoDoc, 5412: vLaunchReport () start",
                                             "WexoDoc, 5451: vCreateReport () before",
                                             "WexoDoc, 5462: vCreateReport () after, csFileName = '" + first + "'",
                                             "Wexo, 538: vLaunchURL ('" + url + "') start",
                                             "Wexo, 559: UseDDE = 1",
                                             "Wexo, 579: szCmd = ''",
                                             "Wexo, 597: szDdeExec = ''",
                                             "Wexo, 615: szApplication = ''",
                                             "Wexo, 633: szTopic = ''",
                                             "Wexo, 510: ShellExecute(0x00000000,'open','" + first + "',NULL,'" +
                                                 folder + "',SW_SHOWNORMAL) = 42 (ok)",
                                             // Done once its launcher has ended, as the launch itself tells.
                                             "WexoDoc, 5479: vLaunchReport () done",
                                         }));

  vLaunchReport(*doc);
  const std::string second = Recorded(base_ + "/site.wxo");
  EXPECT_NE(second, first);
  EXPECT_TRUE(IsOurReportFile(second)) << second;
  std::vector<std::string> launched = LaunchedPaths(2);
  // Removed in its place among the launches: after the first had opened it.
  EXPECT_FALSE(PathExists(first));
  std::sort(launched.begin(), launched.end());
  std::vector<std::string> expected = {first, second};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(launched, expected);
  EXPECT_TRUE(host_.boxes.empty());
}

// A report opened while an earlier launch still waits for its launcher: its steps are logged
// after that launch's outcome, and its launcher starts once the earlier one has ended.
TEST_F(ReportLaunchTest, AReportAfterASlowLaunchComesAfterIt) {
  ini_.Set("Options", "UseDDE", "0");
  stub_->SetExit(0, 0.3);
  const std::string url = "http://site.test/page";
  vLaunchURL(host_.app, host_, url, 0);
  auto doc = NewDoc("");
  vLaunchReport(*doc);
  const std::string report = Recorded("");
  stub_->WaitForRuns(2);
  host_.RunPostedTasks();
  EXPECT_EQ(stub_->Order(),
            (std::vector<std::string>{"start " + url, "end " + url, "start " + report, "end " + report}));
  const std::string folder = report.substr(0, report.rfind('/'));
  EXPECT_EQ(
      TraceLogLines(log_, kStamp),
      (std::vector<std::string>{
          "Wexo, 538: vLaunchURL ('" + url + "') start",
          "Wexo, 559: UseDDE = 0",
          "Wexo, 510: ShellExecute(0x00000000,'open','" + url + "',NULL,NULL,SW_SHOWNORMAL) = 42 (ok)",
          "WexoDoc, 5412: vLaunchReport () start",
          "WexoDoc, 5451: vCreateReport () before",
          "WexoDoc, 5462: vCreateReport () after, csFileName = '" + report + "'",
          "Wexo, 538: vLaunchURL ('" + platform::FileUrlFromPath(report) + "') start",
          "Wexo, 559: UseDDE = 0",
          "Wexo, 510: ShellExecute(0x00000000,'open','" + report + "',NULL,'" + folder + "',SW_SHOWNORMAL) = 42 (ok)",
          "WexoDoc, 5479: vLaunchReport () done",
      }));
}

TEST_F(ReportLaunchTest, NeverSavedDocumentsShareTheEmptyKey) {
  auto saved = NewDoc(base_ + "/site.wxo");
  vLaunchReport(*saved);
  auto one = NewDoc("");
  vLaunchReport(*one);
  const std::string first = Recorded("");
  ASSERT_TRUE(IsOurReportFile(first)) << first;
  auto other = NewDoc("");
  vLaunchReport(*other);
  // Each report was opened before the next one removed it.
  LaunchedPaths(3);
  EXPECT_FALSE(PathExists(first));
  EXPECT_TRUE(IsOurReportFile(Recorded("")));
  // The saved document's report is its own.
  EXPECT_TRUE(IsOurReportFile(Recorded(base_ + "/site.wxo")));
}

TEST_F(ReportLaunchTest, OnlyAReportOfOursIsDeletedOnTheSettingsWord) {
  const std::string victim = base_ + "/victim.htm";
  std::ofstream(victim) << "keep";
  const std::string ourName = "a/QMV-aaaaaaaa-1111-2222-3333-444444444444.htm";
  ASSERT_TRUE(mkdir((folder_ + "a").c_str(), 0700) == 0 || errno == EEXIST);
  const std::string link = folder_ + ourName;
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  const std::string folderFile = folder_ + "victim.htm";
  std::ofstream(folderFile) << "keep";
  const std::string mismatched = folder_ + "b/QMV-aaaaaaaa-1111-2222-3333-444444444444.htm";
  ASSERT_EQ(mkdir((folder_ + "b").c_str(), 0700), 0);
  std::ofstream(mismatched) << "keep";
  const std::string dir = folder_ + "a/QMV-abcdefab-1111-2222-3333-444444444444.htm";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);

  for (const std::string& entry : {victim, link, folderFile, mismatched, dir, folder_ + "a/../../victim.htm"}) {
    EXPECT_FALSE(IsOurReportFile(entry)) << entry;
    ini_.Set("reports", "", entry.c_str());
    auto doc = NewDoc("");
    vLaunchReport(*doc);
    EXPECT_NE(Recorded(""), entry);
  }
  for (const std::string& kept : {victim, link, folderFile, mismatched, dir}) EXPECT_TRUE(PathExists(kept)) << kept;
  EXPECT_EQ(ReadFileText(victim), "keep");
  LaunchedPaths(6);
}

TEST_F(ReportLaunchTest, ReportFileThatCannotBeMadeEndsTheLaunch) {
  const std::string notAFolder = base_ + "/file";
  std::ofstream(notAFolder) << "x";
  setenv("TMPDIR", notAFolder.c_str(), 1);
  auto doc = NewDoc("");
  vLaunchReport(*doc);
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].rfind("The temporary folder cannot be used: ", 0), 0u) << host_.boxes[0];
  EXPECT_EQ(Recorded(""), "");
  EXPECT_TRUE(stub_->Runs().empty());
}

}  // namespace
