// The document's side of the scheduler tick and the pump.
#include <cstdio>

#include "engine/Application.h"
#include "engine/Fetch.h"
#include "engine/FetchWorker.h"
#include "engine/Host.h"
#include "engine/TempFiles.h"
#include "engine/WexoDoc.h"

namespace {

std::string ThreadsText(int count) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Threads: %d  ", count);
  return buffer;
}

}  // namespace

void CWexoDoc::NotifyStatusText() {
  if (m_pObserver) m_pObserver->StatusText(ThreadsText(m_crawl.GetActiveThreadCount()));
}

FetchContext CWexoDoc::RequestContext() const {
  FetchContext context;
  context.handOver = m_handOver;
  context.host = m_ctx.host;
  context.rootUrl = m_csRootUrl;
  static_cast<CheckSettings&>(context.settings) = m_settings;
  context.settings.language = App().m_csLanguage;
  context.settings.batch = m_bBatch;
  context.linkRules = CurrentRules();
  return context;
}

void CWexoDoc::ScheduleFetches() {
  // Results queued by workers count now: their threads are free, and they wait for the pump
  // like every result handed over. Through a copy: taking may pump events, and the view may go.
  std::size_t taken = 0;
  if (const std::shared_ptr<ResultHandOver> handOver = m_handOver) taken = handOver->TakeWaiting();
  // Once the program is to quit, passes that were still waiting start nothing: the quit waits
  // only for the fetches that run.
  const bool hold = App().InLongPass() || Host().QuitRequested();
  const bool nothingLeft = m_crawl.Tick(m_pRows, m_settings.Threads, hold, RequestContext());
  if (!nothingLeft) return;
  // Results parsed in this pass may have asked the list for rows: the list places them before
  // the next pass, and the end of the check asks its question over the whole list.
  if (taken > 0 && m_pUi) {
    m_pUi->PostSchedule();
    return;
  }
  // The threads kept for this check end; another check's running ones stay.
  if (!m_ctx.launcher) ReleaseIdleWorkerThreads();
  EndOfCheck();
}

void CWexoDoc::OnUrlDone(const FetchResult& result) { OnUrlDone(std::make_unique<FetchResult>(result)); }

void CWexoDoc::OnUrlDone(std::unique_ptr<FetchResult> result) {
  FetchResult& queued = m_crawl.HandOver(std::move(result));
  if (queued.outcome && queued.pLink) ApplyFetchOutcome(*this, m_table.Mutable(*queued.pLink), *queued.outcome);
  // Every page too large for memory fails alike: said once, and a batch run exits 1.
  std::string note;
  if (TakeTempFolderNote(note)) {
    std::fprintf(stderr, "wexo: %s\n", note.c_str());
    if (m_bBatch) Host().RaiseExitCode(kExitFailed);
  }
  if (m_crawl.GetActiveThreadCount() == 0) ProcessFinishedFetches();
}

void CWexoDoc::ProcessFinishedFetches() {
  const int timeout = App().FetchTimeout();
  if (!m_pUi) return;
  // During a long pass results wait in the queue; only the time-out sweep runs.
  FetchResult* result = m_crawl.BeginResult(App().InLongPass());
  if (result) {
    ParseFetchedPage(*result);
    m_crawl.FinishResult();
  }
  if (m_crawl.EndTurn(timeout, result != nullptr)) m_pUi->PostSchedule();
}

void CWexoDoc::RequeueAuthRequired(const std::string& url) { m_crawl.RequeueAuthRequired(url); }

void CWexoDoc::FailSimilarHost(const std::string& url, std::int16_t status) {
  if (!m_settings.FailSimilarHosts) return;
  m_crawl.FailSimilarHost(url, status, [this](const CLinkInfo& link) {
    if (m_settings.ShowBrokenOnly && m_pObserver) m_pObserver->RecordWantsRow(link);
  });
}
