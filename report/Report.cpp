#include "report/Report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "engine/Application.h"
#include "engine/CheckSettings.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/InetError.h"
#include "platform/LocalTime.h"
#include "platform/TextFile.h"
#include "report/ReportWriter.h"
#include "report/TabExport.h"

namespace {

constexpr const char* kTimeFormat = "%B %d, %Y at %H:%M:%S";
constexpr std::string_view kSectionEnd = "\n<p class=\"noprint\"><b><a href=\"#top\">Return to Top</a></b></p>\n<hr>\n";

std::string CreateFailure(const std::string& path, int error) {
  return "Could not create file '" + path + "' for report, errno " + std::to_string(error) + ": " +
         platform::FileErrorText(error);
}

unsigned char FoldAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

template <bool WithTimeouts>
bool AnyBroken(const CWexoDoc& doc, const CLinkInfo& page) {
  for (std::uint32_t t : doc.Table().GetTargets(page))
    if (IsReportedBroken(doc.Table().GetLink(t)->m_nStatus, WithTimeouts)) return true;
  return false;
}

template <bool WithTimeouts>
std::vector<const CLinkInfo*> BrokenTargets(const CWexoDoc& doc, const CLinkInfo& page) {
  std::vector<const CLinkInfo*> broken;
  for (std::uint32_t t : doc.Table().GetTargets(page))
    if (IsReportedBroken(doc.Table().GetLink(t)->m_nStatus, WithTimeouts)) broken.push_back(doc.Table().GetLink(t));
  return broken;
}

// How many URLs begin with each prefix: one sort of the URLs, then two binary searches per
// prefix, since the URLs that begin with a prefix stand together in byte order.
std::vector<std::size_t> CountPrefixMatches(const std::vector<std::string>& urls,
                                            const std::vector<std::string>& prefixes) {
  std::vector<std::size_t> counts;
  if (prefixes.empty()) return counts;
  std::vector<std::string_view> sorted(urls.begin(), urls.end());
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& prefix : prefixes) {
    const auto first = std::lower_bound(sorted.begin(), sorted.end(), std::string_view(prefix));
    const auto last =
        std::partition_point(first, sorted.end(), [&prefix](std::string_view url) { return url.starts_with(prefix); });
    counts.push_back(static_cast<std::size_t>(last - first));
  }
  return counts;
}

}  // namespace

BuildStamp ProgramBuildStamp() { return {__DATE__, __TIME__}; }

bool IsReportedBroken(std::int16_t status, bool withTimeouts) {
  return IsBrokenStatus(status) && (withTimeouts || (status != platform::ERROR_INTERNET_TIMEOUT &&
                                                     status != platform::ERROR_INTERNET_OPERATION_CANCELLED));
}

bool HasBrokenLinks(const CWexoDoc& doc, const CLinkInfo& page) { return AnyBroken<true>(doc, page); }
bool HasBrokenLinksNoTimeouts(const CWexoDoc& doc, const CLinkInfo& page) { return AnyBroken<false>(doc, page); }
std::vector<const CLinkInfo*> GetBrokenLinks(const CWexoDoc& doc, const CLinkInfo& page) {
  return BrokenTargets<true>(doc, page);
}
std::vector<const CLinkInfo*> GetBrokenLinksNoTimeouts(const CWexoDoc& doc, const CLinkInfo& page) {
  return BrokenTargets<false>(doc, page);
}

int CompareUrls(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = FoldAscii(a[i]), y = FoldAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void SortByUrl(const CWexoDoc& doc, std::vector<std::uint32_t>& ids) {
  std::stable_sort(ids.begin(), ids.end(), [&doc](std::uint32_t a, std::uint32_t b) {
    return CompareUrls(doc.Table().GetUrl(a), doc.Table().GetUrl(b)) < 0;
  });
}

std::string ShownPageText(const std::string& text, unsigned codePage) {
  std::string shown = ConvertCodePage(text, codePage, kUtf8CodePage);
  DecodeEntities(shown, kUtf8CodePage);
  return shown;
}

std::string ShownName(const std::string& name) {
  std::string shown = name;
  DecodeEntities(shown, kUtf8CodePage);
  return shown;
}

std::string FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) value = 0;  // 0 of 0 is shown as 0
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("0");
}

bool vCreateReport(const CWexoDoc& doc, const std::string& path, const BuildStamp& built) {
  return WriteExport(
      doc.Host(), path, [&](platform::TextFileWriter& out) { ReportWriter(doc, out, built).Write(); }, CreateFailure);
}

// ---- The frame

