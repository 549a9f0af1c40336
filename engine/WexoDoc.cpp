#include "engine/WexoDoc.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "engine/Application.h"
#include "engine/SimilarRecords.h"
#include "engine/Url.h"
#include "platform/InetHandle.h"

namespace {

bool IsPendingStatus(std::int16_t s) { return s == 0 || s == -1; }

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

std::string UserAgentFromSetting(std::string value) {
  const std::size_t pos = value.find("Tolvak ");
  if (pos != std::string::npos && pos != 0) value[pos + 6] = '/';
  return value;
}

CWexoDoc::CWexoDoc() {
  m_saUrls.reserve(1000);
  m_obaLinks.reserve(1000);
  ReadSettings();
}

CWexoDoc::~CWexoDoc() {
  // Results that were never parsed still own their temporary bodies.
  for (const auto& result : m_paFinished)
    if (result && result->bBodyIsTemp && !result->csBodyFile.empty() && IsInTempDir(result->csBodyFile))
      ::unlink(result->csBodyFile.c_str());
}

void CWexoDoc::ReadSettings() {
  const CWexoApp& app = WexoApp();
  auto i = [&](const char* key, int def) { return app.GetProfileInt("Options", key, def); };
  auto s = [&](const char* key, const char* def) { return app.GetProfileString("Options", key, def); };
  ShowBrokenOnly = i("ShowBrokenOnly", 0);
  m_nThreads = static_cast<std::int16_t>(i("Threads", 30));
  AskPassword = i("AskPassword", 1);
  RedirectIsError = i("RedirectIsError", 0);
  ReportBroken1 = i("ReportBroken1", 1);
  ReportBroken2 = i("ReportBroken2", 1);
  ReportBrokenLocal = i("ReportBrokenLocal", 1);
  ReportFtpGopher = i("ReportFtpGopher", 1);
  ReportRedir = i("ReportRedir", 1);
  ReportValid = i("ReportValid", 1);
  SiteMap = i("SiteMap", 1);
  MaxLevel = static_cast<std::int16_t>(i("MaxLevel", 9999));
  ReportStatistics = i("ReportStatistics", 1);
  ReportOrphans = i("ReportOrphans", 1);
  DomainMatch = i("DomainMatch", 0);
  AllowCookies = i("AllowCookies", 0);
  ExcludeMSO = i("ExcludeMSO", 0);
  FailSimilarHosts = i("FailSimilarHosts", 1);
  MaxRetry = static_cast<std::int16_t>(i("MaxRetry", 1));
  ListLocalDirectories = i("ListLocalDirectories", 0);
  AllowLocalFilesInRemoteCheck = i("AllowLocalFilesInRemoteCheck", 0);
  MakeLowerCase = i("MakeLowerCase", 0);
  PassiveFtp = i("PassiveFtp", 0);
  ReportTimeouts = i("ReportTimeouts", 1);
  CheckExternal = i("CheckExternal", 1);
  EMail = i("E-Mail", 0);
  EMailOnlyIfBroken = i("E-MailOnlyIfBroken", 0);
  EMailSmtpServer = s("E-Mail-SMTP-Server", "");
  EMailFrom = s("E-Mail-From", "");
  EMailTo = s("E-Mail-To", "");
  EMailSubject = s("E-Mail-Subject", "");
  m_csUserAgent = UserAgentFromSetting(s("Tolvak", kProgramBanner));
  m_csAccept = s("Accept", "*/*");
  m_csIfModifiedSince = s("If-Modified-Since", "");
  Referer = i("Referer", 0);
  CheckDoubleSlash = i("CheckDoubleSlash", 1);
}

CLinkInfo* CWexoDoc::FindLink(std::string_view url) const {
  const std::uint32_t index = m_mapUrls.Find(url);
  return index == UrlMap::kNone ? nullptr : m_obaLinks[index].get();
}

std::uint32_t CWexoDoc::EnterUrl(const std::string& url) {
  const auto index = static_cast<std::uint32_t>(m_saUrls.size());
  m_saUrls.push_back(url);
  m_mapUrls.Set(index);
  IndexRecord(index);
  return index;
}

CLinkInfo* CWexoDoc::NewLink(const std::string& url, CLinkInfo* parent, std::uint16_t requestKind) {
  auto link = std::make_unique<CLinkInfo>(url, parent, this);
  link->m_wRequestKind = requestKind;
  m_obaLinks.push_back(std::move(link));
  CLinkInfo* added = m_obaLinks.back().get();
  NotePending(added);
  return added;
}

void CWexoDoc::OnStatusChange(CLinkInfo* link, std::int16_t oldStatus, std::int16_t newStatus) {
  (IsPendingStatus(oldStatus) ? m_nPending : m_nFinished).fetch_sub(1, std::memory_order_relaxed);
  (IsPendingStatus(newStatus) ? m_nPending : m_nFinished).fetch_add(1, std::memory_order_relaxed);
  if (newStatus == 0 && oldStatus != 0) NotePending(link);
}

bool CWexoDoc::IsInternal(std::string_view url) const {
  if (url.starts_with(m_csRootUrl)) return true;
  const std::string key = DomainMatch ? GetDomain(url) : std::string();
  if (DomainMatch && key == GetDomain(m_csRootUrl)) return true;
  for (const std::string& prefix : m_saInclude)
    if (url.starts_with(prefix)) return true;
  if (DomainMatch)
    for (const std::string& prefix : m_saInclude)
      if (key == GetDomain(prefix)) return true;
  return false;
}

bool CWexoDoc::IsExcluded(std::string_view url) const {
  if (ExcludeMSO &&
      (EndsWith(url, "filelist.xml") || EndsWith(url, "editdata.mso") || EndsWith(url, "oledata.mso")))
    return true;
  for (const std::string& prefix : m_saExclude)
    if (url.starts_with(prefix)) return true;
  return false;
}

void CWexoDoc::ToggleShowBrokenOnly() {
  ShowBrokenOnly = !ShowBrokenOnly;
  SetModifiedFlag();
  WexoApp().WriteProfileInt("Options", "ShowBrokenOnly", ShowBrokenOnly);
}

void CWexoDoc::StartRunning() {
  m_bRunning = true;
  m_bFinished = false;
  m_bPaused = false;
  if (m_pView) {
    m_pView->Invalidate();
    m_pView->PostSchedule();
  }
}

void CWexoDoc::RecheckBroken() {
  bool any = false;
  for (const auto& link : m_obaLinks) {
    // A record whose worker has not been handed over yet already shows its final status;
    // resetting it now would start a second worker on it.
    if (link->IsBroken() && !IsActive(link.get())) link->SetStatus(0, std::string());
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
  CheckExternal = !CheckExternal;
  if (CheckExternal) {
    bool any = false;
    for (const auto& link : m_obaLinks) {
      if (link->m_nStatus == STATUS_SKIP_EXTERNAL) link->SetStatus(0, std::string());
      if (link->m_nStatus == 0) any = true;
    }
    if (any) StartRunning();
  } else {
    for (std::size_t i = 0; i < m_obaLinks.size(); ++i) {
      CLinkInfo* link = m_obaLinks[i].get();
      if (link->m_nStatus != 0) continue;
      const std::string& url = m_saUrls[i];
      if (!IsInternal(url) || IsExcluded(url)) link->SetStatus(STATUS_SKIP_EXTERNAL, std::string());
    }
    if (m_pView) m_pView->Invalidate();
  }
}

void CWexoDoc::AddActive(CLinkInfo* link) {
  m_paActive.push_back(link);
}

void CWexoDoc::RemoveActive(CLinkInfo* link) {
  auto it = std::find(m_paActive.begin(), m_paActive.end(), link);
  if (it != m_paActive.end()) m_paActive.erase(it);
}

bool CWexoDoc::IsActive(const CLinkInfo* link) const {
  return std::find(m_paActive.begin(), m_paActive.end(), link) != m_paActive.end();
}

std::string CWexoDoc::ActiveThreadsMessage() const {
  std::string text =
      "Wait until all active threads have terminated before closing (press PAUSE and STOP if needed).\n"
      "Active threads: \n\n";
  for (const CLinkInfo* link : m_paActive) {
    text += link->GetUrl();
    if (link->m_hThread) {
      const std::uint32_t code = link->m_hThread->GetExitCode();
      if (code != CWorkerThread::kStillActive) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "\t\t(Thread Status: %lx)", static_cast<unsigned long>(code));
        text += buffer;
      }
    }
    text += "\n";
  }
  return text;
}

