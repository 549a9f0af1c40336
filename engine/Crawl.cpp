#include "engine/Crawl.h"

#include <unistd.h>

#include "engine/Host.h"
#include "engine/SimilarRecords.h"
#include "engine/TempFiles.h"
#include "platform/InetHandle.h"

namespace {

bool Startable(const CLinkInfo& link) { return link.m_nStatus == 0 && !link.m_bInJar; }

// Not tried yet and free to start: what the selected and the visible rows must be to go first.
bool Untried(const CLinkInfo* link) { return link && Startable(*link) && link->GetAttempts() == 0; }

}  // namespace

Crawl::Crawl(LinkTable& table, WorkerLauncher launcher, Clock clock)
    : m_table(table), m_launcher(std::move(launcher)), m_clock(std::move(clock)) {}

Crawl::~Crawl() {
  for (const auto& result : m_paFinished)
    if (result && result->bBodyIsTemp && !result->csBodyFile.empty() && IsInTempDir(result->csBodyFile))
      ::unlink(result->csBodyFile.c_str());
}

void Crawl::MarkRunning() {
  m_bRunning = true;
  m_bFinished = false;
  m_bPaused = false;
}

void Crawl::Pause() {
  m_bRunning = false;
  m_bPaused = true;
}

void Crawl::MarkFinished() {
  m_bRunning = false;
  m_bFinished = true;
}

std::int64_t Crawl::GetElapsedSeconds() const {
  return m_nActiveThreads > 0 ? m_nElapsed + m_clock() - m_tCrawlStart : m_nElapsed;
}

void Crawl::NotePending(const CLinkInfo& link) {
  const std::uint32_t index = link.m_nIndex;
  if (m_inPendingIndex.size() <= index) m_inPendingIndex.resize(index + 1 + index / 2, false);
  if (m_inPendingIndex[index]) return;
  m_inPendingIndex[index] = true;
  m_pendingIndex.push_back(index);
}

void Crawl::RebuildPending() {
  m_pendingIndex.clear();
  m_inPendingIndex.assign(m_table.GetLinkCount(), false);
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    if (m_table.GetLink(i)->m_nStatus != STATUS_PENDING) continue;
    m_inPendingIndex[i] = true;
    m_pendingIndex.push_back(static_cast<std::uint32_t>(i));
  }
}

CLinkInfo* Crawl::DrawPending() {
  while (!m_pendingIndex.empty()) {
    std::uniform_int_distribution<std::size_t> pick(0, m_pendingIndex.size() - 1);
    const std::size_t at = pick(m_random);
    const std::uint32_t index = m_pendingIndex[at];
    if (index < m_table.GetLinkCount() && Startable(*m_table.GetLink(index))) return m_table.Mutable(index);
    // No longer a candidate: drop it; it comes back when its status returns to 0.
    m_pendingIndex[at] = m_pendingIndex.back();
    m_pendingIndex.pop_back();
    m_inPendingIndex[index] = false;
  }
  return nullptr;
}

bool Crawl::AnyStartablePending() {
  while (!m_pendingIndex.empty()) {
    const std::uint32_t index = m_pendingIndex.back();
    if (index < m_table.GetLinkCount() && Startable(*m_table.GetLink(index))) return true;
    m_pendingIndex.pop_back();
    m_inPendingIndex[index] = false;
  }
  return false;
}

void Crawl::AddActive(CLinkInfo& link) {
  if (IsActive(link)) return;
  link.m_nActiveSlot = static_cast<std::uint32_t>(m_paActive.size());
  m_paActive.push_back(&link);
}

void Crawl::RemoveActive(CLinkInfo& link) {
  if (!IsActive(link)) return;
  m_paActive[link.m_nActiveSlot] = nullptr;
  link.m_nActiveSlot = CLinkInfo::kNotActive;
  ++m_nActiveHoles;
  while (!m_paActive.empty() && !m_paActive.back()) {
    m_paActive.pop_back();
    --m_nActiveHoles;
  }
  // Closing up costs the list's length, paid for by the removals that made its holes.
  if (m_nActiveHoles < 64 || 2 * m_nActiveHoles < m_paActive.size()) return;
  std::size_t kept = 0;
  for (CLinkInfo* active : m_paActive) {
    if (!active) continue;
    active->m_nActiveSlot = static_cast<std::uint32_t>(kept);
    m_paActive[kept++] = active;
  }
  m_paActive.resize(kept);
  m_nActiveHoles = 0;
}

