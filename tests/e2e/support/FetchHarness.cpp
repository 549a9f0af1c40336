#include "e2e/support/FetchHarness.h"

#include <dirent.h>
#include <stdlib.h>
#include <filesystem>

#include <fstream>
#include <sstream>

#include "e2e/support/DialogHost.h"
#include "engine/FetchWorker.h"
#include "platform/TempDir.h"

namespace wexo_test {

void RecordingView::SendUrlDone(const FetchResult& result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_results.push_back(result);
  m_changed.notify_all();
}

std::shared_ptr<ResultHandOver> RecordingView::HandOver() {
  return std::make_shared<ResultHandOver>([](std::function<void()> task) { task(); },
                                          [this](std::unique_ptr<FetchResult> result) { SendUrlDone(*result); });
}

std::vector<FetchResult> RecordingView::Results() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_results;
}

int RecordingView::CountFor(const CLinkInfo* link) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  int n = 0;
  for (const FetchResult& r : m_results) n += r.pLink == link;
  return n;
}

bool RecordingView::WaitForCount(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, limit, [&] { return m_results.size() >= count; });
}

FetchSettings DefaultFetchSettings() {
  FetchSettings s;
  s.UserAgent = "Tolvak-Test/1.0";
  s.Accept = "*/*";
  s.Referer = true;
  s.AllowCookies = false;
  s.AskPassword = true;
  s.RedirectIsError = false;
  s.CheckDoubleSlash = true;
  return s;
}

FetchRequest MakeFetchRequest(CLinkInfo& link, RecordingView* view, const std::string& url, std::uint16_t kind,
                              std::uint16_t attempts) {
  FetchRequest r;
  r.pLink = &link;
  if (view) r.handOver = view->HandOver();
  r.url = url;
  r.requestKind = kind;
  r.attempts = attempts;
  r.mimeType = link.m_csMimeType;
  r.settings = DefaultFetchSettings();
  r.host = DialogHost::Current();
  return r;
}

FetchRun RunFetch(CLinkInfo& link, FetchRequest request) {
  RecordingView view;
  request.pLink = &link;
  request.handOver = view.HandOver();
  FetchWorker(std::move(request));
  FetchRun run;
  std::vector<FetchResult> results = view.Results();
  run.handOvers = static_cast<int>(results.size());
  if (!results.empty()) run.result = results.front();
  if (!run.result.outcome) run.result.outcome = std::make_unique<FetchOutcome>();
  return run;
}

void UsePrivateTempDir() {
  static const bool done = [] {
    char pattern[] = "/tmp/wexo-fetch-test-XXXXXX";
    if (const char* dir = mkdtemp(pattern)) setenv("TMPDIR", dir, 1);
    return true;
  }();
  (void)done;
}

std::vector<std::string> TempFolderFiles() {
  // Files anywhere below the temporary folder (it spreads them over subfolders), but for the
  // lock that tells other runs this one is alive.
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(platform::GetTempPath(), ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_directory() && !(name.starts_with("run-") && name.ends_with(".lock")))
      names.push_back(entry.path().string());
  }
  return names;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace wexo_test
