#include "report/LinkCells.h"

#include <cstdio>
#include <string_view>

#include "engine/LinkInfo.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/CodePage.h"
#include "platform/LocalTime.h"

namespace {

constexpr const char* kDateFormat = "%d.%m.%Y  %H:%M:%S";

// Text in a code page as valid UTF-8.
std::string ToUtf8(unsigned cp, std::string_view text) {
  std::u16string wide;
  std::string out;
  if (!platform::MultiByteToWide(cp, text, wide)) platform::MultiByteToWide(platform::kCpWindows1252, text, wide);
  platform::WideToMultiByte(platform::kCpUtf8, wide, out);
  return out;
}

// Titles, descriptions and keywords: in the record's code page, character references decoded.
std::string PageText(const CLinkInfo& link, const std::string& text) {
  if (text.empty()) return text;
  const unsigned cp = link.GetCodePage();
  if (cp == 0) {
    std::string decoded = text;
    DecodeEntities(decoded, platform::kCpAcp);
    return ToUtf8(platform::kCpAcp, decoded);
  }
  std::u16string wide;
  if (!platform::MultiByteToWide(cp, text, wide)) return ToUtf8(platform::kCpAcp, text);
  DecodeEntitiesW(wide);
  std::string out;
  platform::WideToMultiByte(platform::kCpUtf8, wide, out);
  return out;
}

// The URL with its escapes decoded; URLs are UTF-8 in the table.
std::string AddressText(const CLinkInfo& link, const std::string& url) {
  const unsigned cp = link.GetCodePage();
  const std::string decoded = DecodePercentEscapes(url);
  if (cp == 0 || cp == platform::kCpWindows1252) {
    if (!url.starts_with("file://")) return ToUtf8(platform::kCpUtf8, decoded);
  }
  std::u16string wide;
  platform::MultiByteToWide(platform::kCpUtf8, decoded, wide);
  DecodeEntitiesW(wide);
  std::string out;
  platform::WideToMultiByte(platform::kCpUtf8, wide, out);
  return out;
}

void AppendText(std::string& out, const std::string& text, bool shown) {
  if (shown)
    out += ToUtf8(platform::kCpUtf8, text);
  else
    out += text;
}

void AppendPageText(std::string& out, const CLinkInfo& link, const std::string& text, bool shown) {
  if (shown)
    out += PageText(link, text);
  else
    out += text;
}

}  // namespace

void AppendLinkCell(std::string& out, const CWexoDoc& doc, const CLinkInfo& link, int column, LinkCellForm form) {
  const bool shown = form == LinkCellForm::Shown;
  switch (column) {
    case kColumnAddress: {
      const std::string& url = doc.Table().GetUrl(link.m_nIndex);
      if (shown)
        out += AddressText(link, url);
      else
        out += url;
      break;
    }
    case kColumnStatus: out += StatusText(link.m_nStatus); break;
    case kColumnType: AppendText(out, link.m_csMimeType, shown); break;
    case kColumnSize:
      if (link.m_nStatus == 200 && link.m_nSize != 0) out += std::to_string(link.m_nSize);
      break;
    case kColumnTitle: AppendPageText(out, link, link.m_csTitle, shown); break;
    case kColumnDate:
      // Stored dates are UTC: shown and written in local time.
      if (link.m_nStatus == 200 && link.m_bDateKnown) out += platform::FormatLocalTime(link.m_tDate, kDateFormat);
      break;
    case kColumnLevel:
      if (link.m_nLevel >= 0) out += std::to_string(link.m_nLevel);
      break;
    case kColumnLinksOut:
      if (link.GetLinksOutCount() > 0) out += std::to_string(link.GetLinksOutCount());
      break;
    case kColumnLinksIn:
      if (link.GetLinksInCount() > 0) out += std::to_string(link.GetLinksInCount());
      break;
    case kColumnServer:
      if (const std::string* server = link.GetServerName()) AppendText(out, *server, shown);
      break;
    case kColumnError: AppendText(out, link.m_csStatusText, shown); break;
    case kColumnDuration:
      if (!shown || link.m_tsDuration > 0 || link.m_nDurationMs > 0)
        out += FormatDuration(link.m_tsDuration, link.m_nDurationMs);
      break;
    case kColumnCharset: out += link.GetCharsetName(); break;
    case kColumnDescription: AppendPageText(out, link, link.m_csDescription, shown); break;
    case kColumnKeywords: AppendPageText(out, link, link.m_csKeywords, shown); break;
    default: break;
  }
}

std::string LinkCellText(const CWexoDoc& doc, const CLinkInfo& link, int column) {
  std::string text;
  AppendLinkCell(text, doc, link, column, LinkCellForm::Shown);
  return text;
}

std::string FormatDuration(std::int64_t seconds, std::int16_t milliseconds) {
  char buffer[48];
  const long long s = seconds < 0 ? 0 : seconds;
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld.%03d", (s / 60) % 60, s % 60, static_cast<int>(milliseconds));
  return buffer;
}
