// The one way a link found on a page enters the link table.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "algorithms/Regex.h"
#include "engine/Charset.h"
#include "engine/CheckSettings.h"
#include "engine/SettingPatterns.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/AsciiText.h"

namespace {

// Internal links to these are only asked for their headers: their bodies are never parsed.
bool IsHeadExtension(std::string_view ext) {
  static constexpr std::string_view kHead[] = {
      "gif",  "png", "jpg", "ico", "txt", "rtf", "pdf", "doc", "docx", "docm", "xls", "xlsx", "xlsm", "ppt", "pptx",
      "pptm", "msi", "exe", "zip", "rar", "mpg", "mp3", "mp4", "avi",  "wmv",  "asx", "asf",  "swf",  "js"};
  if (ext.size() < 2 || ext.size() > 4) return false;
  for (std::string_view e : kHead)
    if (e == ext) return true;
  return false;
}

std::uint16_t RequestKindByExtension(std::string_view url) {
  const std::size_t query = url.find('?');
  if (query != std::string_view::npos && query != 0) url = url.substr(0, query);
  const std::size_t dot = url.rfind('.');
  if (dot == std::string_view::npos) return REQUEST_GET;
  const std::string ext = platform::AsciiLowered(url.substr(dot + 1));
  return IsHeadExtension(ext) ? REQUEST_HEAD : REQUEST_GET;
}

}  // namespace

const CLinkInfo* CWexoDoc::AddLink(const CLinkInfo* page, std::string& link, unsigned codePage) {
  UpdateLink(*page, [](CLinkInfo& p) { ++p.m_nLinksOut; });

  // Lower-casing and session-id rewriting apply only to internal links that are not excluded.
  // A link without capitals and without non-ASCII bytes is its own lower-case copy.
  const bool lowerAlready = !platform::HasAsciiUpperOrHighBytes(link);
  const bool internalLink =
      (lowerAlready ? IsInternal(link) : IsInternal(ToLowerInCodePage(link, codePage))) && !IsExcluded(link);
  const bool lowerCase = m_settings.MakeLowerCase && internalLink;
  if (internalLink) {
    static SettingPatterns sessionIds(SessionIdPatternKeys());  // user-interface thread only, as every AddLink
    for (const std::unique_ptr<Regex>& re : sessionIds.Current()) {
      if (re && re->Match(link) && re->GroupCount() == 2) {
        std::string rewritten = re->Substitute("\\1\\2");
        link.swap(rewritten);
      }
    }
  }

  CanonicalizeUrl(link, lowerCase, codePage);

  if (const CLinkInfo* known = FindLink(link)) {
    AddReferrer(known, page);
    return known;
  }

  const bool excluded = IsExcluded(link);
  const bool internal = IsInternal(link);
  // An excluded record is never fetched; it gets the kind it would have had.
  const std::uint16_t kind = internal ? RequestKindByExtension(link) : std::uint16_t{REQUEST_HEAD};
  const CLinkInfo* added = NewLink(link, page, kind);
  UpdateLink(*added, [page](CLinkInfo& a) {
    if (const CCharsetInfo* charset = page->GetCharset())
      a.SetCharsetInfo(charset);
    else
      SetCharset(&a, "");
  });
  if (excluded)
    SetStatus(added, STATUS_USER_SKIP, std::string());
  else if (!internal && !m_settings.CheckExternal)
    SetStatus(added, STATUS_SKIP_EXTERNAL, std::string());
  return added;
}
