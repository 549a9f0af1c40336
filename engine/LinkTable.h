// The link table of one check: the records, their URLs and the URL map, the indexes by host
// and mail domain, and the referrer graph.
//
// Readers (the reports, the exports, the list) get a const LinkTable and see records only as
// const. Every change goes through a method here, which keeps the counts and the indexes
// and tells the observer. User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/Host.h"
#include "engine/IndexSet.h"
#include "engine/LinkInfo.h"
#include "engine/UrlMap.h"

// The URLs of a list of record indices, read as they are visited (a hand-written view: the
// standard ranges do not build with every compiler the fuzzing build uses).
class UrlsByIndex {
 public:
  class Iterator {
   public:
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Iterator(const std::vector<std::string>* urls, const std::uint32_t* at) : m_urls(urls), m_at(at) {}
    const std::string& operator*() const { return (*m_urls)[*m_at]; }
    Iterator& operator++() {
      ++m_at;
      return *this;
    }
    Iterator operator++(int) { return Iterator(m_urls, m_at++); }
    bool operator==(const Iterator& other) const { return m_at == other.m_at; }

   private:
    const std::vector<std::string>* m_urls = nullptr;
    const std::uint32_t* m_at = nullptr;
  };

  UrlsByIndex(const std::vector<std::string>& urls, std::span<const std::uint32_t> indices)
      : m_urls(&urls), m_indices(indices) {}
  Iterator begin() const { return Iterator(m_urls, m_indices.data()); }
  Iterator end() const { return Iterator(m_urls, m_indices.data() + m_indices.size()); }
  std::size_t size() const { return m_indices.size(); }
  bool empty() const { return m_indices.empty(); }
  const std::string& front() const { return (*m_urls)[m_indices.front()]; }
  const std::string& back() const { return (*m_urls)[m_indices.back()]; }

 private:
  const std::vector<std::string>* m_urls;
  std::span<const std::uint32_t> m_indices;
};

class LinkTable {
 public:
  LinkTable();
  LinkTable(const LinkTable&) = delete;
  LinkTable& operator=(const LinkTable&) = delete;

  // Who hears of added and changed records; nullptr for nobody.
  void SetObserver(IDocumentObserver* observer) { m_pObserver = observer; }

  // ---- The const view. Record indices are stable; a record's URL never changes.
  std::size_t GetLinkCount() const { return m_obaLinks.size(); }
  bool empty() const { return m_obaLinks.empty(); }
  const CLinkInfo* GetLink(std::size_t index) const { return m_obaLinks[index].get(); }
  const std::string& GetUrl(std::size_t index) const { return m_saUrls[index]; }
  const std::vector<std::string>& GetUrls() const { return m_saUrls; }
  const CLinkInfo* FindLink(std::string_view url) const {
    const std::uint32_t index = m_mapUrls.Find(url);
    return index == UrlMap::kNone ? nullptr : m_obaLinks[index].get();
  }
  // The URLs of the pages that link to a record, in the order they were found.
  UrlsByIndex GetReferrerUrls(const CLinkInfo& link) const { return UrlsByIndex(m_saUrls, link.m_dwaReferrers); }
  // The records a page links to, in table order.
  const std::vector<std::uint32_t>& GetTargets(const CLinkInfo& page) const;
  // The URLs of the known pages a record links to, each followed by CR LF.
  std::string GetLinkedUrlsText(const CLinkInfo& page) const;
  // Records that have a given "scheme://host[:port]/" prefix, in table order.
  const std::vector<std::uint32_t>* RecordsOfHost(const std::string& prefix) const;
  // The mailto records of a mail domain, in table order.
  const std::vector<std::uint32_t>* RecordsOfMailDomain(const std::string& domain) const;
  // Records with status 0 or -1, and all others.
  std::int32_t GetPendingCount() const { return m_nPending; }
  std::int32_t GetFinishedCount() const { return m_nFinished; }
  // Changed since it was last loaded or saved.
  bool IsModified() const { return m_bModified; }