bool Crawl::IsActive(const CLinkInfo& link) const {
  return link.m_nActiveSlot < m_paActive.size() && m_paActive[link.m_nActiveSlot] == &link;
}

bool Crawl::StartFetch(CLinkInfo& link, const FetchContext& context) {
  const std::int64_t now = m_clock();
  SetStatus(link, STATUS_BUSY);
  link.IncrementAttempts();

  FetchRequest request;
  request.pLink = &link;
  request.url = m_table.GetUrl(link.m_nIndex);
  if (!link.m_dwaReferrers.empty()) request.referrerUrl = m_table.GetUrl(link.m_dwaReferrers.front());
  request.postData = link.m_csPostData;
  request.requestKind = link.m_wRequestKind;
  request.attempts = link.GetAttempts();
  request.mimeType = link.m_csMimeType;
  request.level = link.m_nLevel;
  request.charset = link.GetCharset();
  request.thread = std::make_shared<CWorkerThread>();
  request.handOver = context.handOver;
  request.host = context.host;
  request.rootUrl = context.rootUrl;
  request.settings = context.settings;
  request.linkRules = context.linkRules;

  if (m_nActiveThreads == 0) m_tCrawlStart = now;
  // Counted before the thread runs: its hand-over may arrive before the launch returns.
  ++m_nActiveThreads;
  link.m_tStart = now;
  link.m_hThread = request.thread;
  AddActive(link);
  if (!m_launcher(std::move(request))) {
    // No thread: the record stays pending and is tried again by a later tick.
    --m_nActiveThreads;
    RemoveActive(link);
    link.m_hThread.reset();
    SetStatus(link, STATUS_PENDING);
    return false;
  }
  TellWorkerCount();
  return true;
}

