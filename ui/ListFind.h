// Searching the rows of a list for a text in the record's URL and title.
//
// Threads: user-interface thread.
#pragma once

#include <functional>
#include <string>

class CLinkInfo;
class CWexoDoc;
class IWexoHost;

struct FindQuery {
  std::string text;
  bool down = true;
  bool matchCase = false;
};

// The record of a row; null outside the rows.
using RowRecord = std::function<const CLinkInfo*(long row)>;

// The first row after the selected one (before it when searching upwards) whose stored URL, a
// TAB and its stored title contain the text; without a selection the search starts at the
// first (last) row. Without match case both sides are compared in ASCII lower case. There is
// no wrap-around. -1 when no row matches.
long FindRow(const CWexoDoc& doc, long rowCount, const RowRecord& recordAt, long selected, const FindQuery& query);

// FindRow, and the box "Search String Not Found!" when nothing matches.
long FindNext(IWexoHost& host, const CWexoDoc& doc, long rowCount, const RowRecord& recordAt, long selected,
              const FindQuery& query);
