#include "ui/rows/LinkRows.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "engine/LinkInfo.h"
#include "engine/LinkTable.h"

namespace {

// A record in the record-to-row index that waits for its row.
constexpr std::int32_t kWaiting = -2;

int Sign(std::int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

int CompareAscending(const LinkTable& table, const CLinkInfo& a, const CLinkInfo& b, int column) {
  auto text = [](const std::string& x, const std::string& y) { return ::strcasecmp(x.c_str(), y.c_str()); };
  switch (column) {
    case kColumnStatus: {
      const int c = std::strcmp(StatusText(a.m_nStatus).c_str(), StatusText(b.m_nStatus).c_str());
      if (c != 0) return c;
      break;
    }
    case kColumnType: return text(a.m_csMimeType, b.m_csMimeType);
    case kColumnSize: return Sign(a.m_nSize - b.m_nSize);
    case kColumnTitle: return text(a.m_csTitle, b.m_csTitle);
    case kColumnDate: return Sign((a.m_bDateKnown ? a.m_tDate : 0) - (b.m_bDateKnown ? b.m_tDate : 0));
    case kColumnLevel: return a.m_nLevel - b.m_nLevel;
    case kColumnLinksOut: return Sign(std::int64_t{a.GetLinksOutCount()} - b.GetLinksOutCount());
    case kColumnLinksIn: return Sign(std::int64_t{a.GetLinksInCount()} - b.GetLinksInCount());
    case kColumnServer: {
      static const std::string none;
      const std::string* sa = a.GetServerName();
      const std::string* sb = b.GetServerName();
      return text(sa ? *sa : none, sb ? *sb : none);
    }
    case kColumnError: return text(a.m_csStatusText, b.m_csStatusText);
    case kColumnDuration:
      if (a.m_tsDuration != b.m_tsDuration) return Sign(a.m_tsDuration - b.m_tsDuration);
      return a.m_nDurationMs - b.m_nDurationMs;
    case kColumnCharset: return text(a.GetCharsetName(), b.GetCharsetName());
    case kColumnDescription: return text(a.m_csDescription, b.m_csDescription);
    case kColumnKeywords: return text(a.m_csKeywords, b.m_csKeywords);
    default: break;
  }
  return text(table.GetUrl(a.m_nIndex), table.GetUrl(b.m_nIndex));
}

}  // namespace

int CompareLinks(const LinkTable& table, const CLinkInfo& a, const CLinkInfo& b, int key) {
  if (key < 0) return CompareAscending(table, b, a, -key - 1);
  return CompareAscending(table, a, b, key - 1);
}

LinkRows::LinkRows(const LinkTable& table) : m_table(table) {}

const CLinkInfo* LinkRows::RecordAt(long row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return nullptr;
  return m_table.GetLink(m_rows[static_cast<std::size_t>(row)]);
}

long LinkRows::RowOf(const CLinkInfo& link) const {
  return link.m_nIndex < m_rowOf.size() ? std::max(m_rowOf[link.m_nIndex], -1) : -1;
}

long LinkRows::SelectedRow() const {
  if (m_selected < 0 || static_cast<std::size_t>(m_selected) >= m_rowOf.size()) return -1;
  return std::max(m_rowOf[static_cast<std::size_t>(m_selected)], -1);
}

void LinkRows::Select(long row) {
  m_selected = row >= 0 && static_cast<std::size_t>(row) < m_rows.size() ? m_rows[static_cast<std::size_t>(row)] : -1;
}

void LinkRows::CoverTable() { m_rowOf.resize(m_table.GetLinkCount(), -1); }

void LinkRows::IndexFrom(std::size_t from) {
  CoverTable();
  for (std::size_t row = from; row < m_rows.size(); ++row) m_rowOf[m_rows[row]] = static_cast<std::int32_t>(row);
  if (SelectedRow() < 0) m_selected = -1;
}

bool LinkRows::RecordsAdded(std::size_t first, std::size_t count, bool brokenOnly) {
  CoverTable();
  if (brokenOnly) return false;
  for (std::size_t i = first; i < first + count; ++i) {
    if (m_table.GetLink(i)->m_nLevel == 0) {
      m_roots.push_back(static_cast<std::uint32_t>(i));
      m_rowOf[i] = kWaiting;
      continue;
    }
    m_rowOf[i] = static_cast<std::int32_t>(m_rows.size());
    m_rows.push_back(static_cast<std::uint32_t>(i));
  }
  return true;
}

bool LinkRows::PlaceRoots() {
  if (m_roots.empty()) return false;
  // Each root went on top of those before it: the newest is the first row.
  std::vector<std::uint32_t> rows(m_roots.rbegin(), m_roots.rend());
  m_roots.clear();
  rows.insert(rows.end(), m_rows.begin(), m_rows.end());
  m_rows.swap(rows);
  IndexFrom(0);
  return true;
}

bool LinkRows::WaitIn(std::vector<std::uint32_t>& queue, const CLinkInfo& link) {
  CoverTable();
  if (link.m_nIndex >= m_rowOf.size() || m_rowOf[link.m_nIndex] != -1) return false;
  queue.push_back(link.m_nIndex);
  m_rowOf[link.m_nIndex] = kWaiting;
  return true;
}

bool LinkRows::WantRow(const CLinkInfo& link) { return WaitIn(m_wanted, link); }

bool LinkRows::InsertWanted() {
  if (m_wanted.empty()) return false;
  PlaceRoots();
  std::sort(m_wanted.begin(), m_wanted.end());
  std::size_t from = m_rows.size();
  // Unsorted rows are in table order, but roots placed on top break it: only rows in table
  // order take the new ones merged in.
  if (m_sortKey != 0 || !std::is_sorted(m_rows.begin(), m_rows.end())) {
    m_rows.insert(m_rows.end(), m_wanted.begin(), m_wanted.end());
  } else {
    // One merge places every new row.
    std::vector<std::uint32_t> merged;
    merged.reserve(m_rows.size() + m_wanted.size());
    std::merge(m_rows.begin(), m_rows.end(), m_wanted.begin(), m_wanted.end(), std::back_inserter(merged));
    from = static_cast<std::size_t>(std::mismatch(m_rows.begin(), m_rows.end(), merged.begin()).first - m_rows.begin());
    m_rows.swap(merged);
  }
  m_wanted.clear();
  IndexFrom(from);
  return true;
}

bool LinkRows::WantLastRow(const CLinkInfo& link) { return WaitIn(m_last, link); }

bool LinkRows::AppendWaiting() {
  if (m_last.empty()) return false;
  const std::size_t from = m_rows.size();
  m_rows.insert(m_rows.end(), m_last.begin(), m_last.end());
  m_last.clear();
  IndexFrom(from);
  return true;
}

bool LinkRows::WantNoRow(const CLinkInfo& link) {
  if (RowOf(link) < 0) return false;
  m_unwanted.push_back(link.m_nIndex);
  return true;
}

bool LinkRows::DropUnwanted() {
  constexpr std::uint32_t kGone = UINT32_MAX;
  std::size_t from = m_rows.size();
  for (std::uint32_t index : m_unwanted) {
    const std::int32_t row = m_rowOf[index];
    if (row < 0 || m_table.GetLink(index)->IsBroken()) continue;
    m_rows[static_cast<std::size_t>(row)] = kGone;
    m_rowOf[index] = -1;
    from = std::min(from, static_cast<std::size_t>(row));
  }
  m_unwanted.clear();
  if (from == m_rows.size()) return false;
  // One pass however many rows go.
  m_rows.erase(std::remove(m_rows.begin() + static_cast<std::ptrdiff_t>(from), m_rows.end(), kGone), m_rows.end());
  IndexFrom(from);
  return true;
}

bool LinkRows::Remove(const CLinkInfo& link) {
  const long row = RowOf(link);
  if (row < 0) return false;
  if (m_selected == link.m_nIndex) m_selected = -1;
  m_rows.erase(m_rows.begin() + row);
  m_rowOf[link.m_nIndex] = -1;
  IndexFrom(static_cast<std::size_t>(row));
  return true;
}

void LinkRows::Clear() {
  m_rows.clear();
  m_wanted.clear();
  m_roots.clear();
  m_last.clear();
  m_unwanted.clear();
  m_rowOf.assign(m_table.GetLinkCount(), -1);
  m_selected = -1;
}

void LinkRows::Rebuild(bool brokenOnly) {
  const std::int64_t selected = m_selected;
  Clear();
  m_selected = selected;
  m_rows.reserve(m_table.GetLinkCount());
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i)
    if (!brokenOnly || m_table.GetLink(i)->IsBroken()) m_rows.push_back(static_cast<std::uint32_t>(i));
  m_sortKey = 0;
  IndexFrom(0);
}

void LinkRows::SortByColumn(int column) {
  PlaceRoots();
  int key = column + 1;
  if (m_sortKey == key) key = -(column + 1);
  std::stable_sort(m_rows.begin(), m_rows.end(), [this, key](std::uint32_t a, std::uint32_t b) {
    return CompareLinks(m_table, *m_table.GetLink(a), *m_table.GetLink(b), key) < 0;
  });
  m_sortKey = key;
  IndexFrom(0);
}
