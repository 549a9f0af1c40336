#include "ui/ContextMenu.h"

#include <strings.h>

#include <array>

#include "engine/LinkInfo.h"
#include "engine/WexoDoc.h"
#include "ui/Commands.h"

namespace {

// Each address as the service documents it (for services that have closed, the last one
// they documented).
constexpr std::string_view kCacheQuery = "https://webcache.googleusercontent.com/search?q=cache:";
constexpr std::string_view kArchiveCaptures = "https://web.archive.org/web/*/";
constexpr std::string_view kRankingDetails = "https://www.alexa.com/siteinfo/";
constexpr std::string_view kInfoQuery = "https://www.google.com/search?q=info:";
constexpr std::string_view kUrlQuery = "https://www.bing.com/search?q=url:";
constexpr std::string_view kValidatorCheck = "https://validator.w3.org/check?uri=";
// Backlink services: a link explorer and a site explorer take the host part in a fixed
// template, another site explorer takes the whole URL.
constexpr std::string_view kLinkExplorerBefore = "https://analytics.moz.com/pro/link-explorer/inbound-links?site=";
constexpr std::string_view kLinkExplorerAfter = "&target=domain";
constexpr std::string_view kSiteExplorerQuery = "https://majestic.com/reports/site-explorer?q=";
constexpr std::string_view kSecondSiteExplorer =
    "https://app.ahrefs.com/site-explorer/overview/v2/subdomains/live?target=";

// The web archive's own pages get no service entries.
constexpr std::array<std::string_view, 3> kArchivePrefixes = {"http://web.archive.org/", "https://web.archive.org/",
                                                              "http://www.archive.org/"};
// The web directory: its own pages, its category pages and the editors' page for a URL.
constexpr std::array<std::string_view, 2> kDirectoryPrefixes = {"http://www.dmoz.org/", "http://editors.dmoz.org/"};
constexpr std::string_view kDirectoryCategory = "http://www.dmoz.org/";
constexpr std::string_view kDirectoryEdit = "http://editors.dmoz.org/editors/editurl.cgi?url=";
constexpr std::size_t kMaxCategoryText = 80;

template <std::size_t N>
bool StartsWithAny(std::string_view url, const std::array<std::string_view, N>& prefixes) {
  for (std::string_view prefix : prefixes)
    if (url.starts_with(prefix)) return true;
  return false;
}

bool IsWebAddress(std::string_view url) { return url.starts_with("http://") || url.starts_with("https://"); }

std::string Join(std::string_view a, std::string_view b, std::string_view c = {}) {
  std::string out(a);
  out += b;
  out += c;
  return out;
}

// The URL without its scheme, every '/' written for a path template that is decoded twice.
std::string HostPart(std::string_view url) {
  url.remove_prefix(url.starts_with("https://") ? 8 : url.starts_with("http://") ? 7 : 0);
  std::string out;
  for (char c : url) {
    if (c == '/')
      out += "%252F";
    else
      out += c;
  }
  return out;
}

void Separator(std::vector<MenuEntry>& entries) { entries.push_back({0, std::string()}); }

}  // namespace

std::vector<std::string> DirectoryCategories(const CWexoDoc& doc, const CLinkInfo& link) {
  std::vector<std::string> out;
  if (StartsWithAny(doc.GetUrl(link.m_nIndex), kDirectoryPrefixes)) return out;
  for (const std::string& referrer : doc.GetReferrerUrls(link)) {
    if (!referrer.starts_with(kDirectoryCategory)) continue;
    out.push_back(referrer.substr(kDirectoryCategory.size()));
    if (out.size() == kMaxCategoryEntries) break;
  }
  return out;
}

std::string DirectoryEditAddress(std::string_view url, std::string_view category) {
  return Join(kDirectoryEdit, url, Join("&cat=", category));
}

ContextMenu BuildContextMenu(const CWexoDoc& doc, const CLinkInfo& link, const ShellVerbSource& verbs) {
  ContextMenu menu;
  std::vector<MenuEntry>& entries = menu.entries;
  const std::string& url = doc.GetUrl(link.m_nIndex);
  entries.push_back({ID_EDIT_COPY, "Copy URL"});
  Separator(entries);
  entries.push_back({ID_OPEN_IN_BROWSER, "Open in Browser"});
  if (IsWebAddress(url) && !StartsWithAny(url, kArchivePrefixes)) {
    entries.push_back({ID_OPEN_IN_CACHE, "Open in Google cache"});
    entries.push_back({ID_OPEN_IN_ARCHIVE, "Open in Wayback Machine"});
    entries.push_back({ID_OPEN_IN_RANKING, "Open in Alexa"});
    entries.push_back({ID_SHOW_INDICES, "Show Indices"});
    entries.push_back({ID_SHOW_BACKLINKS, "Show Backlinks"});
  }
  if (link.IsBroken()) {
    Separator(entries);
    entries.push_back({ID_RESET_ENTRY, "Reset entry\tAlt+R"});
  }
  const std::vector<std::string> categories = DirectoryCategories(doc, link);
  for (std::size_t i = 0; i < categories.size(); ++i) {
    if (i == 0) Separator(entries);
    const std::string& category = categories[i];
    const std::string shown =
        category.size() > kMaxCategoryText ? "...." + category.substr(category.size() - kMaxCategoryText) : category;
    entries.push_back({ID_DIRECTORY_CATEGORY + static_cast<int>(i), "Edit in ODP Category " + shown});
  }
  if (link.m_nStatus == 200 && doc.IsInternal(url) && IsWebAddress(url) && link.IsParsableType()) {
    Separator(entries);
    entries.push_back({ID_VALIDATE_URL, "Validate URL"});
  }
  if (url.starts_with("file:///") && verbs) {
    const std::size_t dot = url.rfind('.');
    const std::vector<std::string> found =
        dot == std::string::npos ? std::vector<std::string>() : verbs(url.substr(dot));
    for (const std::string& verb : found) {
      if (::strcasecmp(verb.c_str(), "new") == 0 || ::strcasecmp(verb.c_str(), "printto") == 0) continue;
      if (menu.shellVerbs.empty()) Separator(entries);
      entries.push_back({ID_SHELL_VERB + static_cast<int>(menu.shellVerbs.size()), verb});
      menu.shellVerbs.push_back(verb);
      if (menu.shellVerbs.size() == kMaxShellVerbs) break;
    }
  }
  Separator(entries);
  entries.push_back({ID_URL_PROPERTIES, "URL p&roperties"});
  return menu;
}

std::vector<std::string> ServiceAddresses(int id, std::string_view url) {
  switch (id) {
    case ID_OPEN_IN_CACHE: return {Join(kCacheQuery, url)};
    case ID_OPEN_IN_ARCHIVE: return {Join(kArchiveCaptures, url)};
    case ID_OPEN_IN_RANKING: return {Join(kRankingDetails, url)};
    case ID_SHOW_INDICES: return {Join(kInfoQuery, url), Join(kUrlQuery, url)};
    case ID_SHOW_BACKLINKS: {
      const std::string host = HostPart(url);
      return {Join(kLinkExplorerBefore, host, kLinkExplorerAfter), Join(kSiteExplorerQuery, url),
              Join(kSecondSiteExplorer, host)};
    }
    case ID_VALIDATE_URL: return {Join(kValidatorCheck, url)};
    default: return {};
  }
}
