#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/HeadlessHost.h"
#include "engine/FetchWorker.h"
#include "engine/TraceLog.h"
#include "engine/WexoDoc.h"
#include "unit/support/FakeWorkers.h"
#include "unit/support/ScriptedHost.h"

namespace {

// A long pass pumps through its abort box: what waits for the loop runs, so a worker that
// hands over in the meantime is not held until the pass ends.
TEST(HeadlessHostTest, AbortBoxPumpRunsWhatWaits) {
  HeadlessHost host;
  auto box = host.CreateAbortBox("Creating sitemap...");
  int posted = 0;
  host.Post([&] { ++posted; });
  std::atomic<bool> handedOver{false};
  std::thread worker([&] {
    host.Send([] {});
    handedOver = true;
  });
  for (int i = 0; i < 2000 && !handedOver; ++i) {
    box->PumpWaitingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  EXPECT_TRUE(handedOver);
  EXPECT_EQ(posted, 1);
  EXPECT_FALSE(box->IsAborted()) << "nobody presses Abort without a window";
  box->SetAborted();
  EXPECT_TRUE(box->IsAborted());
}

}  // namespace

// Boxes take fixed answers: "Continue?" goes on, a question whose default is No takes it,
// every other box is OK; a browser launch's outcome is told through the loop.
TEST(HeadlessHostTest, BoxesTakeTheirFixedAnswersAndOutcomesGoThroughTheLoop) {
  HeadlessHost host;
  EXPECT_EQ(host.MessageBox("Continue?", BoxKind::Question), BoxAnswer::Yes);
  EXPECT_EQ(host.MessageBox("Load these settings?", BoxKind::QuestionDefaultNo), BoxAnswer::No);
  EXPECT_EQ(host.MessageBox("Note", BoxKind::Warning), BoxAnswer::Ok);
  int told = 0;
  host.PostToUiThread([&] { ++told; });
  EXPECT_EQ(told, 0) << "later, on the loop's thread";
  auto box = host.CreateAbortBox("Searching Orphans...");
  box->PumpWaitingMessages();
  EXPECT_EQ(told, 1);
}

// The exit code is the highest one asked for, by the quit or before it; a box alone, of any
// kind, decides nothing.
TEST(HeadlessHostTest, ExitCodeIsTheHighestAskedFor) {
  const struct {
    int raised;  // RaiseExitCode before the end; -1 for none
    bool errorBox;
    bool question;  // the run ends at the report question, else with Quit(quit)
    int quit;
    int exitCode;
  } cases[] = {
      {-1, false, false, 0, 0}, {-1, true, false, 0, 0}, {-1, false, false, 1, 1}, {1, false, false, 0, 1},
      {-1, true, true, 0, 0},   {1, false, true, 0, 1},  {1, false, false, 1, 1},
  };
  for (const auto& c : cases) {
    HeadlessHost host;
    if (c.raised >= 0) host.RaiseExitCode(c.raised);
    if (c.errorBox) host.MessageBox("Something failed", BoxKind::Error);
    if (c.question)
      EXPECT_FALSE(host.AskForReport("Link tolvak finished. Do you want a report?"));
    else
      host.Quit(c.quit);
    std::vector<std::unique_ptr<CWexoDoc>> none;
    EXPECT_EQ(host.Run(none), c.exitCode) << c.raised << c.errorBox << c.question << c.quit;
  }
}

namespace {

// A document of the headless program whose workers are kept by the test.
struct HeadlessCheck {
  explicit HeadlessCheck(int records) {
    context.host = &host;
    context.app = &app;
    context.launcher = workers.Launcher();
    doc = std::make_unique<CWexoDoc>(context);
    view = std::make_unique<HeadlessView>(host, *doc);
    ChangeSettings(*doc, [](CheckSettings& s) { s.Threads = 1; });
    for (int i = 0; i < records; ++i) doc->NewLink("http://site.test/" + std::to_string(i), nullptr, REQUEST_GET);
  }
  TempIni ini;
  HeadlessHost host;
  CWexoApp app;
  FakeWorkers workers;
  EngineContext context;
  std::unique_ptr<CWexoDoc> doc;
  std::unique_ptr<HeadlessView> view;
};

// Once the program is to quit, a scheduler pass still waiting in the loop starts nothing: the
// running fetch ends, the pending records stay pending.
TEST(HeadlessHostTest, NoFetchStartsOnceTheQuitIsDecided) {
  HeadlessCheck check(3);
  check.doc->ScheduleFetches();
  ASSERT_EQ(check.workers.started.size(), 1u);
  check.host.Quit(kExitOk);
  // The running fetch hands over after the quit; its pump posts the next pass, and one was
  // waiting already.
  CWexoDoc* doc = check.doc.get();
  check.host.Post([&check, doc] { FakeWorkers::Finish(*doc, check.workers.started[0], 200); });
  check.view->PostSchedule();
  std::vector<std::unique_ptr<CWexoDoc>> documents;
  documents.push_back(std::move(check.doc));
  EXPECT_EQ(check.host.Run(documents), kExitOk);
  EXPECT_EQ(check.workers.started.size(), 1u);
  EXPECT_EQ(doc->GetLink(0)->GetAttempts() + doc->GetLink(1)->GetAttempts() + doc->GetLink(2)->GetAttempts(), 1);
  check.view.reset();
}

// A worker whose view went while it ran hands its result to nobody: it touches neither the
// view that is gone nor the document, and does not wait for the loop.
TEST(HeadlessHostTest, AWorkerOutlivesItsView) {
  HeadlessCheck check(0);
  char folder[] = "/tmp/wexo-headless-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string page = std::string(folder) + "/a.html";
  std::ofstream(page) << "<html><body><a href=\"b.html\">b</a></body></html>\n";
  check.doc->NewLink("file://" + page, nullptr, REQUEST_GET);
  check.doc->ScheduleFetches();
  ASSERT_EQ(check.workers.started.size(), 1u);
  FetchRequest request = std::move(check.workers.started[0]);
  check.view.reset();

  std::atomic<bool> ended{false};
  std::thread worker([&] {
    FetchWorker(std::move(request));
    ended = true;
  });
  auto box = check.host.CreateAbortBox("");
  for (int i = 0; i < 5000 && !ended; ++i) {
    box->PumpWaitingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  box->PumpWaitingMessages();
  EXPECT_TRUE(ended);
  EXPECT_EQ(check.doc->WaitingResultCount(), 0u) << "the result reached a document without a view";
  EXPECT_EQ(check.doc->GetLinkCount(), 1u);
  std::filesystem::remove_all(folder);
}

}  // namespace

// What a box shows: control characters and bytes that are no UTF-8 as "\xNN", as the trace
// log writes them; UTF-8 text, and with keepLayout line feeds and tabs, as they are.
TEST(HeadlessHostTest, BoxTextsReachStderrEscaped) {
  const struct {
    std::string text;
    bool keepLayout;
    std::string shown;
  } cases[] = {
      {"550 \x1B]0;owned\x07\x1B[2J\x08 done", false, "550 \\x1B]0;owned\\x07\\x1B[2J\\x08 done"},
      {"a\tb\nc\rd\x7F", false, "a\\x09b\\x0Ac\\x0Dd\\x7F"},
      {"a\tb\nc\rd", true, "a\tb\nc\\x0Dd"},
      // UTF-8 stays; stray bytes, a cut sequence, an overlong form and C1 controls do not.
      {"J\xC3\xB6rg \xE2\x80\x93 \xF0\x9F\x98\x80", false, "J\xC3\xB6rg \xE2\x80\x93 \xF0\x9F\x98\x80"},
      {"\xFF\xFE x \xC3", false, "\\xFF\\xFE x \\xC3"},
      {"\xC0\xAF \xED\xA0\x80", false, "\\xC0\\xAF \\xED\\xA0\\x80"},
      {"\xC2\x9B"
       "2J \xC2\xA0",
       false,
       "\\xC2\\x9B"
       "2J \xC2\xA0"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapedText(c.text, c.keepLayout), c.shown) << c.text;

  // The headless host's boxes go to stderr that way.
  std::FILE* capture = std::tmpfile();
  ASSERT_NE(capture, nullptr);
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(::fileno(capture), STDERR_FILENO);
  HeadlessHost host;
  host.MessageBox("Failed to send e-mail message: 550 \x1B[2J\x07\xFF\n\t2nd line", BoxKind::Error);
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::rewind(capture);
  std::string written;
  for (int ch; (ch = std::fgetc(capture)) != EOF;) written += static_cast<char>(ch);
  std::fclose(capture);
  EXPECT_EQ(written, "wexo: Failed to send e-mail message: 550 \\x1B[2J\\x07\\xFF\n\t2nd line\n");
}