  // ---- Changes. Each marks the table modified and tells the observer, but RecordChanged.
  // The writable record; only the table's owner holds a non-const table.
  CLinkInfo* Mutable(std::size_t index) { return m_obaLinks[index].get(); }
  CLinkInfo* Mutable(const CLinkInfo& link) { return m_obaLinks[link.m_nIndex].get(); }
  // A new pending record at the end of the table; parent is the page that links to it. The
  // record reads its URL here.
  CLinkInfo* Add(const std::string& url, CLinkInfo* parent, std::uint16_t requestKind);
  // Sets a record's status and text (tabs and line breaks become blanks) and moves the
  // counts; gives the old status. The session handle stays: only whoever takes it out closes
  // it (CLinkInfo::TakeInternetHandle), so a running fetch can still be stopped.
  std::int16_t SetStatus(CLinkInfo& link, std::int16_t code, const std::string& text);
  // Only the text, the code stays.
  void SetStatusText(CLinkInfo& link, const std::string& text);
  // Back to pending, with type, size and date cleared; gives the old status.
  std::int16_t Reset(CLinkInfo& link);
  // Notes that page links to target (once per pair). A record's level is the shortest
  // distance found: when page offers a shorter one, target is lowered, and so on along the
  // links of the pages already parsed; the level listener hears of each lowered record.
  void AddReferrer(CLinkInfo& target, CLinkInfo& page);
  // Told of every record whose level was lowered, after the lowering has spread.
  void SetLevelListener(std::function<void(CLinkInfo&)> listener) { m_onLevelLowered = std::move(listener); }
  // A record's data changed in a way the table does not count: only the observer hears of it.
  void RecordChanged(const CLinkInfo& link) {
    if (m_pObserver) m_pObserver->RecordChanged(link);
  }
  // The table as a document file gave it: urls[i] is the URL of links[i].
  void Restore(std::vector<std::string> urls, std::vector<std::unique_ptr<CLinkInfo>> links);
  // The end of an interactive check counts every record as finished.
  void CountAllFinished() {
    m_nFinished = static_cast<std::int32_t>(m_obaLinks.size());
    m_nPending = 0;
  }
  void SetModifiedFlag(bool modified = true) { m_bModified = modified; }

 private:
  void IndexRecord(std::uint32_t index);
  // False when page links to target already; otherwise the caller appends target to the
  // page's targets.
  bool NewTargetOfPage(const CLinkInfo& page, std::uint32_t target);
  // Gives link the level, then lowers the records its links lead to, breadth first.
  void LowerLevel(CLinkInfo& link, std::int16_t level);

  std::function<void(CLinkInfo&)> m_onLevelLowered;
  // The records lowered in one spread, in the order they were lowered.
  std::vector<std::uint32_t> m_lowered;

  IDocumentObserver* m_pObserver = nullptr;
  bool m_bModified = false;
  std::vector<std::string> m_saUrls;
  std::vector<std::unique_ptr<CLinkInfo>> m_obaLinks;
  UrlMap m_mapUrls{m_saUrls};
  std::int32_t m_nPending = 0;
  std::int32_t m_nFinished = 0;
  // Records by host prefix and by mail domain, for the passes over similar records.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  std::unordered_map<std::string, std::vector<std::uint32_t>, TextHash, std::equal_to<>> m_byHost;
  std::string m_prefixScratch;  // the host prefix of the record being indexed
  std::unordered_map<std::string, std::vector<std::uint32_t>> m_byMailDomain;
  // The targets of the page whose links are being added. A page is among a target's
  // referrers exactly when the target is among the page's targets, and this small set is at
  // hand where the target's referrers lie anywhere in memory. It covers the first
  // m_nTargetsCovered targets of page m_nTargetsPage and is rebuilt for another page, or
  // when that page's targets changed behind it.
  IndexSet m_targetSet;
  std::uint32_t m_nTargetsPage = UrlMap::kNone;
  std::size_t m_nTargetsCovered = 0;
};
