#include "engine/WexoDoc.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>

#include "engine/Application.h"
#include "engine/Clock.h"
#include "platform/InetHandle.h"

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

CWexoDoc::CWexoDoc(const EngineContext& context) : m_ctx(context) { m_settings = ReadCheckSettings(*m_ctx.app); }

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
  m_table.SetObserver(observer);
}

std::int64_t CWexoDoc::Now() const { return m_ctx.clock ? m_ctx.clock() : NowSeconds(); }

std::int64_t CWexoDoc::GetElapsedSeconds() const {
  return m_nActiveThreads > 0 ? m_nElapsed + Now() - m_tCrawlStart : m_nElapsed;
}

const CLinkInfo* CWexoDoc::NewLink(const std::string& url, const CLinkInfo* parent, std::uint16_t requestKind) {
  CLinkInfo* link = m_table.Add(url, parent ? m_table.Mutable(*parent) : nullptr, requestKind, this);
  NotePending(link);
  return link;
}

void CWexoDoc::SetStatus(const CLinkInfo* link, std::int16_t code, const std::string& text) {
  const std::int16_t old = m_table.SetStatus(*m_table.Mutable(*link), code, text);
  if (code == STATUS_PENDING && old != STATUS_PENDING) NotePending(link);
}

void CWexoDoc::ResetRecord(const CLinkInfo* link) {
  if (m_table.Reset(*m_table.Mutable(*link)) != STATUS_PENDING) NotePending(link);
}

void CWexoDoc::AddReferrer(const CLinkInfo* target, const CLinkInfo* page) {
  m_table.AddReferrer(*m_table.Mutable(*target), *m_table.Mutable(*page));
}

void CWexoDoc::AddRedirect(const std::string& source, const std::string& target, std::uint16_t code) {
  m_saRedirectSources.push_back(source);
  m_saRedirectTargets.push_back(target);
  m_waRedirectCodes.push_back(code);
}

void CWexoDoc::NotifyTableReset() {
  if (m_pObserver) m_pObserver->TableReset();
}

void CWexoDoc::NotifyRowsChanged() {
  if (m_pObserver) m_pObserver->RowsChanged();
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

void CWexoDoc::MarkFinished() {
  m_bRunning = false;
  m_bFinished = true;
}

void CWexoDoc::CountAllFinished() {
  m_table.CountAllFinished();
  NotifyStatusText();
  // The window is drawn again at once; its rows stay what they are.
  NotifyRowsChanged();
}

void CWexoDoc::RecheckBroken() {
  bool any = false;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo* link = m_table.GetLink(i);
    // A record whose worker has not been handed over yet already shows its final status;
    // resetting it now would start a second worker on it.
    if (link->IsBroken() && !IsActive(link)) SetStatus(link, STATUS_PENDING, std::string());
    if (link->m_nStatus == 0) any = true;
  }
  if (any) StartRunning();
}

void CWexoDoc::CloseAllHandles() {
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const platform::HINTERNET h = Record(i)->TakeInternetHandle();
    if (h) platform::InternetCloseHandle(h);
  }
}

void CWexoDoc::ToggleCheckExternal() {
  m_settings.CheckExternal = !m_settings.CheckExternal;
  if (m_settings.CheckExternal) {
    bool any = false;
    for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
      const CLinkInfo* link = m_table.GetLink(i);
      if (link->m_nStatus == STATUS_SKIP_EXTERNAL) SetStatus(link, STATUS_PENDING, std::string());
      if (link->m_nStatus == 0) any = true;
    }
    if (any) StartRunning();
  } else {
    for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
      const CLinkInfo* link = m_table.GetLink(i);
      if (link->m_nStatus != 0) continue;
      const std::string& url = m_table.GetUrl(i);
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

void CWexoDoc::NotePending(const CLinkInfo* link) {
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
    if (index < m_table.GetLinkCount() && Startable(m_table.GetLink(index))) return Record(index);
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
    if (index < m_table.GetLinkCount() && Startable(m_table.GetLink(index))) return true;
    m_pendingIndex.pop_back();
    m_inPendingIndex[index] = false;
  }
  return false;
}
