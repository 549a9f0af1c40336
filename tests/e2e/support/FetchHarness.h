// Runs the fetch worker as the scheduler does and records what it hands over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Fetch.h"
#include "engine/HandOver.h"
#include "engine/Host.h"

namespace wexo_test {

// A user-interface thread that only keeps the finished fetches; its hand-over takes them on
// the worker's own thread.
class RecordingView : public IUiThread {
 public:
  void PostSchedule() override {}
  void SendUrlDone(const FetchResult& result);
  // A hand-over that gives each result to SendUrlDone at once.
  std::shared_ptr<ResultHandOver> HandOver();

  std::vector<FetchResult> Results() const;
  // Hand-overs of that record so far.
  int CountFor(const CLinkInfo* link) const;
  bool WaitForCount(std::size_t count, std::chrono::milliseconds limit) const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<FetchResult> m_results;
};

// Settings as a fresh document has them, with a test agent.
FetchSettings DefaultFetchSettings();

// A request for url on behalf of link, handed over to view.
FetchRequest MakeFetchRequest(CLinkInfo& link, RecordingView* view, const std::string& url,
                              std::uint16_t kind = REQUEST_GET, std::uint16_t attempts = 1);

// One fetch run on this thread.
struct FetchRun {
  int handOvers = 0;
  FetchResult result;
  const FetchOutcome& Out() const { return *result.outcome; }
};
FetchRun RunFetch(CLinkInfo& link, FetchRequest request);

// Points the program's temporary folder at a fresh private folder (once per process);
// the worker's bodies and scratch files are then the only files in it.
void UsePrivateTempDir();
// Names of the files in the program's temporary folder.
std::vector<std::string> TempFolderFiles();

std::string ReadWholeFile(const std::string& path);

}  // namespace wexo_test
