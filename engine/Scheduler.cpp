// The document's side of the scheduler tick and the pump.
#include <cstdio>

#include "engine/Application.h"
#include "engine/Fetch.h"
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
  context.ui = m_pUi;
  context.host = m_ctx.host;
  context.rootUrl = m_csRootUrl;
  static_cast<CheckSettings&>(context.settings) = m_settings;
  context.settings.language = App().m_csLanguage;
  context.settings.batch = m_bBatch;
  context.linkRules = CurrentRules();
  return context;
}

void CWexoDoc::ScheduleFetches() {
  const bool nothingLeft = m_crawl.Tick(m_pRows, m_settings.Threads, App().InLongPass(), RequestContext());
  if (nothingLeft) EndOfCheck();
}

void CWexoDoc::OnUrlDone(const FetchResult& result) {
  FetchResult& queued = m_crawl.HandOver(result);
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
  if (m_crawl.Pump(timeout, App().InLongPass(), [this](FetchResult& result) { ParseFetchedPage(result); }))
    m_pUi->PostSchedule();
}

void CWexoDoc::RequeueAuthRequired(const std::string& url) { m_crawl.RequeueAuthRequired(url); }

void CWexoDoc::FailSimilarHost(const std::string& url, std::int16_t status) {
  if (!m_settings.FailSimilarHosts) return;
  m_crawl.FailSimilarHost(url, status, [this](const CLinkInfo& link) {
    if (m_settings.ShowBrokenOnly && m_pObserver) m_pObserver->RecordWantsRow(link);
  });
}
