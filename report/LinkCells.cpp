#include "report/LinkCells.h"

#include <cstdio>
#include <string_view>

#include "engine/HtmlEscape.h"
#include "engine/LinkInfo.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/AsciiText.h"
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

// The URL with its control bytes and the bytes that are no UTF-8 as percent escapes.
void AppendExportedUrl(std::string& out, std::string_view url) {
  for (std::size_t i = 0; i < url.size();) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (c >= 0x80) {
      if (const std::size_t length = Utf8SequenceLength(url, i)) {
        out.append(url, i, length);
        i += length;
        continue;
      }
    }
    if (c < 0x20 || c >= 0x7F)
      platform::AppendPercentEscape(out, c);
    else
      out += static_cast<char>(c);
    ++i;
  }
}

// The control characters (C0, DEL and C1) of the valid UTF-8 text from from on as blanks.
void BlankControls(std::string& out, std::size_t from) {
  std::size_t to = from;
  for (std::size_t i = from; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) < 0xA0) {
      ++i;  // U+0080 to U+009F
      out[to++] = ' ';
    } else {
      out[to++] = c < 0x20 || c == 0x7F ? ' ' : out[i];
    }
  }
  out.resize(to);
}

}  // namespace

void AppendLinkCell(std::string& out, const CWexoDoc& doc, const CLinkInfo& link, int column, LinkCellForm form) {
  const bool shown = form == LinkCellForm::Shown;
  const std::size_t from = out.size();
  switch (column) {
    case kColumnAddress: {
      const std::string& url = doc.Table().GetUrl(link.m_nIndex);
      if (shown)
        out += AddressText(link, url);
      else
        AppendExportedUrl(out, url);
      return;  // an exported address has no control character left
    }
    case kColumnStatus: out += StatusText(link.m_nStatus); break;
    case kColumnType: out += ToUtf8(platform::kCpUtf8, link.m_csMimeType); break;
    case kColumnSize:
      if (link.m_nStatus == 200 && link.m_nSize != 0) out += std::to_string(link.m_nSize);
      break;
    case kColumnTitle: out += PageText(link, link.m_csTitle); break;
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
      if (const std::string* server = link.GetServerName()) out += ToUtf8(platform::kCpUtf8, *server);
      break;
    case kColumnError: out += ToUtf8(platform::kCpUtf8, link.m_csStatusText); break;
    case kColumnDuration:
      if (!shown || link.m_tsDuration > 0 || link.m_nDurationMs > 0)
        out += FormatDuration(link.m_tsDuration, link.m_nDurationMs);
      break;
    case kColumnCharset: out += link.GetCharsetName(); break;
    case kColumnDescription: out += PageText(link, link.m_csDescription); break;
    case kColumnKeywords: out += PageText(link, link.m_csKeywords); break;
    default: break;
  }
  if (!shown) BlankControls(out, from);
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
