// The rows of one document's list, without the toolkit: which records the list shows and in
// which order, the row of each record, the records waiting for a row, sorting, and the
// selected record kept on its record through every change. The list widget passes the
// table's notices (IDocumentObserver) on to it and draws what it holds.
//
// Threads: user-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/LinkColumns.h"

class CLinkInfo;
class LinkTable;

// Ascending order of two records of a table on a column; key is column + 1 (ascending) or
// -(column + 1) (descending). Negative, 0 or positive.
int CompareLinks(const LinkTable& table, const CLinkInfo& a, const CLinkInfo& b, int key);

class LinkRows {
 public:
  explicit LinkRows(const LinkTable& table);

  std::size_t Count() const { return m_rows.size(); }
  // The record of a row; nullptr outside the rows.
  const CLinkInfo* RecordAt(long row) const;
  // The row of a record; -1 when it has none or still waits for one. Constant time.
  long RowOf(const CLinkInfo& link) const;

  // The selected row; -1 for none. The changes below keep it on its record, and drop it when
  // its record loses its row.
  long SelectedRow() const;
  void Select(long row);

  // Records [first, first + count) were appended to the table. Links found on pages get their
  // rows at the end at once; roots (level 0, from a URL list by the thousand) wait to go on
  // top together (PlaceRoots). False, and no row, while only broken records are shown
  // (brokenOnly): new records then wait for the next Rebuild.
  bool RecordsAdded(std::size_t first, std::size_t count, bool brokenOnly);
  bool RootsWaiting() const { return !m_roots.empty(); }
  // The waiting roots go on top, the newest first. False when none waited.
  bool PlaceRoots();
  // A record wants a row whatever the filter shows; it waits for InsertWanted. False when it
  // has a row or waits already.
  bool WantRow(const CLinkInfo& link);
  // Every waiting record gets its row in one pass: merged in table order while the list is
  // unsorted, appended in table order after a sort (rows added after a sort are not sorted
  // in). Waiting roots are placed first. False when no record waited.
  bool InsertWanted();
  // A record whose fetch ended broken waits for a row at the end of the list (AppendWaiting).
  // False when it has a row or waits already.
  bool WantLastRow(const CLinkInfo& link);
  // The records waiting for the end get their rows there in one pass, in the order they came.
  // False when none waited.
  bool AppendWaiting();
  // A record that is not broken any more (sent back to pending) loses its row in the next pass
  // of DropUnwanted. False when it has no row.
  bool WantNoRow(const CLinkInfo& link);
  // The rows of those records go in one pass, but of those broken again meanwhile. False when
  // no row went.
  bool DropUnwanted();
  // A record's row goes; false when it has none.
  bool Remove(const CLinkInfo& link);
  // Every row goes, and every record waiting for one; the records stay.
  void Clear();
  // Every record in table order gets a row, or only the broken ones (brokenOnly); the list is
  // unsorted afterwards.
  void Rebuild(bool brokenOnly);
  // As a click on a column's header: ascending, or descending when the list is sorted
  // ascending on that column already. Rows that compare equal keep their order.
  void SortByColumn(int column);
  // This list's sort: 0 unsorted, column + 1 ascending, -(column + 1) descending. Each list
  // has its own; what another list does never changes it.
  int SortKey() const { return m_sortKey; }

 private:
  // The record-to-row index covers every record of the table.
  void CoverTable();
  // The record-to-row index of rows [from, end) is set again.
  void IndexFrom(std::size_t from);
  // A record without a row waits for one in queue; false when it has one or waits already.
  bool WaitIn(std::vector<std::uint32_t>& queue, const CLinkInfo& link);

  const LinkTable& m_table;
  std::vector<std::uint32_t> m_rows;    // record index of each row
  std::vector<std::int32_t> m_rowOf;    // row of each record; -1 none, kWaiting waits for one
  std::vector<std::uint32_t> m_wanted;  // records waiting for a row in the next batch
  std::vector<std::uint32_t> m_roots;   // roots waiting for their rows on top, oldest first
  std::int64_t m_selected = -1;         // record index of the selected row
  int m_sortKey = 0;                    // unsorted: the rows are in table order, roots aside

  // Records waiting for a row at the end, oldest first; records whose row goes in the next pass.
  std::vector<std::uint32_t> m_last;
  std::vector<std::uint32_t> m_unwanted;
};
