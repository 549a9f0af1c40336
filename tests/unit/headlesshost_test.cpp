#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/HeadlessHost.h"
#include "engine/WexoDoc.h"

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
