// The scheduler tick, the pump and the end of a check.
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

ICheckOutputs* checkOutputs = nullptr;

// Read once per program run, by the first pump pass.
int PumpTimeout() {
  static const int timeout = WexoApp().GetProfileInt("Options", "timeout", 60);
  return timeout;
}

std::string ThreadsText(int count) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Threads: %d  ", count);
  return buffer;
}

bool Startable(const CLinkInfo* link) { return link->m_nStatus == 0 && !link->m_bInJar; }

}  // namespace

ICheckOutputs* CheckOutputs() { return checkOutputs; }
void SetCheckOutputs(ICheckOutputs* outputs) { checkOutputs = outputs; }

CLinkInfo* CWexoDoc::GetSelectedLink() const {
  if (!m_pView) return nullptr;
  const int row = m_pView->GetSelectedRow();
  return row < 0 ? nullptr : m_pView->GetRowRecord(row);
}

bool CWexoDoc::IsRowVisible(const CLinkInfo* link) const {
  if (!m_pView) return false;
  const int row = m_pView->GetRowOf(link);
  if (row < 0) return false;
  const int top = m_pView->GetTopRow();
  return row >= top && row <= top + m_pView->GetRowsPerPage() && row < m_pView->GetRowCount();
}

void CWexoDoc::RedrawIfVisible(CLinkInfo* link) {
  if (IsRowVisible(link)) m_pView->RedrawRecord(link);
}

bool CWexoDoc::StartFetch(CLinkInfo* link) {
  const std::int64_t now = NowSeconds();
  link->SetStatus(-1, std::string());
  RedrawIfVisible(link);
  link->IncrementAttempts();

  FetchRequest request;
  request.pLink = link;
  request.pView = m_pView;
  request.url = link->GetUrl();
  if (!link->m_dwaReferrers.empty()) request.referrerUrl = m_saUrls[link->m_dwaReferrers.front()];
  request.postData = link->m_csPostData;
  request.rootUrl = m_csRootUrl;
  request.requestKind = link->m_wRequestKind;
  request.attempts = link->GetAttempts();
  request.mimeType = link->m_csMimeType;
  request.thread = std::make_shared<CWorkerThread>();
  FetchSettings& s = request.settings;
  s.userAgent = m_csUserAgent;
  s.accept = m_csAccept;
  s.ifModifiedSince = m_csIfModifiedSince;
  s.language = WexoApp().m_csLanguage;
  s.referer = Referer != 0;
  s.allowCookies = AllowCookies != 0;
  s.askPassword = AskPassword != 0;
  s.redirectIsError = RedirectIsError != 0;
  s.checkDoubleSlash = CheckDoubleSlash != 0;
  s.passiveFtp = PassiveFtp != 0;
  s.listLocalDirectories = ListLocalDirectories != 0;
  s.allowLocalFilesInRemoteCheck = AllowLocalFilesInRemoteCheck != 0;
  s.batch = m_bBatch;

  auto thread = request.thread;
  if (m_nActiveThreads == 0) m_tCrawlStart = now;
  // Counted before the thread runs: its hand-over may arrive before the launch returns.
  ++m_nActiveThreads;
  link->m_tStart = now;
  link->m_hThread = thread;
  AddActive(link);
  if (!GetWorkerLauncher()(std::move(request))) {
    // No thread: the record stays pending and is tried again by a later tick.
    --m_nActiveThreads;
    RemoveActive(link);
    link->m_hThread.reset();
    link->SetStatus(0, std::string());
    return false;
  }
  if (m_pView) m_pView->SetStatusText(ThreadsText(m_nActiveThreads));
  return true;
}