std::span<const ReportWriter::Section> ReportWriter::Sections() {
  static const Section kSections[] = {
      {&CheckSettings::ReportBroken1, "bylink", "Broken links, ordered by link", &ReportWriter::WriteBrokenByLink},
      {&CheckSettings::ReportBroken2, "bypage", "Broken links, ordered by page", &ReportWriter::WriteBrokenByPage},
      {&CheckSettings::ReportRedir, "redir", "List of redirected URLs", &ReportWriter::WriteRedirects},
      {&CheckSettings::ReportFtpGopher, "ftpgopher", "List of ftp and gopher URLs", &ReportWriter::WriteFtpGopher},
      {&CheckSettings::ReportValid, "valid", "List of valid internal URLs you can submit to a search engine",
       &ReportWriter::WriteValid},
      {&CheckSettings::SiteMap, "sitemap", "Site Map of HTML pages with a Title", &ReportWriter::WriteSiteMapSection},
      {&CheckSettings::ReportBrokenLocal, "targets", "Broken page-local links", &ReportWriter::WriteBrokenLocal},
      {&CheckSettings::ReportOrphans, "orphans", "Orphan files", &ReportWriter::WriteOrphans},
      {&CheckSettings::ReportStatistics, "stats", "Statistics for managers", &ReportWriter::WriteStatistics},
  };
  return kSections;
}

ReportWriter::ReportWriter(const CWexoDoc& doc, platform::TextFileWriter& out, const BuildStamp& built)
    : m_doc(doc), m_table(doc.Table()), m_settings(doc.Settings()), m_out(out), m_built(built) {}

bool ReportWriter::Applies(const Section& section) const {
  if (!section.write || m_settings.*section.option == 0) return false;
  return std::string_view(section.anchor) != "ftpgopher" || m_hasFtpGopher;
}

void ReportWriter::Write() {
  const std::string name = m_doc.App().GetProfileString("Options", "SponsorName", "");
  const std::string link = m_doc.App().GetProfileString("Options", "SponsorLink", "");
  if (!name.empty())
    m_sponsor = link.empty() ? "by <b>" + name + "</b> " : "by <b><a href=\"" + link + "\">" + name + "</a></b> ";
  for (const std::string& url : m_table.GetUrls()) {
    if (url.starts_with("ftp://") || url.starts_with("gopher://")) {
      m_hasFtpGopher = true;
      break;
    }
  }

  WriteHead();
  const std::vector<std::size_t> included = CountPrefixMatches(m_table.GetUrls(), m_doc.GetIncludes());
  const std::vector<std::size_t> excluded = CountPrefixMatches(m_table.GetUrls(), m_doc.GetExcludes());
  if (!m_doc.GetIncludes().empty()) {
    m_out.Write("Consider URLs beginning with this as 'internal':\n<pre>\n");
    WritePrefixes(m_doc.GetIncludes(), included);
    m_out.Write("</pre>\n\n");
  }
  if (!m_doc.GetExcludes().empty()) {
    m_out.Write("Do not check any URLs beginning with this:\n<pre>\n");
    WritePrefixes(m_doc.GetExcludes(), excluded);
    m_out.Write("</pre>\n");
  }
  WriteContents();
  for (const Section& section : Sections()) {
    if (Applies(section)) (this->*section.write)();
    Flush();
  }
  WriteFooter();
}

void ReportWriter::Flush() { m_out.Flush(); }

void ReportWriter::WriteHead() {
  m_out.Write(
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
      "\"http://www.w3.org/TR/html4/loose.dtd\">\n"
      "<html>\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n");
  m_out.Write(std::string("<meta name=\"GENERATOR\" content=\"") + kProgramBanner + "\">\n");
  m_out.Write("<title>Broken link report for " + platform::FormatLocalTime(m_doc.Now(), kTimeFormat) + "</title>\n");
  m_out.Write(
      "</head>\n"
      "<BODY TEXT=\"#000000\" BGCOLOR=\"#FFFFFF\" LINK=\"#0000EE\" VLINK=\"#551A8B\" ALINK=\"#FF0000\">\n"
      "<a name=\"top\"></a><h1>Broken link report</h1>\n");
  m_out.Write("<h2>Created " + m_sponsor + " with " + kProgramBanner + " on " +
              platform::FormatLocalTime(m_doc.Now(), kTimeFormat) + "</h2>");
  if (m_table.GetLinkCount() == 0) return;
  m_line = "<h2>Root URL: <a href=\"";
  AppendHtmlText(m_line, m_table.GetUrl(0), HtmlQuote::Double);
  m_line += "\">";
  AppendHtmlText(m_line, m_table.GetUrl(0));
  m_line += "</a></h2>\n";
  m_out.Write(m_line);
}

void ReportWriter::WritePrefixes(const std::vector<std::string>& prefixes, const std::vector<std::size_t>& counts) {
  for (std::size_t i = 0; i < prefixes.size(); ++i) {
    m_line = "<a href=\"";
    AppendHtmlText(m_line, prefixes[i], HtmlQuote::Double);
    m_line += "\" TARGET=_blank>";
    AppendHtmlText(m_line, prefixes[i]);
    m_line += "</a> (" + std::to_string(counts[i]) + " URL" + (counts[i] >= 2 ? "s" : "") + ")\n";
    m_out.Write(m_line);
  }
}

