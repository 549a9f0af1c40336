// The scheduler tick and the pump.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "engine/Application.h"
#include "engine/CheckOutputs.h"
#include "engine/Clock.h"
#include "engine/Fetch.h"
#include "engine/FetchWorker.h"
#include "engine/SimilarRecords.h"
#include "engine/WexoDoc.h"
#include "platform/InetHandle.h"

namespace {

std::string ThreadsText(int count) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Threads: %d  ", count);
  return buffer;
}

bool Startable(const CLinkInfo* link) { return link->m_nStatus == 0 && !link->m_bInJar; }

}  // namespace

void CWexoDoc::NotifyStatusText() {
  if (m_pObserver) m_pObserver->StatusText(ThreadsText(m_nActiveThreads));
}

bool CWexoDoc::StartFetch(CLinkInfo* link) {
  const std::int64_t now = Now();
  SetStatus(link, STATUS_BUSY, std::string());
  link->IncrementAttempts();

  FetchRequest request;
  request.pLink = link;
  request.ui = m_pUi;
  request.host = m_ctx.host;
  request.url = link->GetUrl();
  if (!link->m_dwaReferrers.empty()) request.referrerUrl = m_table.GetUrl(link->m_dwaReferrers.front());
  request.postData = link->m_csPostData;
  request.rootUrl = m_csRootUrl;
  request.requestKind = link->m_wRequestKind;
  request.attempts = link->GetAttempts();
  request.mimeType = link->m_csMimeType;
  request.thread = std::make_shared<CWorkerThread>();
  static_cast<CheckSettings&>(request.settings) = m_settings;
  request.settings.language = App().m_csLanguage;
  request.settings.batch = m_bBatch;

  auto thread = request.thread;
  if (m_nActiveThreads == 0) m_tCrawlStart = now;
  // Counted before the thread runs: its hand-over may arrive before the launch returns.
  ++m_nActiveThreads;
  link->m_tStart = now;
  link->m_hThread = thread;
  AddActive(link);
  const bool launched = m_ctx.launcher ? m_ctx.launcher(std::move(request)) : LaunchFetchWorker(std::move(request));
  if (!launched) {
    // No thread: the record stays pending and is tried again by a later tick.
    --m_nActiveThreads;
    RemoveActive(link);
    link->m_hThread.reset();
    SetStatus(link, STATUS_PENDING, std::string());
    return false;
  }
  NotifyStatusText();
  return true;
}

void CWexoDoc::ScheduleFetches() {
  // No record yet: a new document whose starting dialog is still open has not begun.
  if (m_table.empty() || m_bFinished || m_bPaused || App().InLongPass()) return;
  // Bodies waiting for the parser hold half the memory bodies may take: new fetches wait for
  // the pump (each parsed result posts a tick) instead of sending their bodies to files.
  if (!m_paFinished.empty() && BodyBytesInMemory() > kMemoryBodiesLimit / 2) return;
  const CLinkInfo* selected = m_pRows ? m_pRows->SelectedRecord() : nullptr;
  const int limit = m_settings.Threads < 1 ? 1 : m_settings.Threads;
  bool startedAny = false;
  if (m_nActiveThreads < limit) {
    bool visibleScanFailed = false;
    bool tableHasCandidates = true;
    const std::size_t n = m_table.GetLinkCount();
    for (std::size_t turn = 0; turn < 2 * n && m_nActiveThreads < limit; ++turn) {
      if (m_bPaused) return;
      CLinkInfo* pick = nullptr;
      if (selected && Startable(selected) && selected->GetAttempts() == 0) {
        pick = Record(selected->m_nIndex);
      } else {
        if (!visibleScanFailed && m_pRows) {
          m_visibleScratch.clear();
          m_pRows->VisibleRecords(m_visibleScratch);
          for (const CLinkInfo* link : m_visibleScratch) {
            if (link && Startable(link) && link->GetAttempts() == 0) {
              pick = Record(link->m_nIndex);
              break;
            }
          }
          selected = nullptr;
          if (!pick) visibleScanFailed = true;
        }
        // The random picks and the walk in table order both draw from the pending index,
        // so a tick costs what it starts rather than the size of the table.
        if (!pick && tableHasCandidates) {
          pick = DrawPending();
          if (!pick) tableHasCandidates = false;
        }
      }
      if (!pick) {
        if (!tableHasCandidates) break;
        continue;
      }
      if (!StartFetch(pick)) return;
      startedAny = true;
    }
    if (startedAny) return;
  }
  if (AnyStartablePending() || !m_paFinished.empty() || m_nActiveThreads != 0) return;
  EndOfCheck();
}

void CWexoDoc::OnUrlDone(const FetchResult& result) {
  --m_nActiveThreads;
  if (m_nActiveThreads == 0) m_nElapsed += Now() - m_tCrawlStart;
  NotifyStatusText();
  auto copy = std::make_unique<FetchResult>(result);
  if (copy->outcome && copy->pLink) ApplyFetchOutcome(*this, Record(copy->pLink->m_nIndex), *copy->outcome);
  m_paFinished.push_back(std::move(copy));
  if (m_nActiveThreads == 0) ProcessFinishedFetches();
}

void CWexoDoc::ProcessFinishedFetches() {
  const int timeout = App().FetchTimeout();
  if (!m_pUi || m_bInPump) return;
  m_bInPump = true;
  bool handled = false;
  // During a long pass results wait in the queue; only the time-out sweep runs.
  if (!m_paFinished.empty() && !App().InLongPass()) {
    // Stays queued (and keeps the check from ending) until it has been parsed.
    FetchResult& result = *m_paFinished.front();
    if (result.pLink) {
      CLinkInfo* link = Record(result.pLink->m_nIndex);
      RemoveActive(link);
      link->m_hThread.reset();
    }
    ParseFetchedPage(result);
    m_paFinished.pop_front();
    handled = true;
  }
  const std::int64_t now = Now();
  const bool newSecond = now != m_tLastPump;
  if (newSecond) {
    for (CLinkInfo* link : m_paActive) {
      if (link && now - link->m_tStart > timeout) {
        const platform::HINTERNET h = link->TakeInternetHandle();
        if (h) platform::InternetCloseHandle(h);
      }
    }
  }
  if (handled || newSecond) m_pUi->PostSchedule();
  m_tLastPump = now;
  m_bInPump = false;
}

void CWexoDoc::RequeueAuthRequired(const std::string& url) {
  const std::string prefix = HostPrefixOf(url);
  if (prefix.empty()) return;
  const std::vector<std::uint32_t>* records = RecordsOfHost(prefix);
  if (!records) return;
  for (std::uint32_t index : *records) {
    const CLinkInfo* link = m_table.GetLink(index);
    // A record whose worker has not been handed over must not get a second worker.
    if (link->m_nStatus != 401 || IsActive(link)) continue;
    ResetRecord(link);
  }
}

void CWexoDoc::FailSimilarHost(const std::string& url, std::int16_t status) {
  if (!m_settings.FailSimilarHosts) return;
  const std::string prefix = HostPrefixOf(url);
  if (prefix.empty()) return;
  const std::vector<std::uint32_t>* records = RecordsOfHost(prefix);
  if (!records) return;
  for (std::uint32_t index : *records) {
    const CLinkInfo* link = m_table.GetLink(index);
    if (link->m_nStatus != 0) continue;
    SetStatus(link, status, std::string());
    if (m_settings.ShowBrokenOnly && m_pObserver) m_pObserver->RecordWantsRow(*link);
  }
}
