#include "engine/LinkTable.h"

#include <algorithm>

#include "engine/SimilarRecords.h"
#include "engine/Url.h"
#include "platform/MimeTypes.h"

LinkTable::LinkTable() {
  m_saUrls.reserve(1000);
  m_obaLinks.reserve(1000);
}

CLinkInfo* LinkTable::Add(const std::string& url, CLinkInfo* parent, std::uint16_t requestKind) {
  auto owned = std::make_unique<CLinkInfo>();
  CLinkInfo* link = owned.get();
  if (url.starts_with("file:///")) {
    const std::size_t dot = url.rfind('.');
    if (dot != std::string::npos)
      link->m_csMimeType = platform::ContentTypeForExtension(std::string_view(url).substr(dot));
  }
  const auto index = static_cast<std::uint32_t>(m_saUrls.size());
  link->m_nIndex = index;
  link->m_pTable = this;
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
  m_bModified = true;
  if (m_pObserver) m_pObserver->RecordsAdded(index, 1);
  return link;
}

std::int16_t LinkTable::SetStatus(CLinkInfo& link, std::int16_t code, const std::string& text) {
  link.m_csStatusText = text;
  for (char& c : link.m_csStatusText)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  const std::int16_t old = link.m_nStatus;
  link.m_nStatus = code;
  const bool wasPending = old == STATUS_PENDING || old == STATUS_BUSY;
  const bool isPending = code == STATUS_PENDING || code == STATUS_BUSY;
  if (wasPending != isPending) {
    m_nPending += isPending ? 1 : -1;
    m_nFinished += isPending ? -1 : 1;
  }
  m_bModified = true;
  if (m_pObserver) m_pObserver->RecordChanged(link);
  return old;
}

void LinkTable::SetStatusText(CLinkInfo& link, const std::string& text) {
  link.m_csStatusText = text;
  for (char& c : link.m_csStatusText)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  m_bModified = true;
  if (m_pObserver) m_pObserver->RecordChanged(link);
}

std::int16_t LinkTable::Reset(CLinkInfo& link) {
  link.m_csMimeType.clear();
  link.m_bDateKnown = 0;
  link.m_nSize = 0;
  return SetStatus(link, STATUS_PENDING, std::string());
}

bool LinkTable::NewTargetOfPage(const CLinkInfo& page, std::uint32_t target) {
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

void LinkTable::AddReferrer(CLinkInfo& target, CLinkInfo& page) {
  if (!NewTargetOfPage(page, target.m_nIndex)) return;
  target.m_dwaReferrers.push_back(page.m_nIndex);
  std::vector<std::uint32_t>& targets = page.m_dwaTargets;
  if (!targets.empty() && targets.back() > target.m_nIndex) page.m_bTargetsInOrder = false;
  targets.push_back(target.m_nIndex);
  m_bModified = true;
  if (page.m_nLevel + 1 < target.m_nLevel) LowerLevel(target, static_cast<std::int16_t>(page.m_nLevel + 1));
}

void LinkTable::LowerLevel(CLinkInfo& link, std::int16_t level) {
  // Breadth first from one record: every record is reached at its new level first, so each
  // is lowered once per spread and its links are walked once for it.
  m_lowered.clear();
  link.m_nLevel = level;
  m_lowered.push_back(link.m_nIndex);
  for (std::size_t next = 0; next < m_lowered.size(); ++next) {
    const CLinkInfo& from = *m_obaLinks[m_lowered[next]];
    const auto below = static_cast<std::int16_t>(from.m_nLevel + 1);
    for (std::uint32_t t : from.m_dwaTargets) {
      CLinkInfo& target = *m_obaLinks[t];
      if (target.m_nLevel <= below) continue;
      target.m_nLevel = below;
      m_lowered.push_back(t);
    }
  }
  // The listener may change statuses, never levels or links: the list is read as it stands.
  for (std::uint32_t index : m_lowered) {
    CLinkInfo& lowered = *m_obaLinks[index];
    if (m_pObserver) m_pObserver->RecordChanged(lowered);
    if (m_onLevelLowered) m_onLevelLowered(lowered);
  }
}

const std::vector<std::uint32_t>& LinkTable::GetTargets(const CLinkInfo& page) const {
  // Links to records found earlier arrive out of table order; sorted once when asked for.
  if (!page.m_bTargetsInOrder) {
    std::sort(page.m_dwaTargets.begin(), page.m_dwaTargets.end());
    page.m_bTargetsInOrder = true;
  }
  return page.m_dwaTargets;
}

std::string LinkTable::GetLinkedUrlsText(const CLinkInfo& page) const {
  std::string text;
  for (std::uint32_t t : GetTargets(page)) {
    text += m_saUrls[t];
    text += "\r\n";
  }
  return text;
}

void LinkTable::IndexRecord(std::uint32_t index) {
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

const std::vector<std::uint32_t>* LinkTable::RecordsOfHost(const std::string& prefix) const {
  auto it = m_byHost.find(prefix);
  return it == m_byHost.end() ? nullptr : &it->second;
}

const std::vector<std::uint32_t>* LinkTable::RecordsOfMailDomain(const std::string& domain) const {
  if (domain.empty()) return nullptr;
  auto it = m_byMailDomain.find(domain);
  return it == m_byMailDomain.end() ? nullptr : &it->second;
}

void LinkTable::Restore(std::vector<std::string> urls, std::vector<std::unique_ptr<CLinkInfo>> links) {
  m_saUrls = std::move(urls);
  m_obaLinks = std::move(links);
  m_mapUrls.Clear();
  m_byHost.clear();
  m_byMailDomain.clear();
  m_nTargetsPage = UrlMap::kNone;
  m_nTargetsCovered = 0;
  std::int32_t pending = 0, finished = 0;
  for (std::size_t i = 0; i < m_obaLinks.size(); ++i) {
    CLinkInfo* link = m_obaLinks[i].get();
    link->m_pTable = this;
    // A URL that appears twice names its last record, as when entered in table order.
    m_mapUrls.Set(static_cast<std::uint32_t>(i));
    IndexRecord(static_cast<std::uint32_t>(i));
    // Each page's links out, in table order of the targets.
    for (std::uint32_t r : link->m_dwaReferrers) {
      std::vector<std::uint32_t>& targets = m_obaLinks[r]->m_dwaTargets;
      if (targets.empty() || targets.back() != i) targets.push_back(static_cast<std::uint32_t>(i));
    }
    if (link->m_nStatus == STATUS_PENDING)
      ++pending;
    else
      ++finished;
  }
  m_nPending = pending;
  m_nFinished = finished;
}
