// The list of one document: the rows its row model holds, their cell texts and colours formed
// from the record when a row is drawn.
//
// Threads: user-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include <wx/listctrl.h>
#include <wx/timer.h>

#include "report/LinkCells.h"
#include "ui/rows/LinkRows.h"

class CLinkInfo;
class CWexoApp;
class CWexoDoc;

// The row colour of a status as 0xRRGGBB.
std::uint32_t LinkRowColour(std::int16_t status);

class LinkListCtrl : public wxListCtrl {
 public:
  LinkListCtrl(wxWindow* parent, CWexoDoc& doc);

  wxString OnGetItemText(long item, long column) const override;
  wxItemAttr* OnGetItemAttr(long item) const override;

  // The record of a row; nullptr outside the rows.
  const CLinkInfo* RecordAt(long row) const { return m_rows.RecordAt(row); }
  // The row of a record; -1 when it has none. Constant time.
  long RowOf(const CLinkInfo& link) const { return m_rows.RowOf(link); }
  // The selected row, -1 for none. Constant time while the selection stays where it was.
  long SelectedRow() const;
  void SelectRow(long row);

  // Records appended to the table: rows at the end unless only broken records are shown.
  // During a check records come by the thousand a second, so the list learns its new row
  // count and draws changed rows at most every kUpdateInterval (FlushUpdates does it now).
  void RecordsAdded(std::size_t first, std::size_t count);
  // A record changed: its row is drawn again. A record without a row gets none here. With only
  // broken records shown, a record sent back to pending loses its row (with the batch below).
  void RecordChanged(const CLinkInfo& link);
  // A record gets a row at the place of its record index; rows wanted together are collected
  // and inserted in one batch. Nothing when it has a row already.
  void InsertRecordRow(const CLinkInfo& link);
  // A record whose fetch ended broken gets a row at the end of the list, in the same batch.
  void AppendRecordRow(const CLinkInfo& link);
  // The batch now, when rows wait for it.
  void FlushInserts();
  // Every row goes; the records stay.
  void DeleteAllRows();
  void FlushUpdates();
  static constexpr int kUpdateInterval = 100;  // ms
  // A record's row goes (nothing when it has none); the selection stays on its record.
  void RemoveRecord(const CLinkInfo& link);
  // Empties and refills the rows from the table; the list is unsorted afterwards.
  void RebuildList();
  // Sorts by a column as a click on its header does: ascending, or descending when the list
  // is already sorted ascending on it.
  void SortByColumn(int column);
  // This list's sort key (LinkRows::SortKey).
  int SortKey() const { return m_rows.SortKey(); }
  void UpdateSortArrows();

  // [ListCtrl] column widths.
  void LoadColumnWidths(const CWexoApp& app);
  void SaveColumnWidths(const CWexoApp& app) const;

  // The widest cell of a column, or its header, plus 13 pixels.
  void AutoSizeColumn(int column);
  void AutoSizeAllColumns();
  // The column whose right divider lies within a few pixels of x in the header; -1 for none.
  int DividerAt(int x) const;
  wxWindow* HeaderWindow() const;

 private:
  void QueueInserts();
  void FlushTopRows();
  // Runs a change of the rows with the toolkit's selection handed to the model first; when it
  // changed anything, the list shows the new rows with the selection on its record.
  template <typename Change>
  void ChangeRows(Change change);
  void ShowRows();
  void OnColumnClick(wxListEvent& event);
  void OnHeaderDividerDblClick(wxMouseEvent& event);

  void ScheduleUpdate();

  CWexoDoc& m_doc;
  LinkRows m_rows;
  wxTimer m_updateTimer;
  // The row found selected last: the toolkit finds a virtual list's selection by visiting
  // every row, which the scheduler's every tick would pay for.
  mutable long m_selectedHint = -1;
  bool m_countPending = false;    // rows were appended since the item count was set
  bool m_refreshPending = false;  // a visible row's record changed
  bool m_flushQueued = false;     // records wait for their rows in a batch
  mutable wxItemAttr m_attrs[7];
};
