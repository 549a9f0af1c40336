// The crawl of one check: which pending record starts next, the workers that run, the results
// they hand over and the pump that passes them on one at a time, and the rules that send
// records back to pending or fail them together.
//
// It knows the link table, the worker launcher and the clock; everything else comes as plain
// values per call (a request's context). It calls nobody back: parsing a result and the end of
// a check are its owner's; the pump gives the owner one result at a time to parse, and the
// tick says when nothing is left.
// User-interface thread only, but the launcher's workers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/EngineContext.h"
#include "engine/Fetch.h"
#include "engine/LinkTable.h"

class IPreferredRows;

// What every request of a check carries beyond its record: where it hands over, the dialogs,
// the root, the settings and the rules for the links of its page, as the owner has them now.
struct FetchContext {
  std::shared_ptr<ResultHandOver> handOver;
  IWexoHost* host = nullptr;
  std::string rootUrl;
  FetchSettings settings;
  std::shared_ptr<const LinkRules> linkRules;
};

class Crawl {
 public:
  using Clock = std::function<std::int64_t()>;

  // launcher and clock must be callable; the table outlives the crawl.
  Crawl(LinkTable& table, WorkerLauncher launcher, Clock clock);
  // Results that were never parsed still own their temporary bodies: they are removed.
  ~Crawl();
  Crawl(const Crawl&) = delete;
  Crawl& operator=(const Crawl&) = delete;

  // Told the number of running workers each time a worker starts or hands over.
  void SetWorkerCountListener(std::function<void(int)> listener) { m_onWorkerCount = std::move(listener); }

  // ---- Running, paused, finished.
  bool IsPaused() const { return m_bPaused; }
  bool IsRunning() const { return m_bRunning; }
  bool IsFinished() const { return m_bFinished; }
  // Paused workers start no new ones (running ones finish) and failures are not retried.
  void SetPaused(bool paused) { m_bPaused = paused; }
  // Running again: neither paused nor finished.
  void MarkRunning();
  void Pause();
  // The check has ended: no tick starts a worker until it runs again.
  void MarkFinished();

  // ---- The pending index: records that may start (status 0, not waiting for their .jar).
  // A record that became pending; noting it twice costs nothing.
  void NotePending(const CLinkInfo& link);
  // The index rebuilt from the table (after the table was replaced).
  void RebuildPending();
  // Seeds the random picks among pending records.
  void SeedRandom(unsigned seed) { m_random.seed(seed); }

  // ---- Workers and results.
  int GetActiveThreadCount() const { return m_nActiveThreads; }
  // The record's worker runs, or its result waits for the pump.
  bool IsActive(const CLinkInfo& link) const;
  // Calls visit for each active record, in the order they started.
  template <class Visit>
  void ForEachActive(Visit&& visit) const {
    for (const CLinkInfo* link : m_paActive)
      if (link) visit(*link);
  }
  // Handed-over results that wait for the pump.
  std::size_t WaitingResultCount() const { return m_paFinished.size(); }
  // No worker runs, no record is active and no result waits.
  bool IsIdle() const { return m_nActiveThreads == 0 && m_paActive.empty() && m_paFinished.empty(); }
  // Seconds of checking over all runs, the running one included.
  std::int64_t GetElapsedSeconds() const;
  // The seconds of the earlier runs, as a document file gives them.
  void SetElapsedSeconds(std::int64_t seconds) { m_nElapsed = seconds; }

  // ---- The scheduler tick: starts workers up to threadLimit (below 1 counts as 1), the
  // selected row first, then the visible rows, then random pending records. Nothing starts
  // while the check is paused or finished, while holdWorkers is true (a long pass runs),
  // while waiting bodies fill half the memory bodies may take, or while
  // kWaitingResultsPerThread results per thread wait for the pump. True when the check has
  // nothing left: nothing pending, running or waiting (the owner then ends the check).
  static constexpr std::size_t kWaitingResultsPerThread = 2;
  bool Tick(IPreferredRows* rows, int threadLimit, bool holdWorkers, const FetchContext& context);

