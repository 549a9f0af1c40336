#include "ui/LinkList.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <wx/utils.h>

#include "engine/Application.h"
#include "engine/LinkInfo.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "ui/WxText.h"

int SortColumnKey = 0;

namespace {

struct Column {
  const char* header;
  const char* key;
  int width;
  wxListColumnFormat align;
};

constexpr Column kColumns[kLinkColumnCount] = {
    {"Address", "Address", 350, wxLIST_FORMAT_LEFT},   {"Status", "Status", 125, wxLIST_FORMAT_LEFT},
    {"Type", "Type", 100, wxLIST_FORMAT_LEFT},         {"Size", "Size", 75, wxLIST_FORMAT_RIGHT},
    {"Title", "Title", 200, wxLIST_FORMAT_LEFT},       {"Date", "Date", 150, wxLIST_FORMAT_CENTRE},
    {"Level", "Level", 75, wxLIST_FORMAT_RIGHT},       {"Out Links", "Links Out", 75, wxLIST_FORMAT_RIGHT},
    {"In Links", "Links In", 75, wxLIST_FORMAT_RIGHT}, {"Server", "Server", 150, wxLIST_FORMAT_LEFT},
    {"Error", "Error", 400, wxLIST_FORMAT_LEFT},       {"Duration", "Duration", 85, wxLIST_FORMAT_RIGHT},
    {"Charset", "Charset", 120, wxLIST_FORMAT_LEFT},   {"Description", "Description", 400, wxLIST_FORMAT_LEFT},
    {"Keywords", "Keywords", 400, wxLIST_FORMAT_LEFT},
};

// A record in m_rowOf that waits for its row in the next batch.
constexpr std::int32_t kWaiting = -2;

constexpr const char* kListSection = "ListCtrl";

int Sign(std::int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

int CompareAscending(const CWexoDoc& doc, const CLinkInfo& a, const CLinkInfo& b, int column) {
  auto text = [](const std::string& x, const std::string& y) { return ::strcasecmp(x.c_str(), y.c_str()); };
  switch (column) {
    case 1: {
      const int c = std::strcmp(StatusText(a.m_nStatus).c_str(), StatusText(b.m_nStatus).c_str());
      if (c != 0) return c;
      break;
    }
    case 2: return text(a.m_csMimeType, b.m_csMimeType);
    case 3: return Sign(a.m_nSize - b.m_nSize);
    case 4: return text(a.m_csTitle, b.m_csTitle);
    case 5: return Sign((a.m_bDateKnown ? a.m_tDate : 0) - (b.m_bDateKnown ? b.m_tDate : 0));
    case 6: return a.m_nLevel - b.m_nLevel;
    case 7: return Sign(std::int64_t{a.GetLinksOutCount()} - b.GetLinksOutCount());
    case 8: return Sign(std::int64_t{a.GetLinksInCount()} - b.GetLinksInCount());
    case 9: {
      static const std::string none;
      const std::string* sa = a.GetServerName();
      const std::string* sb = b.GetServerName();
      return text(sa ? *sa : none, sb ? *sb : none);
    }
    case 10: return text(a.m_csStatusText, b.m_csStatusText);
    case 11:
      if (a.m_tsDuration != b.m_tsDuration) return Sign(a.m_tsDuration - b.m_tsDuration);
      return a.m_nDurationMs - b.m_nDurationMs;
    case 12: return text(a.GetCharsetName(), b.GetCharsetName());
    case 13: return text(a.m_csDescription, b.m_csDescription);
    case 14: return text(a.m_csKeywords, b.m_csKeywords);
    default: break;
  }
  return text(doc.GetUrl(a.m_nIndex), doc.GetUrl(b.m_nIndex));
}

}  // namespace

std::uint32_t LinkRowColour(std::int16_t status) {
  switch (status) {
    case STATUS_PENDING: return 0x7F7F7F;
    case 200: return 0x008C00;
    case STATUS_MAIL_HOST_OK: return 0x8CAA00;
    case STATUS_JAR_CONTENT:
    case STATUS_USER_SKIP:
    case STATUS_SKIP_TYPE: return 0xC47F00;
    case STATUS_SKIP_EXTERNAL: return 0x000064;
    case STATUS_BUSY: return 0x4D4D4D;
    default: return 0xFF0000;
  }
}

int CompareLinks(const CWexoDoc& doc, const CLinkInfo& a, const CLinkInfo& b, int key) {
  if (key < 0) return CompareAscending(doc, b, a, -key - 1);
  return CompareAscending(doc, a, b, key - 1);
}

// ---- LinkListCtrl

LinkListCtrl::LinkListCtrl(wxWindow* parent, CWexoDoc& doc)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxBORDER_SUNKEN),
      m_doc(doc),
      m_updateTimer(this) {
  for (const Column& c : kColumns) AppendColumn(c.header, c.align, c.width);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { FlushUpdates(); });
  Bind(wxEVT_LIST_COL_CLICK, &LinkListCtrl::OnColumnClick, this);
  // The toolkit's header reports no divider double-click of its own: its mouse events are
  // taken before its own handling, which would size the column its own way.
  if (wxWindow* header = HeaderWindow()) header->Bind(wxEVT_LEFT_DCLICK, &LinkListCtrl::OnHeaderDividerDblClick, this);
  RebuildList();
}

