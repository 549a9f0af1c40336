#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/HeadlessHost.h"

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
