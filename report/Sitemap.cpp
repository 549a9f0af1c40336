#include "report/Sitemap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "engine/HtmlEscape.h"
#include "engine/WexoDoc.h"
#include "platform/LocalTime.h"
#include "report/TabExport.h"

namespace {

constexpr const char* kDateFormat = "%Y-%m-%d";

bool InSitemap(const CWexoDoc& doc, const CLinkInfo& link, const std::string& url) {
  if (!link.IsNonHtmlType() && !(link.IsParsableType() && link.m_csMimeType != "text/css")) return false;
  if (link.m_nStatus != 200) return false;
  if (!url.starts_with("http")) return false;
  if (!doc.IsInternal(url) || doc.IsExcluded(url)) return false;
  return link.m_csTitle != "redir";
}

std::string LocText(const std::string& url) {
  std::string loc;
  loc.reserve(url.size() + 8);
  AppendHtmlEscaped(loc, url, kSitemapLocRules);
  return loc;
}

// What the protocol allows: a URL of fewer than 2,048 characters, and at most 50,000 URLs in a
// file; a site with more has files of 50,000 URLs named by a sitemap index.
constexpr std::size_t kMaxLocLength = 2047;
constexpr std::size_t kMaxUrlsPerFile = 50000;

// The length of the URL that a loc holds (its escapes written out, an entity one character),
// without making it.
std::size_t LocLength(std::string_view url) {
  std::size_t length = 0;
  for (const char c : url)
    length += kSitemapLocRules.ActionOf(static_cast<unsigned char>(c)) == HtmlEscapeRules::Action::Percent ? 3 : 1;
  return length;
}

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kNamespace = "xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\"";

// The file of part number beside path: "sitemap.xml" gives "sitemap-1.xml", "sitemap-2.xml" ...
std::filesystem::path PartPath(const std::filesystem::path& path, std::size_t number) {
  std::filesystem::path part = path;
  part.replace_filename(path.stem().string() + "-" + std::to_string(number) + path.extension().string());
  return part;
}

// The URL a part has on the site: beside the checked site's root, where the index is meant to
// be put as well.
std::string PartUrl(const CWexoDoc& doc, const std::filesystem::path& part) {
  const std::string& root = doc.GetRootUrl();
  const std::size_t slash = root.rfind('/');
  return (slash == std::string::npos ? root : root.substr(0, slash + 1)) + part.filename().string();
}

// A W3C date "YYYY-MM-DD"; years before 1000 or beyond 9999, or a time that cannot be
// converted, give something else.
bool IsSitemapDate(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

std::string_view NodeName(std::string_view url, std::string_view prefix) {
  if (url.size() > prefix.size() && url.starts_with(prefix)) return url.substr(prefix.size());
  return url;  // outside the prefix, or the prefix itself
}

// dot reads a quoted string of at most about 16K bytes; longer names are written as
// concatenated pieces ("a" + "b"), cut only between characters.
constexpr std::size_t kMaxQuotedPiece = 8000;

// The name as a DOT quoted string. '"' and '\' are escaped so that every name reads back;
// a NUL byte, which dot cannot read at all, is written as its percent escape.
void AppendQuotedName(std::string& out, std::string_view name) {
  out += '"';
  std::size_t piece = 0;
  for (const char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (piece >= kMaxQuotedPiece && (c < 0x80 || c >= 0xC0)) {
      out += "\" + \"";
      piece = 0;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
      piece += 2;
    } else if (c == 0) {
      out += "%00";
      piece += 3;
    } else {
      out += ch;
      ++piece;
    }
  }
  out += '"';
}

// Writes a urlset file of the records ids.
bool WriteUrlSet(const CWexoDoc& doc, const std::string& path, std::span<const std::uint32_t> ids) {
  return WriteExport(doc.Host(), path, [&doc, ids](platform::TextFileWriter& out) {
    out.Write(kXmlDeclaration);
    out.Write("<urlset " + std::string(kNamespace) + ">\n");
    const std::string today = platform::FormatLocalTime(doc.Now(), kDateFormat);
    std::string entry;
    for (const std::uint32_t i : ids) {
      const CLinkInfo& link = *doc.Table().GetLink(i);
      std::string lastmod = today;
      if (link.m_bDateKnown) {
        lastmod = platform::FormatLocalTime(link.m_tDate, kDateFormat);
        if (!IsSitemapDate(lastmod)) lastmod = today;
      }
      entry.clear();
      entry += "\t<url>\n\t\t<loc>";
      entry += LocText(doc.Table().GetUrl(i));
      entry += "</loc>\n\t\t<lastmod>";
      entry += lastmod;
      entry += "</lastmod>\n\t\t<changefreq>monthly</changefreq>\n";
      // By table index: when the root itself is left out, no entry gets the root's priority.
      entry += i == 0 ? "\t\t<priority>0.9</priority>\n" : "\t\t<priority>0.8</priority>\n";
      entry += "\t</url>\n";
      out.Write(entry);
    }
    out.Write("</urlset>\n");
  });
}

}  // namespace

bool ExportSitemap(const CWexoDoc& doc, const std::string& path) {
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < doc.Table().GetLinkCount(); ++i) {
    const std::string& url = doc.Table().GetUrl(i);
    if (InSitemap(doc, *doc.Table().GetLink(i), url) && LocLength(url) <= kMaxLocLength)
      ids.push_back(static_cast<std::uint32_t>(i));
  }
  if (ids.size() <= kMaxUrlsPerFile) return WriteUrlSet(doc, path, ids);

  // The parts first, so the index never names a file that is not there.
  std::vector<std::filesystem::path> parts;
  for (std::size_t first = 0; first < ids.size(); first += kMaxUrlsPerFile) {
    parts.push_back(PartPath(path, parts.size() + 1));
    const std::size_t count = std::min(kMaxUrlsPerFile, ids.size() - first);
    if (!WriteUrlSet(doc, parts.back().string(), std::span<const std::uint32_t>(ids).subspan(first, count)))
      return false;
  }
  return WriteExport(doc.Host(), path, [&doc, &parts](platform::TextFileWriter& out) {
    out.Write(kXmlDeclaration);
    out.Write("<sitemapindex " + std::string(kNamespace) + ">\n");
    std::string entry;
    for (const std::filesystem::path& part : parts) {
      entry = "\t<sitemap>\n\t\t<loc>";
      entry += LocText(PartUrl(doc, part));
      entry += "</loc>\n\t</sitemap>\n";
      out.Write(entry);
    }
    out.Write("</sitemapindex>\n");
  });
}

bool ExportGraphViz(const CWexoDoc& doc, const std::string& path) {
  return WriteExport(doc.Host(), path, [&doc](platform::TextFileWriter& out) {
    out.Write("digraph G\n{\n");
    const std::string_view prefix = doc.GetRootUrl();
    std::string target;
    std::string edge;
    for (std::size_t i = 0; i < doc.Table().GetLinkCount(); ++i) {
      const CLinkInfo& link = *doc.Table().GetLink(i);
      if (link.m_nStatus != 200 || link.m_dwaReferrers.empty()) continue;
      target.clear();
      AppendQuotedName(target, NodeName(doc.Table().GetUrl(i), prefix));
      for (const std::uint32_t r : link.m_dwaReferrers) {
        if (doc.Table().GetLink(r)->m_nStatus != 200) continue;
        edge.assign("  ");
        AppendQuotedName(edge, NodeName(doc.Table().GetUrl(r), prefix));
        edge += " -> ";
        edge += target;
        edge += ";\n";
        out.Write(edge);
      }
    }
    out.Write("}\n");
  });
}
