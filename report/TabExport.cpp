#include "report/TabExport.h"

#include <cstdio>

#include "engine/Host.h"
#include "engine/WexoDoc.h"
#include "platform/LocalTime.h"
#include "platform/OutputFile.h"

namespace {

constexpr const char* kDateFormat = "%d.%m.%Y  %H:%M:%S";

std::string DateField(const CLinkInfo& link) {
  return link.m_nStatus == 200 && link.m_bDateKnown ? platform::FormatLocalTime(link.m_tDate, kDateFormat)
                                                    : std::string();
}

}  // namespace

std::string FormatDuration(std::int64_t seconds, std::int16_t milliseconds) {
  char buffer[48];
  const long long s = seconds < 0 ? 0 : seconds;
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld.%03d", (s / 60) % 60, s % 60, static_cast<int>(milliseconds));
  return buffer;
}

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
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i) {
      const CLinkInfo& link = *doc.GetLink(i);
      row.clear();
      row += doc.GetUrl(i);
      std::snprintf(number, sizeof number, "\t%hd\t", link.m_nStatus);
      row += number;
      row += StatusText(link.m_nStatus);
      row += '\t';
      row += link.m_csMimeType;
      row += '\t';
      if (link.m_nStatus == 200 && link.m_nSize != 0) row += std::to_string(link.m_nSize);
      row += '\t';
      row += link.m_csTitle;
      row += '\t';
      row += DateField(link);
      row += '\t';
      if (link.m_nLevel >= 0) row += std::to_string(link.m_nLevel);
      row += '\t';
      if (link.GetLinksOutCount() >= 1) row += std::to_string(link.GetLinksOutCount());
      row += '\t';
      if (link.GetLinksInCount() >= 1) row += std::to_string(link.GetLinksInCount());
      row += '\t';
      if (const std::string* server = link.GetServerName()) row += *server;
      row += '\t';
      row += link.m_csStatusText;
      row += '\t';
      row += FormatDuration(link.m_tsDuration, link.m_nDurationMs);
      row += '\t';
      row += link.GetCharsetName();
      row += '\t';
      row += link.m_csDescription;
      row += '\t';
      row += link.m_csKeywords;
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
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i) {
      const CLinkInfo& link = *doc.GetLink(i);
      if (link.m_dwaReferrers.empty()) continue;
      std::snprintf(number, sizeof number, "\t%hd\t", link.m_nStatus);
      const std::string statusText = StatusText(link.m_nStatus);
      for (std::uint32_t r : link.m_dwaReferrers) {
        const CLinkInfo& origin = *doc.GetLink(r);
        row.clear();
        row += doc.GetUrl(r);
        row += '\t';
        row += doc.GetUrl(i);
        row += number;
        row += statusText;
        row += '\t';
        row += link.m_csTitle;
        row += '\t';
        row += DateField(origin);
        row += '\t';
        row += origin.m_csTitle;
        row += '\n';
        out.Write(row);
      }
    }
  });
}