  // ---- The hand-over of a worker's result (its record's outcome is not applied here): the
  // result is queued for the pump. Gives the queued one.
  FetchResult& HandOver(std::unique_ptr<FetchResult> result);
  FetchResult& HandOver(const FetchResult& result);
  // ---- One turn of the pump, in steps, so that its owner parses the result in between and
  // the crawl calls nobody. BeginResult gives the oldest waiting result, which stays queued
  // (and keeps the check going) until FinishResult; nullptr when none waits, while
  // holdResults (a long pass runs), and for a turn asked for while a result is being parsed.
  FetchResult* BeginResult(bool holdResults);
  void FinishResult();
  // The turn's end: once a new second began, closes the sessions of workers running longer
  // than timeoutSeconds. True when the owner is to post a tick (a result was taken, or a new
  // second began). Nothing from inside a parse.
  bool EndTurn(int timeoutSeconds, bool tookResult);

  // ---- Retry and spread rules; each gives records back to pending or fails them together.
  // The table's status change with the pending index kept.
  void SetStatus(const CLinkInfo& link, std::int16_t code, const std::string& text = std::string());
  void ResetRecord(const CLinkInfo& link);
  // Sends the records of a URL's server that asked for authentication back to pending.
  void RequeueAuthRequired(const std::string& url);
  // Fails the pending records of a URL's server with status; failed is told of each.
  void FailSimilarHost(const std::string& url, std::int16_t status,
                       const std::function<void(const CLinkInfo&)>& failed);
  // Broken records that are not active go back to pending; true when any record is pending.
  bool RequeueBroken();
  // Records skipped as external go back to pending; true when any record is pending.
  bool RequeueSkippedExternal();
  // Pending records whose URL outside names are skipped as external.
  void SkipPendingOutside(const std::function<bool(const std::string& url)>& outside);

 private:
  // Sends the records again picks back to pending; true when any record is pending then.
  bool RequeueWhere(const std::function<bool(const CLinkInfo&)>& again);
  bool StartFetch(CLinkInfo& link, const FetchContext& context);
  // The records of a URL's "scheme://host[:port]/"; nullptr when it has none.
  const std::vector<std::uint32_t>* RecordsOfServer(const std::string& url) const;
  CLinkInfo* DrawPending();
  bool AnyStartablePending();
  void AddActive(CLinkInfo& link);
  void RemoveActive(CLinkInfo& link);
  void TellWorkerCount() {
    if (m_onWorkerCount) m_onWorkerCount(m_nActiveThreads);
  }

  LinkTable& m_table;
  WorkerLauncher m_launcher;
  Clock m_clock;
  std::function<void(int)> m_onWorkerCount;

  bool m_bPaused = false;
  bool m_bRunning = false;
  bool m_bFinished = false;

  // Records whose worker runs or whose result waits, in the order they started. A record
  // knows its slot, so membership and removal cost O(1): a removed record leaves a hole
  // (nullptr) until the holes are the larger part and the list is closed up.
  std::vector<CLinkInfo*> m_paActive;
  std::size_t m_nActiveHoles = 0;
  std::int16_t m_nActiveThreads = 0;
  std::int64_t m_tCrawlStart = 0;
  std::int64_t m_nElapsed = 0;
  // Results handed over and not yet parsed, oldest first.
  std::deque<std::unique_ptr<FetchResult>> m_paFinished;

  // Records that may be pending (status 0); entries are checked when drawn.
  std::vector<std::uint32_t> m_pendingIndex;
  std::vector<bool> m_inPendingIndex;
  std::mt19937 m_random{12345u};
  // The pump's one-second clock.
  std::int64_t m_tLastPump = 0;
  bool m_bInPump = false;
  std::vector<const CLinkInfo*> m_visibleScratch;
};
