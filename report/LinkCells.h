// The cells of a record's row: the texts the list shows and the TAB export writes, made in
// one place so that both give a record's date, sizes and counts alike.
#pragma once

#include <cstdint>
#include <string>

#include "engine/LinkColumns.h"

class CLinkInfo;
class CWexoDoc;

// How a cell's text is made. Both forms give valid UTF-8 (invalid input bytes become U+FFFD)
// with titles, descriptions and keywords read in the record's code page and their character
// references decoded.
enum class LinkCellForm {
  // The TAB exports, read by spreadsheets and scripts: no field holds a control character,
  // so none can split a field or a row. The address as stored, with its control bytes and
  // the bytes that are no UTF-8 as percent escapes (the same URL to any reader); control
  // characters of every other text as blanks.
  Exported,
  // The list: the address with its escapes decoded, and a duration of 0 left empty.
  Shown,
};

// Appends the text of one cell; nothing for a column outside the row. The size shows only
// for status 200 and a size other than 0, the date only for status 200 and a known date (in
// local time), the level only when it is known, the link counts only when they are not 0.
void AppendLinkCell(std::string& out, const CWexoDoc& doc, const CLinkInfo& link, int column, LinkCellForm form);

// The list's text of one cell (LinkCellForm::Shown).
std::string LinkCellText(const CWexoDoc& doc, const CLinkInfo& link, int column);

// "mm:ss.mmm" of a duration (the hours are not shown).
std::string FormatDuration(std::int64_t seconds, std::int16_t milliseconds);