void CWexoDoc::ScheduleFetches() {
  if (m_bFinished || m_bPaused) return;
  CLinkInfo* selected = GetSelectedLink();
  const int limit = m_nThreads < 1 ? 1 : m_nThreads;
  bool startedAny = false;
  if (m_nActiveThreads < limit) {
    bool visibleScanFailed = false;
    bool tableHasCandidates = true;
    const std::size_t n = m_obaLinks.size();
    for (std::size_t turn = 0; turn < 2 * n && m_nActiveThreads < limit; ++turn) {
      if (m_bPaused) return;
      CLinkInfo* pick = nullptr;
      if (selected && Startable(selected) && selected->GetAttempts() == 0) {
        pick = selected;
      } else {
        if (!visibleScanFailed && m_pView) {
          const int top = m_pView->GetTopRow();
          const int end = std::min(top + m_pView->GetRowsPerPage(), m_pView->GetRowCount());
          for (int row = std::max(top, 0); row < end; ++row) {
            CLinkInfo* link = m_pView->GetRowRecord(row);
            if (link && Startable(link) && link->GetAttempts() == 0) {
              pick = link;
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

void CWexoDoc::EndOfCheck() {
  m_bRunning = false;
  m_bFinished = true;
  for (const auto& link : m_obaLinks) {
    if (link->m_nStatus == 0 && link->m_bInJar) {
      link->SetStatus(404, "class not found in .jar archive");
      RedrawIfVisible(link.get());
    }
  }
  const CWexoApp& app = WexoApp();
  ICheckOutputs* outputs = CheckOutputs();
  bool wroteAny = false;
  if (m_bBatch && outputs) {
    if (!app.m_csExport.empty()) wroteAny |= (outputs->ExportTabFile(*this, app.m_csExport), true);
    if (!app.m_csMap.empty()) wroteAny |= (outputs->ExportPageMap(*this, app.m_csMap), true);
    if (!app.m_csReport.empty()) wroteAny |= (outputs->CreateReport(*this, app.m_csReport), true);
    if (!app.m_csSave.empty()) wroteAny |= (outputs->SaveDocument(*this, app.m_csSave), true);
    if (!app.m_csGoogle.empty()) wroteAny |= (outputs->ExportSitemap(*this, app.m_csGoogle), true);
  }
  if (EMail) {
    if (EMailOnlyIfBroken) {
      const bool anyBroken =
          std::any_of(m_obaLinks.begin(), m_obaLinks.end(), [](const auto& l) { return l->IsBroken(); });
      if (!anyBroken) {
        Host().Quit(0);
        return;
      }
    }
    if (outputs && outputs->MailReport(*this)) {
      Host().Quit(0);
      return;
    }
  } else if (wroteAny) {
    Host().Quit(0);
    return;
  }
  // Interactive end.
  m_nFinished = static_cast<std::int32_t>(m_obaLinks.size());
  m_nPending = 0;
  if (m_pView) {
    m_pView->SetStatusText(ThreadsText(0));
    m_pView->Invalidate();
  }
  Host().Beep();
  if (Host().AskForReport("Link tolvak finished. Do you want a report?") && outputs) outputs->LaunchReport(*this);
}

void CWexoDoc::OnUrlDone(const FetchResult& result) {
  --m_nActiveThreads;
  if (m_nActiveThreads == 0) m_nElapsed += NowSeconds() - m_tCrawlStart;
  if (m_pView) m_pView->SetStatusText(ThreadsText(m_nActiveThreads));
  auto copy = std::make_unique<FetchResult>(result);
  if (copy->outcome && copy->pLink) ApplyFetchOutcome(copy->pLink, *copy->outcome);
  m_paFinished.push_back(std::move(copy));
  if (m_nActiveThreads == 0) ProcessFinishedFetches();
}

void CWexoDoc::ProcessFinishedFetches() {
  const int timeout = PumpTimeout();
  if (!m_pView || m_bInPump) return;
  m_bInPump = true;
  bool handled = false;
  if (!m_paFinished.empty()) {
    // Stays queued (and keeps the check from ending) until it has been parsed.
    FetchResult& result = *m_paFinished.front();
    if (result.pLink) {
      RemoveActive(result.pLink);
      result.pLink->m_hThread.reset();
    }
    ParseFetchedPage(result);
    m_paFinished.pop_front();
    handled = true;
  }
  const std::int64_t now = NowSeconds();
  const bool newSecond = now != m_tLastPump;
  if (newSecond) {
    for (CLinkInfo* link : m_paActive) {
      if (now - link->m_tStart > timeout) {
        const platform::HINTERNET h = link->TakeInternetHandle();
        if (h) platform::InternetCloseHandle(h);
      }
    }
  }
  if (handled || newSecond) m_pView->PostSchedule();
  m_tLastPump = now;
  m_bInPump = false;
}

void CWexoDoc::RequeueAuthRequired(const std::string& url) {
  const std::string prefix = HostPrefixOf(url);
  if (prefix.empty()) return;
  const std::vector<std::uint32_t>* records = RecordsOfHost(prefix);
  if (!records) return;
  for (std::uint32_t index : *records) {
    CLinkInfo* link = m_obaLinks[index].get();
    // A record whose worker has not been handed over must not get a second worker.
    if (link->m_nStatus != 401 || IsActive(link)) continue;
    link->Reset();
    if (m_pView) {
      if (ShowBrokenOnly)
        m_pView->DeleteRecordRow(link);
      else
        m_pView->RedrawRecord(link);
    }
  }
}

void CWexoDoc::FailSimilarHost(const std::string& url, std::int16_t status) {
  if (!FailSimilarHosts) return;
  const std::string prefix = HostPrefixOf(url);
  if (prefix.empty()) return;
  const std::vector<std::uint32_t>* records = RecordsOfHost(prefix);
  if (!records) return;
  for (std::uint32_t index : *records) {
    CLinkInfo* link = m_obaLinks[index].get();
    if (link->m_nStatus != 0) continue;
    link->SetStatus(status, std::string());
    if (ShowBrokenOnly && m_pView) m_pView->InsertRowAt(link, static_cast<int>(index));
  }
  if (!ShowBrokenOnly && m_pView) m_pView->Invalidate();
}