void ReportWriter::WriteContents() {
  m_out.Write("<h3>Table of contents</h3>\n<ul>\n");
  for (const Section& section : Sections())
    if (Applies(section))
      m_out.Write(std::string("<li><a href=\"#") + section.anchor + "\">" + section.contents + "</a></li>\n");
  m_out.Write("</ul>\n");
}

void ReportWriter::WriteSectionEnd() { m_out.Write(kSectionEnd); }

void ReportWriter::WriteFooter() {
  m_out.Write("<h2>This report has been created " + m_sponsor + " with " + kProgramBanner + "</h2>\n");
  m_out.Write("Compile date: " + m_built.date + " " + m_built.time);
  m_out.Write("</body>\n</html>\n");
}

void ReportWriter::EscapeLink(const std::string& url, HtmlQuote quote) {
  m_text.clear();
  m_href.clear();
  AppendHtmlText(m_href, url, quote);
  if (url.find('%') == std::string::npos)  // most URLs: href and text alike, nothing to decode
    m_text = m_href;
  else
    AppendHtmlText(m_text, DecodePercentEscapes(url), quote);
}

void ReportWriter::WriteLinkLine(std::string_view lead, const std::string& url) {
  // The attribute's escape serves for the link's text as well: '"' as an entity reads the
  // same there.
  EscapeLink(url, HtmlQuote::Double);
  m_line = lead;
  m_line += "<a href=\"";
  m_line += m_href;
  m_line += "\" TARGET=_blank>";
  m_line += m_text;
  m_line += "</a>\n";
  m_out.Write(m_line);
}

// ---- Broken links

void ReportWriter::WriteBrokenStart(const char* heading) {
  m_out.Write(heading);
  if (!m_settings.ReportTimeouts)
    m_out.Write("(Timeouts are not reported, see [Options] ReportTimeouts in WEXO.INI)<br/>\n");
  m_out.Write("<pre>");
}

void ReportWriter::WriteBrokenEnd(std::size_t count) {
  m_out.Write("</pre>" + std::to_string(count) + " broken link(s) reported\n\n");
  WriteSectionEnd();
}

void ReportWriter::WriteBrokenRecord(std::string_view lead, const CLinkInfo& link) {
  const std::string& url = m_table.GetUrl(link.m_nIndex);
  if (!url.empty()) {
    WriteLinkLine(lead, url);
  } else {
    m_out.Write(lead);
    m_out.Write("empty URL\n");
  }
  std::string title = link.m_csTitle;
  EscapeHtml(title);
  m_out.Write(std::string(lead) + "link text: " + title + "\n");
}

void ReportWriter::WriteBrokenByLink() {
  const bool withTimeouts = m_settings.ReportTimeouts != 0;
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i)
    if (IsReportedBroken(m_table.GetLink(i)->m_nStatus, withTimeouts)) ids.push_back(static_cast<std::uint32_t>(i));
  SortByUrl(m_doc, ids);

  WriteBrokenStart("<h2><a name=\"bylink\"></a>Broken links, ordered by link:</h2>\n");
  std::size_t count = 0;
  for (std::uint32_t id : ids) {
    const CLinkInfo& link = *m_table.GetLink(id);
    WriteBrokenRecord("", link);
    m_out.Write("error code: " + std::to_string(link.m_nStatus) + " (" + link.GetStatusText() +
                "), linked from page(s):\n");
    for (const std::string& page : m_table.GetReferrerUrls(link)) {
      WriteLinkLine("\t", page);
      ++count;
    }
    m_out.Write("\n");
  }
  WriteBrokenEnd(count);
}

void ReportWriter::WriteBrokenByPage() {
  const bool withTimeouts = m_settings.ReportTimeouts != 0;
  std::vector<std::uint32_t> pages;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& page = *m_table.GetLink(i);
    if (withTimeouts ? HasBrokenLinks(m_doc, page) : HasBrokenLinksNoTimeouts(m_doc, page))
      pages.push_back(static_cast<std::uint32_t>(i));
  }
  SortByUrl(m_doc, pages);

  WriteBrokenStart("<h2><a name=\"bypage\"></a>Broken links, ordered by page:</h2>\n");
  std::size_t count = 0;
  for (std::uint32_t id : pages) {
    const CLinkInfo& page = *m_table.GetLink(id);
    WriteLinkLine("", m_table.GetUrl(id));
    for (const CLinkInfo* target : withTimeouts ? GetBrokenLinks(m_doc, page) : GetBrokenLinksNoTimeouts(m_doc, page)) {
      WriteBrokenRecord("\t", *target);
      m_out.Write("\t  \\_____ error code: " + std::to_string(target->m_nStatus) + " (" + target->GetStatusText() +
                  ")\n");
      ++count;
    }
    m_out.Write("\n");
  }
  WriteBrokenEnd(count);
}