bool CWexoDoc::CanCloseFrame() {
  if (m_nActiveThreads == 0) {
    if (m_pView) m_pView->SaveColumnWidths();
    return true;
  }
  Host().MessageBox(ActiveThreadsMessage(), BoxKind::Warning);
  return false;
}

bool CWexoDoc::OnFileClose() { return CanCloseFrame(); }

void CWexoDoc::OnCloseDocument() {
  if (m_pView) m_pView->SaveColumnWidths();
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
  std::lock_guard<std::mutex> lock(m_pendingLock);
  const std::uint32_t index = link->m_nIndex;
  if (m_inPendingIndex.size() <= index) m_inPendingIndex.resize(index + 1 + index / 2, false);
  if (m_inPendingIndex[index]) return;
  m_inPendingIndex[index] = true;
  m_pendingIndex.push_back(index);
}

CLinkInfo* CWexoDoc::DrawPending() {
  std::lock_guard<std::mutex> lock(m_pendingLock);
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
  std::lock_guard<std::mutex> lock(m_pendingLock);
  while (!m_pendingIndex.empty()) {
    const std::uint32_t index = m_pendingIndex.back();
    if (index < m_obaLinks.size() && Startable(m_obaLinks[index].get())) return true;
    m_pendingIndex.pop_back();
    m_inPendingIndex[index] = false;
  }
  return false;
}

