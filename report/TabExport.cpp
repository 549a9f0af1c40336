#include "report/TabExport.h"

#include <cstdio>

#include "engine/Host.h"
#include "engine/WexoDoc.h"
#include "platform/OutputFile.h"
#include "report/LinkCells.h"

bool WriteExport(IWexoHost& host, const std::string& path, const std::function<void(platform::TextFileWriter&)>& write,
                 std::string (*openFailure)(const std::string& path, int error)) {
  platform::OutputFile output;
  if (!output.Open(path)) {
    host.MessageBox(
        openFailure ? openFailure(path, output.ErrorNumber()) : "Could not open file '" + path + ".tmp' for writing",
        BoxKind::Error);
    return false;
  }
  platform::TextFileWriter file;
  file.Attach(output.Fd(), path);
  write(file);
  const bool written = file.Close();
  if (!written || !output.Commit()) {
    const std::string reason = platform::FileErrorText(written ? output.ErrorNumber() : file.ErrorNumber());
    output.Discard();
    host.MessageBox("Could not write file '" + path + "': " + reason, BoxKind::Error);
    return false;
  }
  return true;
}

bool ExportTabFile(const CWexoDoc& doc, const std::string& path) {
  return WriteExport(doc.Host(), path, [&doc](platform::TextFileWriter& out) {
    out.Write(
        "Address\tStatus-Code\tStatus-Text\tType\tSize\tTitle\tDate\tLevel\tLinks Out\tLinks In\tServer\tError"
        "\tDuration\tCharset\tDescription\tKeywords\n");
    std::string row;
    char number[32];
    for (std::size_t i = 0; i < doc.Table().GetLinkCount(); ++i) {
      const CLinkInfo& link = *doc.Table().GetLink(i);
      row.clear();
      AppendLinkCell(row, doc, link, kColumnAddress, LinkCellForm::Exported);
      std::snprintf(number, sizeof number, "\t%hd\t", link.m_nStatus);
      row += number;
      for (int column = kColumnStatus; column < kLinkColumnCount; ++column) {
        if (column != kColumnStatus) row += '\t';
        AppendLinkCell(row, doc, link, column, LinkCellForm::Exported);
      }
      row += '\n';
      out.Write(row);
    }
  });
}

bool ExportPageMap(const CWexoDoc& doc, const std::string& path) {
  return WriteExport(doc.Host(), path, [&doc](platform::TextFileWriter& out) {
    out.Write(
        "OriginPage\tLinkToPage\tLinkToPageStatusCode\tLinkToPageStatusText\tLinkToPageTitle\tOriginPageDate"
        "\tOriginPageTitle\n");
    std::string row;
    char number[32];
    for (std::size_t i = 0; i < doc.Table().GetLinkCount(); ++i) {
      const CLinkInfo& link = *doc.Table().GetLink(i);
      if (link.m_dwaReferrers.empty()) continue;
      // What the rows of this record share: its URL, status and title.
      std::string linked = "\t";
      AppendLinkCell(linked, doc, link, kColumnAddress, LinkCellForm::Exported);
      std::snprintf(number, sizeof number, "\t%hd\t", link.m_nStatus);
      linked += number;
      linked += StatusText(link.m_nStatus);
      linked += '\t';
      AppendLinkCell(linked, doc, link, kColumnTitle, LinkCellForm::Exported);
      linked += '\t';
      for (std::uint32_t r : link.m_dwaReferrers) {
        const CLinkInfo& origin = *doc.Table().GetLink(r);
        row.clear();
        AppendLinkCell(row, doc, origin, kColumnAddress, LinkCellForm::Exported);
        row += linked;
        AppendLinkCell(row, doc, origin, kColumnDate, LinkCellForm::Exported);
        row += '\t';
        AppendLinkCell(row, doc, origin, kColumnTitle, LinkCellForm::Exported);
        row += '\n';
        out.Write(row);
      }
    }
  });
}
