#include "ui/ListFind.h"

#include "engine/Host.h"
#include "engine/LinkInfo.h"
#include "engine/WexoDoc.h"
#include "platform/AsciiText.h"

long FindRow(const CWexoDoc& doc, long rowCount, const RowRecord& recordAt, long selected, const FindQuery& query) {
  const long step = query.down ? 1 : -1;
  long row = selected >= 0 ? selected + step : (query.down ? 0 : rowCount - 1);
  std::string needle = query.text;
  if (!query.matchCase) platform::AsciiLowerInPlace(needle);
  std::string text;
  for (; row >= 0 && row < rowCount; row += step) {
    const CLinkInfo* link = recordAt(row);
    if (!link) continue;
    text = doc.GetUrl(link->m_nIndex);
    text += '\t';
    text += link->m_csTitle;
    if (!query.matchCase) platform::AsciiLowerInPlace(text);
    if (text.find(needle) != std::string::npos) return row;
  }
  return -1;
}

long FindNext(IWexoHost& host, const CWexoDoc& doc, long rowCount, const RowRecord& recordAt, long selected,
              const FindQuery& query) {
  const long row = FindRow(doc, rowCount, recordAt, selected, query);
  if (row < 0) host.MessageBox("Search String Not Found!", BoxKind::Warning);
  return row;
}
