// How often a batch check asks a server for a broken link, as the settings file's MaxRetry
// says: the program itself against the scripted HTTP server on loopback, counting the requests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "e2e/support/HttpPeer.h"
#include "e2e/support/WexoRun.h"

namespace {

namespace fs = std::filesystem;
using wexo_test::ReadAll;
using wexo_test::Write;

class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("wexo-retry-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;
  }
  void TearDown() override {
    peer.Stop();
    fs::remove_all(dir);
  }

  // Requests of target while a batch check of it ran; -1 when the check did not end by itself.
  int RequestsOfACheck(const std::string& target) {
    peer.ClearLog();
    // A check that retries for ever is stopped well before the usual limit of a run.
    const std::string command = "cd '" + dir.string() + "' && timeout 60 " +
                                wexo_test::WexoCommand(dir, "-url " + peer.Url(target)) + " > out.log 2> err.log";
    if (wexo_test::Shell(command) != 0) return -1;
    int requests = 0;
    for (const wexo_test::LoggedRequest& r : peer.Log()) requests += r.target == target;
    return requests;
  }

  fs::path dir;
  wexo_test::HttpPeer peer;
};

TEST_F(RetryTest, MaxRetryCountsTheRequestsOfABrokenLink) {
  const std::string bom = "\xEF\xBB\xBF";
  const struct {
    std::string ini;
    int requests;
  } cases[] = {
      {"", 2},  // the default: one retry
      {"[Options]\r\nMaxRetry=-1\r\n", 1},
      {bom + "[Options]\r\nMaxRetry=-1\r\n", 1},
      {"[Options]\nMaxRetry=-32768\n", 1},
      {"[Options]\nMaxRetry=0\n", 1},
      {"[Options]\nMaxRetry=2\n", 3},
      {"[Options]\nMaxRetry=11\n", 11},  // no more than the options sheet allows: 10
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    Write(dir / "wexo.ini", c.ini);
    const std::string target = "/status/404?case=" + std::to_string(n++);
    EXPECT_EQ(RequestsOfACheck(target), c.requests) << ReadAll(dir / "err.log");
  }
}

}  // namespace
