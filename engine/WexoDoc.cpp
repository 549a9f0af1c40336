#include "engine/WexoDoc.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>

#include "engine/Application.h"
#include "engine/Clock.h"
#include "engine/SimilarRecords.h"
#include "engine/Url.h"
#include "platform/InetHandle.h"
#include "platform/MimeTypes.h"

namespace {

bool Startable(const CLinkInfo* link) { return link->m_nStatus == 0 && !link->m_bInJar; }

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string GetDomain(std::string_view url) {
  std::string_view key;
  if (url.starts_with("http://"))
    key = url.substr(7);
  else if (url.starts_with("https://"))
    key = url.substr(8);
  else
    return std::string();
  const std::size_t slash = key.find('/');
  if (slash != std::string_view::npos) key = key.substr(0, slash);
  const std::size_t last = key.rfind('.');
  if (last == std::string_view::npos) return std::string();
  const std::size_t before = key.substr(0, last).rfind('.');
  if (before != std::string_view::npos) key = key.substr(before + 1);
  return std::string(key);
}

CWexoDoc::CWexoDoc(const EngineContext& context) : m_ctx(context) {
  m_saUrls.reserve(1000);
  m_obaLinks.reserve(1000);
  m_settings = ReadCheckSettings(*m_ctx.app);
}

CWexoDoc::~CWexoDoc() {
  // Results that were never parsed still own their temporary bodies.
  for (const auto& result : m_paFinished)
    if (result && result->bBodyIsTemp && !result->csBodyFile.empty() && IsInTempDir(result->csBodyFile))
      ::unlink(result->csBodyFile.c_str());
}

void CWexoDoc::AttachView(IUiThread* ui, IPreferredRows* rows, IDocumentObserver* observer) {
  m_pUi = ui;
  m_pRows = rows;
  m_pObserver = observer;
}

std::int64_t CWexoDoc::Now() const { return m_ctx.clock ? m_ctx.clock() : NowSeconds(); }

std::int64_t CWexoDoc::GetElapsedSeconds() const {
  return m_nActiveThreads > 0 ? m_nElapsed + Now() - m_tCrawlStart : m_nElapsed;
}

const CLinkInfo* CWexoDoc::FindLink(std::string_view url) const {
  const std::uint32_t index = m_mapUrls.Find(url);
  return index == UrlMap::kNone ? nullptr : m_obaLinks[index].get();
}

CLinkInfo* CWexoDoc::FindLink(std::string_view url) {
  const std::uint32_t index = m_mapUrls.Find(url);
  return index == UrlMap::kNone ? nullptr : m_obaLinks[index].get();
}

CLinkInfo* CWexoDoc::NewLink(const std::string& url, CLinkInfo* parent, std::uint16_t requestKind) {
  auto owned = std::make_unique<CLinkInfo>();
  CLinkInfo* link = owned.get();
  if (url.starts_with("file:///")) {
    const std::size_t dot = url.rfind('.');
    if (dot != std::string::npos)
      link->m_csMimeType = platform::ContentTypeForExtension(std::string_view(url).substr(dot));
  }
  const auto index = static_cast<std::uint32_t>(m_saUrls.size());
  link->m_nIndex = index;
  link->m_pDoc = this;
  link->m_wRequestKind = requestKind;
  if (parent) {
    link->m_dwaReferrers.push_back(parent->m_nIndex);
    link->m_nLevel = static_cast<std::int16_t>(parent->m_nLevel + 1);
    // The newest record comes last in table order.
    parent->m_dwaTargets.push_back(index);
    // The page being scanned keeps its set of targets whole.
    if (m_nTargetsPage == parent->m_nIndex && m_nTargetsCovered + 1 == parent->m_dwaTargets.size()) {
      m_targetSet.Insert(index);
      ++m_nTargetsCovered;
    }
  } else {
    link->m_nLevel = 0;
  }
  m_saUrls.push_back(url);
  m_obaLinks.push_back(std::move(owned));
  m_mapUrls.Set(index);
  IndexRecord(index);
  ++m_nPending;
  SetModifiedFlag();
  NotePending(link);
  if (m_pObserver) m_pObserver->RecordsAdded(index, 1);
  return link;
}

void CWexoDoc::SetStatus(CLinkInfo* link, std::int16_t code, const std::string& text) {
  link->m_csStatusText = text;
  for (char& c : link->m_csStatusText)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  if (code != 200 && code != STATUS_BUSY) link->m_hInternet.store(0, std::memory_order_release);
  const std::int16_t old = link->m_nStatus;
  link->m_nStatus = code;
  const bool wasPending = old == STATUS_PENDING || old == STATUS_BUSY;
  const bool isPending = code == STATUS_PENDING || code == STATUS_BUSY;
  if (wasPending != isPending) {
    m_nPending += isPending ? 1 : -1;
    m_nFinished += isPending ? -1 : 1;
  }
  if (code == STATUS_PENDING && old != STATUS_PENDING) NotePending(link);
  SetModifiedFlag();
  if (m_pObserver) m_pObserver->RecordChanged(*link);
}

void CWexoDoc::ResetRecord(CLinkInfo* link) {
  link->m_csMimeType.clear();
  link->m_bDateKnown = 0;
  link->m_nSize = 0;
  SetStatus(link, STATUS_PENDING, std::string());
}

bool CWexoDoc::NewTargetOfPage(const CLinkInfo& page, std::uint32_t target) {
  const std::vector<std::uint32_t>& targets = page.m_dwaTargets;
  if (m_nTargetsPage != page.m_nIndex || m_nTargetsCovered != targets.size()) {
    m_nTargetsPage = page.m_nIndex;
    m_targetSet.Clear(targets.size());
    for (std::uint32_t t : targets) m_targetSet.Insert(t);
  }
  if (!m_targetSet.Insert(target)) {
    m_nTargetsCovered = targets.size();
    return false;
  }
  m_nTargetsCovered = targets.size() + 1;
  return true;
}

void CWexoDoc::AddReferrer(CLinkInfo* target, CLinkInfo* page) {
  if (!NewTargetOfPage(*page, target->m_nIndex)) return;
  target->m_dwaReferrers.push_back(page->m_nIndex);
  std::vector<std::uint32_t>& targets = page->m_dwaTargets;
  if (!targets.empty() && targets.back() > target->m_nIndex) page->m_bTargetsInOrder = false;
  targets.push_back(target->m_nIndex);
  SetModifiedFlag();
  if (page->m_nLevel + 1 < target->m_nLevel) target->m_nLevel = static_cast<std::int16_t>(page->m_nLevel + 1);
}

void CWexoDoc::AddRedirect(const std::string& source, const std::string& target, std::uint16_t code) {
  m_saRedirectSources.push_back(source);
  m_saRedirectTargets.push_back(target);
  m_waRedirectCodes.push_back(code);
}

void CWexoDoc::RecordChanged(const CLinkInfo* link) {
  if (m_pObserver && link) m_pObserver->RecordChanged(*link);
}

void CWexoDoc::NotifyTableReset() {
  if (m_pObserver) m_pObserver->TableReset();
}

void CWexoDoc::NotifyRowsChanged() {
  if (m_pObserver) m_pObserver->RowsChanged();
}

const std::vector<std::uint32_t>& CWexoDoc::GetTargets(const CLinkInfo& page) const {
  // Links to records found earlier arrive out of table order; sorted once when asked for.
  if (!page.m_bTargetsInOrder) {
    std::sort(page.m_dwaTargets.begin(), page.m_dwaTargets.end());
    page.m_bTargetsInOrder = true;
  }
  return page.m_dwaTargets;
}

std::string CWexoDoc::GetLinkedUrlsText(const CLinkInfo& page) const {
  std::string text;
  for (std::uint32_t t : GetTargets(page)) {
    text += m_saUrls[t];
    text += "\r\n";
  }
  return text;
}

bool CWexoDoc::IsInternal(std::string_view url) const {
  if (url.starts_with(m_csRootUrl)) return true;
  const bool domainMatch = m_settings.DomainMatch != 0;
  const std::string key = domainMatch ? GetDomain(url) : std::string();
  if (domainMatch && key == GetDomain(m_csRootUrl)) return true;
  for (const std::string& prefix : m_saInclude)
    if (url.starts_with(prefix)) return true;
  if (domainMatch)
    for (const std::string& prefix : m_saInclude)
      if (key == GetDomain(prefix)) return true;
  return false;
}

bool CWexoDoc::IsExcluded(std::string_view url) const {
  if (m_settings.ExcludeMSO &&
      (EndsWith(url, "filelist.xml") || EndsWith(url, "editdata.mso") || EndsWith(url, "oledata.mso")))
    return true;
  for (const std::string& prefix : m_saExclude)
    if (url.starts_with(prefix)) return true;
  return false;
}

void CWexoDoc::ToggleShowBrokenOnly() {
  m_settings.ShowBrokenOnly = !m_settings.ShowBrokenOnly;
  SetModifiedFlag();
  App().WriteProfileInt("Options", "ShowBrokenOnly", m_settings.ShowBrokenOnly);
  NotifyTableReset();
}

void CWexoDoc::StartRunning() {
  m_bRunning = true;
  m_bFinished = false;
  m_bPaused = false;
  NotifyRowsChanged();
  if (m_pUi) m_pUi->PostSchedule();
}

void CWexoDoc::Pause() {
  m_bRunning = false;
  m_bPaused = true;
}

void CWexoDoc::Continue() {
  m_bPaused = false;
  m_bRunning = true;
  m_bFinished = false;
  if (m_pUi) m_pUi->PostSchedule();
}

void CWexoDoc::RecheckBroken() {
  bool any = false;
  for (const auto& link : m_obaLinks) {
    // A record whose worker has not been handed over yet already shows its final status;
    // resetting it now would start a second worker on it.
    if (link->IsBroken() && !IsActive(link.get())) SetStatus(link.get(), STATUS_PENDING, std::string());
    if (link->m_nStatus == 0) any = true;
  }
  if (any) StartRunning();
}

void CWexoDoc::CloseAllHandles() {
  for (const auto& link : m_obaLinks) {
    const platform::HINTERNET h = link->TakeInternetHandle();
    if (h) platform::InternetCloseHandle(h);
  }
}

void CWexoDoc::ToggleCheckExternal() {
  m_settings.CheckExternal = !m_settings.CheckExternal;
  if (m_settings.CheckExternal) {
    bool any = false;
    for (const auto& link : m_obaLinks) {
      if (link->m_nStatus == STATUS_SKIP_EXTERNAL) SetStatus(link.get(), STATUS_PENDING, std::string());
      if (link->m_nStatus == 0) any = true;
    }
    if (any) StartRunning();
  } else {
    for (std::size_t i = 0; i < m_obaLinks.size(); ++i) {
      CLinkInfo* link = m_obaLinks[i].get();
      if (link->m_nStatus != 0) continue;
      const std::string& url = m_saUrls[i];
      if (!IsInternal(url) || IsExcluded(url)) SetStatus(link, STATUS_SKIP_EXTERNAL, std::string());
    }
    NotifyRowsChanged();
  }
}

void CWexoDoc::AddActive(CLinkInfo* link) {
  if (IsActive(link)) return;
  link->m_nActiveSlot = static_cast<std::uint32_t>(m_paActive.size());
  m_paActive.push_back(link);
}

void CWexoDoc::RemoveActive(CLinkInfo* link) {
  if (!IsActive(link)) return;
  m_paActive[link->m_nActiveSlot] = nullptr;
  link->m_nActiveSlot = CLinkInfo::kNotActive;
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

bool CWexoDoc::IsActive(const CLinkInfo* link) const {
  return link->m_nActiveSlot < m_paActive.size() && m_paActive[link->m_nActiveSlot] == link;
}

std::string CWexoDoc::ActiveThreadsMessage() const {
  std::string text =
      "Wait until all active threads have terminated before closing (press PAUSE and STOP if needed).\n"
      "Active threads: \n\n";
  for (const CLinkInfo* link : m_paActive) {
    if (!link) continue;
    text += link->GetUrl();
    // Only a thread that has ended has an exit code to show; a running one shows its URL alone.
    if (link->m_hThread && link->m_hThread->GetExitCode() != CWorkerThread::kStillActive) {
      char status[32];
      std::snprintf(status, sizeof status, "\t\t(Thread Status: %lx)",
                    static_cast<unsigned long>(link->m_hThread->GetExitCode()));
      text += status;
    }
    text += "\n";
  }
  return text;
}

bool CWexoDoc::CanCloseFrame() {
  if (m_nActiveThreads == 0) {
    if (m_pObserver) m_pObserver->DocumentClosing();
    return true;
  }
  Host().MessageBox(ActiveThreadsMessage(), BoxKind::Warning);
  return false;
}

bool CWexoDoc::OnFileClose() { return CanCloseFrame(); }

void CWexoDoc::OnCloseDocument() {
  if (m_pObserver) m_pObserver->DocumentClosing();
}

void CWexoDoc::IndexRecord(std::uint32_t index) {
  const std::string& url = m_saUrls[index];
  // Only URLs that literally begin with their server's prefix count as that server's. Most
  // are canonical http URLs whose prefix is their own text up to the first '/' after the host.
  std::string_view prefix = LiteralHostPrefix(url);
  if (prefix.empty()) {
    HostPrefixOf(url, m_prefixScratch);
    if (url.starts_with(m_prefixScratch)) prefix = m_prefixScratch;
  }
  if (!prefix.empty()) {
    auto it = m_byHost.find(prefix);
    if (it == m_byHost.end()) it = m_byHost.emplace(std::string(prefix), std::vector<std::uint32_t>()).first;
    it->second.push_back(index);
  }
  if (url.starts_with("mailto:")) {
    std::string domain = MailtoDomain(url);
    if (!domain.empty()) m_byMailDomain[domain].push_back(index);
  }
}

const std::vector<std::uint32_t>* CWexoDoc::RecordsOfHost(const std::string& prefix) const {
  auto it = m_byHost.find(prefix);
  return it == m_byHost.end() ? nullptr : &it->second;
}

void CWexoDoc::NotePending(CLinkInfo* link) {
  const std::uint32_t index = link->m_nIndex;
  if (m_inPendingIndex.size() <= index) m_inPendingIndex.resize(index + 1 + index / 2, false);
  if (m_inPendingIndex[index]) return;
  m_inPendingIndex[index] = true;
  m_pendingIndex.push_back(index);
}

CLinkInfo* CWexoDoc::DrawPending() {
  while (!m_pendingIndex.empty()) {
    std::uniform_int_distribution<std::size_t> pick(0, m_pendingIndex.size() - 1);
    const std::size_t at = pick(m_random);
    const std::uint32_t index = m_pendingIndex[at];
    if (index < m_obaLinks.size() && Startable(m_obaLinks[index].get())) return m_obaLinks[index].get();
    // No longer a candidate: drop it; it comes back when its status returns to 0.
    m_pendingIndex[at] = m_pendingIndex.back();
    m_pendingIndex.pop_back();
    m_inPendingIndex[index] = false;
  }
  return nullptr;
}

bool CWexoDoc::AnyStartablePending() {
  while (!m_pendingIndex.empty()) {
    const std::uint32_t index = m_pendingIndex.back();
    if (index < m_obaLinks.size() && Startable(m_obaLinks[index].get())) return true;
    m_pendingIndex.pop_back();
    m_inPendingIndex[index] = false;
  }
  return false;
}
