#include "ui/LinkList.h"

#include <algorithm>
#include <cstdlib>

#include <wx/utils.h>

#include "engine/Application.h"
#include "engine/LinkInfo.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "ui/WxText.h"

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

constexpr const char* kListSection = "ListCtrl";

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

// ---- LinkListCtrl

LinkListCtrl::LinkListCtrl(wxWindow* parent, CWexoDoc& doc)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxBORDER_SUNKEN),
      m_doc(doc),
      m_rows(doc.Table()),
      m_updateTimer(this) {
  for (const Column& c : kColumns) AppendColumn(c.header, c.align, c.width);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { FlushUpdates(); });
  Bind(wxEVT_LIST_COL_CLICK, &LinkListCtrl::OnColumnClick, this);
  // The toolkit's header reports no divider double-click of its own: its mouse events are
  // taken before its own handling, which would size the column its own way.
  if (wxWindow* header = HeaderWindow()) header->Bind(wxEVT_LEFT_DCLICK, &LinkListCtrl::OnHeaderDividerDblClick, this);
  RebuildList();
}

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

template <typename Change>
void LinkListCtrl::ChangeRows(Change change) {
  // The user selects rows in the toolkit; the model keeps that record selected.
  m_rows.Select(SelectedRow());
  if (change(m_rows)) ShowRows();
}

void LinkListCtrl::ShowRows() {
  const long before = SelectedRow();
  const long after = m_rows.SelectedRow();
  if (before != after && before >= 0) SetItemState(before, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  m_countPending = m_refreshPending = false;
  SetItemCount(static_cast<long>(m_rows.Count()));
  if (before != after && after >= 0)
    SetItemState(after, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  Refresh();
}

void LinkListCtrl::ScheduleUpdate() {
  if (!m_updateTimer.IsRunning()) m_updateTimer.StartOnce(kUpdateInterval);
}

void LinkListCtrl::FlushTopRows() {
  if (m_rows.RootsWaiting()) ChangeRows([](LinkRows& rows) { return rows.PlaceRoots(); });
}

void LinkListCtrl::FlushUpdates() {
  m_updateTimer.Stop();
  FlushTopRows();
  if (m_countPending) SetItemCount(static_cast<long>(m_rows.Count()));
  if (m_refreshPending && GetItemCount() > 0) {
    const long top = std::max(GetTopItem(), 0L);
    RefreshItems(top, std::min<long>(GetItemCount() - 1, top + GetCountPerPage()));
  }
  m_countPending = m_refreshPending = false;
}

void LinkListCtrl::RecordsAdded(std::size_t first, std::size_t count) {
  const bool rootsWaited = m_rows.RootsWaiting();
  if (!m_rows.RecordsAdded(first, count, m_doc.Settings().ShowBrokenOnly != 0)) return;
  // Roots come by the thousand from a URL list: they go on top together once the burst is over.
  if (!rootsWaited && m_rows.RootsWaiting()) CallAfter([this] { FlushTopRows(); });
  m_countPending = true;
  ScheduleUpdate();
}

void LinkListCtrl::RecordChanged(const CLinkInfo& link) {
  const long row = m_rows.RowOf(link);
  if (row < 0) return;
  // A retried record is pending again: not broken, so not in a broken-only list.
  if (link.m_nStatus == STATUS_PENDING && m_doc.Settings().ShowBrokenOnly && m_rows.WantNoRow(link)) QueueInserts();
  // Rows out of sight are drawn from their records when they come into view.
  const long top = GetTopItem();
  if (row >= top && row <= top + GetCountPerPage()) {
    m_refreshPending = true;
    ScheduleUpdate();
  }
}

void LinkListCtrl::InsertRecordRow(const CLinkInfo& link) {
  if (m_rows.WantRow(link)) QueueInserts();
}

void LinkListCtrl::AppendRecordRow(const CLinkInfo& link) {
  if (m_rows.WantLastRow(link)) QueueInserts();
}

void LinkListCtrl::QueueInserts() {
  if (m_flushQueued) return;
  m_flushQueued = true;
  CallAfter([this] { FlushInserts(); });
}

void LinkListCtrl::FlushInserts() {
  if (!m_flushQueued) return;
  m_flushQueued = false;
  ChangeRows([](LinkRows& rows) {
    const bool inserted = rows.InsertWanted();
    const bool appended = rows.AppendWaiting();
    return rows.DropUnwanted() || inserted || appended;
  });
}

void LinkListCtrl::RemoveRecord(const CLinkInfo& link) {
  ChangeRows([&link](LinkRows& rows) { return rows.Remove(link); });
}

void LinkListCtrl::DeleteAllRows() {
  ChangeRows([](LinkRows& rows) {
    rows.Clear();
    return true;
  });
}

void LinkListCtrl::RebuildList() {
  wxBusyCursor busy;
  ChangeRows([this](LinkRows& rows) {
    rows.Rebuild(m_doc.Settings().ShowBrokenOnly != 0);
    return true;
  });
  UpdateSortArrows();
}

void LinkListCtrl::SortByColumn(int column) {
  ChangeRows([column](LinkRows& rows) {
    rows.SortByColumn(column);
    return true;
  });
  if (const long row = SelectedRow(); row >= 0) EnsureVisible(row);
  UpdateSortArrows();
}

void LinkListCtrl::UpdateSortArrows() {
  const int key = m_rows.SortKey();
  if (key == 0)
    RemoveSortIndicator();
  else
    ShowSortIndicator(std::abs(key) - 1, key > 0);
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
  for (long row = 0, count = static_cast<long>(m_rows.Count()); row < count; ++row) {
    const std::string text = LinkCellText(m_doc, *m_rows.RecordAt(row), column);
    if (!text.empty()) width = std::max(width, GetTextExtent(FromUtf8(text)).GetWidth() + 13);
  }
  SetColumnWidth(column, width);
}

void LinkListCtrl::AutoSizeAllColumns() {
  for (int i = 0; i < kLinkColumnCount; ++i) AutoSizeColumn(i);
}