bool LinkListCtrl::ShowsOnlyBroken() const { return m_doc.Settings().ShowBrokenOnly != 0; }

wxString LinkListCtrl::OnGetItemText(long item, long column) const {
  const CLinkInfo* link = RecordAt(item);
  return link ? FromUtf8(LinkCellText(m_doc, *link, static_cast<int>(column))) : wxString();
}

wxItemAttr* LinkListCtrl::OnGetItemAttr(long item) const {
  const CLinkInfo* link = RecordAt(item);
  if (!link) return nullptr;
  const std::uint32_t rgb = LinkRowColour(link->m_nStatus);
  static constexpr std::uint32_t kOrder[] = {0x7F7F7F, 0x008C00, 0x8CAA00, 0xC47F00, 0x000064, 0x4D4D4D, 0xFF0000};
  const std::size_t at = static_cast<std::size_t>(std::find(std::begin(kOrder), std::end(kOrder), rgb) - kOrder);
  wxItemAttr& attr = m_attrs[at];
  if (!attr.HasTextColour()) attr.SetTextColour(wxColour(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
  return &attr;
}

const CLinkInfo* LinkListCtrl::RecordAt(long row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return nullptr;
  return m_doc.GetLink(m_rows[static_cast<std::size_t>(row)]);
}

long LinkListCtrl::RowOf(const CLinkInfo& link) const {
  return link.m_nIndex < m_rowOf.size() ? std::max(m_rowOf[link.m_nIndex], -1) : -1;
}

long LinkListCtrl::SelectedRow() const {
  if (GetSelectedItemCount() == 0) return -1;
  // One row at most is selected: when the hint's row is, it is the one.
  if (m_selectedHint >= 0 && m_selectedHint < GetItemCount() && GetItemState(m_selectedHint, wxLIST_STATE_SELECTED))
    return m_selectedHint;
  m_selectedHint = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  return m_selectedHint;
}

void LinkListCtrl::SelectRow(long row) {
  FlushUpdates();
  if (row < 0 || row >= GetItemCount()) return;
  SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
}

void LinkListCtrl::RowsChanged(const CLinkInfo* selected, std::size_t from) {
  m_rowOf.resize(m_doc.GetLinkCount(), -1);
  for (std::size_t row = from; row < m_rows.size(); ++row) m_rowOf[m_rows[row]] = static_cast<std::int32_t>(row);
  const long before = SelectedRow();
  const long after = selected ? RowOf(*selected) : -1;
  if (before != after && before >= 0) SetItemState(before, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  m_countPending = m_refreshPending = false;
  SetItemCount(static_cast<long>(m_rows.size()));
  if (before != after) SelectRow(after);
  Refresh();
}

void LinkListCtrl::ScheduleUpdate() {
  if (!m_updateTimer.IsRunning()) m_updateTimer.StartOnce(kUpdateInterval);
}

void LinkListCtrl::FlushTopRows() {
  if (m_topInserts.empty()) return;
  const CLinkInfo* selected = RecordAt(SelectedRow());
  // Each root went on top of those before it: the newest is the first row.
  std::vector<std::uint32_t> rows(m_topInserts.rbegin(), m_topInserts.rend());
  m_topInserts.clear();
  rows.insert(rows.end(), m_rows.begin(), m_rows.end());
  m_rows.swap(rows);
  RowsChanged(selected);
}

void LinkListCtrl::FlushUpdates() {
  m_updateTimer.Stop();
  FlushTopRows();
  if (m_countPending) SetItemCount(static_cast<long>(m_rows.size()));
  if (m_refreshPending && GetItemCount() > 0) {
    const long top = std::max(GetTopItem(), 0L);
    RefreshItems(top, std::min<long>(GetItemCount() - 1, top + GetCountPerPage()));
  }
  m_countPending = m_refreshPending = false;
}

void LinkListCtrl::RecordsAdded(std::size_t first, std::size_t count) {
  m_rowOf.resize(m_doc.GetLinkCount(), -1);
  if (ShowsOnlyBroken()) return;
  for (std::size_t i = first; i < first + count; ++i) {
    // A root record's row goes on top, links found later at the end. Roots come by the
    // thousand from a URL list: they are put on top together once the burst is over.
    if (m_doc.GetLink(i)->m_nLevel == 0) {
      if (m_topInserts.empty()) CallAfter([this] { FlushTopRows(); });
      m_topInserts.push_back(static_cast<std::uint32_t>(i));
      continue;
    }
    m_rowOf[i] = static_cast<std::int32_t>(m_rows.size());
    m_rows.push_back(static_cast<std::uint32_t>(i));
  }
  m_countPending = true;
  ScheduleUpdate();
}

void LinkListCtrl::RecordChanged(const CLinkInfo& link) {
  m_rowOf.resize(m_doc.GetLinkCount(), -1);
  if (link.m_nIndex >= m_rowOf.size()) return;
  const std::int32_t row = m_rowOf[link.m_nIndex];
  if (row < 0) return;
  // Rows out of sight are drawn from their records when they come into view.
  const long top = GetTopItem();
  if (row >= top && row <= top + GetCountPerPage()) {
    m_refreshPending = true;
    ScheduleUpdate();
  }
}

void LinkListCtrl::InsertRecordRow(const CLinkInfo& link) {
  m_rowOf.resize(m_doc.GetLinkCount(), -1);
  if (link.m_nIndex >= m_rowOf.size() || m_rowOf[link.m_nIndex] != -1) return;
  m_inserts.push_back(link.m_nIndex);
  m_rowOf[link.m_nIndex] = kWaiting;
  if (m_flushQueued) return;
  m_flushQueued = true;
  CallAfter([this] { FlushInserts(); });
}

void LinkListCtrl::FlushInserts() {
  m_flushQueued = false;
  if (m_inserts.empty()) return;
  FlushTopRows();
  const CLinkInfo* selected = RecordAt(SelectedRow());
  std::sort(m_inserts.begin(), m_inserts.end());
  if (SortColumnKey != 0) {
    // Rows added after a sort are not sorted in.
    const std::size_t from = m_rows.size();
    m_rows.insert(m_rows.end(), m_inserts.begin(), m_inserts.end());
    m_inserts.clear();
    RowsChanged(selected, from);
    return;
  }
  // Unsorted rows are in table order: one merge places every new row.
  std::vector<std::uint32_t> merged;
  merged.reserve(m_rows.size() + m_inserts.size());
  std::merge(m_rows.begin(), m_rows.end(), m_inserts.begin(), m_inserts.end(), std::back_inserter(merged));
  const std::size_t from =
      static_cast<std::size_t>(std::mismatch(m_rows.begin(), m_rows.end(), merged.begin()).first - m_rows.begin());
  m_rows.swap(merged);
  m_inserts.clear();
  RowsChanged(selected, from);
}

void LinkListCtrl::RemoveRecord(const CLinkInfo& link) {
  const long row = RowOf(link);
  if (row < 0) return;
  const CLinkInfo* selected = RecordAt(SelectedRow());
  if (selected == &link) {
    SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    selected = nullptr;
  }
  m_rows.erase(m_rows.begin() + row);
  m_rowOf[link.m_nIndex] = -1;
  RowsChanged(selected, static_cast<std::size_t>(row));
}

void LinkListCtrl::DeleteAllRows() {
  const CLinkInfo* selected = RecordAt(SelectedRow());
  if (selected) SetItemState(SelectedRow(), 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  m_rows.clear();
  m_inserts.clear();
  m_topInserts.clear();
  m_rowOf.assign(m_doc.GetLinkCount(), -1);
  RowsChanged(nullptr);
}

void LinkListCtrl::RebuildList() {
  wxBusyCursor busy;
  const CLinkInfo* selected = RecordAt(SelectedRow());
  const bool brokenOnly = ShowsOnlyBroken();
  m_rows.clear();
  m_inserts.clear();
  m_topInserts.clear();
  m_rowOf.assign(m_doc.GetLinkCount(), -1);
  m_rows.reserve(m_doc.GetLinkCount());
  for (std::size_t i = 0; i < m_doc.GetLinkCount(); ++i)
    if (!brokenOnly || m_doc.GetLink(i)->IsBroken()) m_rows.push_back(static_cast<std::uint32_t>(i));
  SortColumnKey = 0;
  UpdateSortArrows();
  RowsChanged(selected);
}

void LinkListCtrl::SortByColumn(int column) {
  FlushTopRows();
  int key = column + 1;
  if (SortColumnKey == key) key = -(column + 1);
  const CLinkInfo* selected = RecordAt(SelectedRow());
  std::sort(m_rows.begin(), m_rows.end(), [this, key](std::uint32_t a, std::uint32_t b) {
    return CompareLinks(m_doc, *m_doc.GetLink(a), *m_doc.GetLink(b), key) < 0;
  });
  SortColumnKey = key;
  RowsChanged(selected);
  if (const long row = SelectedRow(); row >= 0) EnsureVisible(row);
  UpdateSortArrows();
}

void LinkListCtrl::UpdateSortArrows() {
  if (SortColumnKey == 0)
    RemoveSortIndicator();
  else
    ShowSortIndicator(std::abs(SortColumnKey) - 1, SortColumnKey > 0);
}

void LinkListCtrl::OnColumnClick(wxListEvent& event) {
  if (event.GetColumn() >= 0) SortByColumn(event.GetColumn());
}

wxWindow* LinkListCtrl::HeaderWindow() const {
  // The header's own type is private to the toolkit: it is found among the children by address.
  const void* header = m_headerWin;
  for (wxWindow* child : GetChildren())
    if (header && static_cast<const void*>(child) == header) return child;
  return nullptr;
}

int LinkListCtrl::DividerAt(int x) const {
  constexpr int kGrip = 4;
  constexpr int kScrollUnit = 15;  // pixels per horizontal scroll step of the list
  int right = -GetScrollPos(wxHORIZONTAL) * kScrollUnit;
  for (int i = 0; i < kLinkColumnCount; ++i) {
    right += GetColumnWidth(i);
    if (x >= right - kGrip && x <= right + kGrip) return i;
  }
  return -1;
}

void LinkListCtrl::OnHeaderDividerDblClick(wxMouseEvent& event) {
  const int column = DividerAt(event.GetX());
  if (column < 0) {
    event.Skip();
    return;
  }
  AutoSizeColumn(column);
}

void LinkListCtrl::LoadColumnWidths(const CWexoApp& app) {
  for (int i = 0; i < kLinkColumnCount; ++i)
    SetColumnWidth(i, app.GetProfileInt(kListSection, kColumns[i].key, kColumns[i].width));
}

void LinkListCtrl::SaveColumnWidths(const CWexoApp& app) const {
  for (int i = 0; i < kLinkColumnCount; ++i) app.WriteProfileInt(kListSection, kColumns[i].key, GetColumnWidth(i));
}

void LinkListCtrl::AutoSizeColumn(int column) {
  if (column < 0 || column >= kLinkColumnCount) return;
  wxBusyCursor busy;
  int width = GetTextExtent(kColumns[column].header).GetWidth() + 13;
  for (std::uint32_t record : m_rows) {
    const std::string text = LinkCellText(m_doc, *m_doc.GetLink(record), column);
    if (!text.empty()) width = std::max(width, GetTextExtent(FromUtf8(text)).GetWidth() + 13);
  }
  SetColumnWidth(column, width);
}

void LinkListCtrl::AutoSizeAllColumns() {
  for (int i = 0; i < kLinkColumnCount; ++i) AutoSizeColumn(i);
}