bool Crawl::Tick(IPreferredRows* rows, int threadLimit, bool holdWorkers, const FetchContext& context) {
  // No record yet: a new document whose starting dialog is still open has not begun.
  if (m_table.empty() || m_bFinished || m_bPaused || holdWorkers) return false;
  // Bodies waiting for the parser hold half the memory bodies may take: new fetches wait for
  // the pump (each parsed result posts a tick) instead of sending their bodies to files.
  if (!m_paFinished.empty() && BodyBytesInMemory() > kMemoryBodiesLimit / 2) return false;
  const int limit = threadLimit < 1 ? 1 : threadLimit;
  // Workers no longer wait for the parser: the results waiting for it, each with its body in
  // memory or in a file, stay a few per thread.
  if (m_paFinished.size() >= kWaitingResultsPerThread * static_cast<std::size_t>(limit)) return false;
  const CLinkInfo* selected = rows ? rows->SelectedRecord() : nullptr;
  bool startedAny = false;
  if (m_nActiveThreads < limit) {
    bool visibleScanFailed = false;
    bool tableHasCandidates = true;
    const std::size_t n = m_table.GetLinkCount();
    for (std::size_t turn = 0; turn < 2 * n && m_nActiveThreads < limit; ++turn) {
      if (m_bPaused) return false;
      CLinkInfo* pick = nullptr;
      if (Untried(selected)) {
        pick = m_table.Mutable(*selected);
      } else {
        if (!visibleScanFailed && rows) {
          m_visibleScratch.clear();
          rows->VisibleRecords(m_visibleScratch);
          for (const CLinkInfo* link : m_visibleScratch) {
            if (Untried(link)) {
              pick = m_table.Mutable(*link);
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
      if (!StartFetch(*pick, context)) return false;
      startedAny = true;
    }
    if (startedAny) return false;
  }
  return !AnyStartablePending() && m_paFinished.empty() && m_nActiveThreads == 0;
}

FetchResult& Crawl::HandOver(const FetchResult& result) { return HandOver(std::make_unique<FetchResult>(result)); }

FetchResult& Crawl::HandOver(std::unique_ptr<FetchResult> result) {
  --m_nActiveThreads;
  if (m_nActiveThreads == 0) m_nElapsed += m_clock() - m_tCrawlStart;
  TellWorkerCount();
  m_paFinished.push_back(std::move(result));
  return *m_paFinished.back();
}

FetchResult* Crawl::BeginResult(bool holdResults) {
  // While results are held they wait in the queue; only the time-out sweep runs.
  if (m_bInPump || m_paFinished.empty() || holdResults) return nullptr;
  m_bInPump = true;
  FetchResult& result = *m_paFinished.front();
  if (result.pLink) {
    CLinkInfo& link = *m_table.Mutable(*result.pLink);
    RemoveActive(link);
    link.m_hThread.reset();
  }
  return &result;
}

void Crawl::FinishResult() {
  if (!m_bInPump) return;
  m_paFinished.pop_front();
  m_bInPump = false;
}

bool Crawl::EndTurn(int timeoutSeconds, bool tookResult) {
  if (m_bInPump) return false;
  const std::int64_t now = m_clock();
  const bool newSecond = now != m_tLastPump;
  if (newSecond) {
    for (const CLinkInfo* link : m_paActive) {
      if (link && now - link->m_tStart > timeoutSeconds) {
        const platform::HINTERNET h = link->TakeInternetHandle();
        if (h) platform::InternetCloseHandle(h);
      }
    }
  }
  m_tLastPump = now;
  return tookResult || newSecond;
}

void Crawl::SetStatus(const CLinkInfo& link, std::int16_t code, const std::string& text) {
  const std::int16_t old = m_table.SetStatus(*m_table.Mutable(link), code, text);
  if (code == STATUS_PENDING && old != STATUS_PENDING) NotePending(link);
}

void Crawl::ResetRecord(const CLinkInfo& link) {
  if (m_table.Reset(*m_table.Mutable(link)) != STATUS_PENDING) NotePending(link);
}

const std::vector<std::uint32_t>* Crawl::RecordsOfServer(const std::string& url) const {
  const std::string prefix = HostPrefixOf(url);
  return prefix.empty() ? nullptr : m_table.RecordsOfHost(prefix);
}

void Crawl::RequeueAuthRequired(const std::string& url) {
  const std::vector<std::uint32_t>* records = RecordsOfServer(url);
  if (!records) return;
  for (std::uint32_t index : *records) {
    const CLinkInfo& link = *m_table.GetLink(index);
    // A record whose worker has not been handed over must not get a second worker.
    if (link.m_nStatus != 401 || IsActive(link)) continue;
    ResetRecord(link);
  }
}

void Crawl::FailSimilarHost(const std::string& url, std::int16_t status,
                            const std::function<void(const CLinkInfo&)>& failed) {
  const std::vector<std::uint32_t>* records = RecordsOfServer(url);
  if (!records) return;
  for (std::uint32_t index : *records) {
    const CLinkInfo& link = *m_table.GetLink(index);
    if (link.m_nStatus != 0) continue;
    SetStatus(link, status);
    if (failed) failed(link);
  }
}

bool Crawl::RequeueWhere(const std::function<bool(const CLinkInfo&)>& again) {
  bool any = false;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    if (again(link)) SetStatus(link, STATUS_PENDING);
    if (link.m_nStatus == 0) any = true;
  }
  return any;
}

bool Crawl::RequeueBroken() {
  // A record whose worker has not been handed over yet already shows its final status;
  // resetting it now would start a second worker on it.
  return RequeueWhere([this](const CLinkInfo& link) { return link.IsBroken() && !IsActive(link); });
}

bool Crawl::RequeueSkippedExternal() {
  return RequeueWhere([](const CLinkInfo& link) { return link.m_nStatus == STATUS_SKIP_EXTERNAL; });
}

void Crawl::SkipPendingOutside(const std::function<bool(const std::string& url)>& outside) {
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    if (link.m_nStatus != 0) continue;
    if (outside(m_table.GetUrl(i))) SetStatus(link, STATUS_SKIP_EXTERNAL);
  }
}
