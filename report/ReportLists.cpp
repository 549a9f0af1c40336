// The report's lists: redirected URLs with their chains, ftp and gopher URLs, valid
// internal URLs, and broken page-local links.
#include <algorithm>
#include <numeric>

#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "report/ReportWriter.h"

namespace {

constexpr std::string_view kListEnd = "\n</pre>";

}  // namespace

void SortRedirectSources(const CWexoDoc& doc, std::vector<std::uint32_t>& indices) {
  const std::vector<std::string>& sources = doc.GetRedirectSources();
  std::stable_sort(indices.begin(), indices.end(),
                   [&sources](std::uint32_t a, std::uint32_t b) { return CompareUrls(sources[a], sources[b]) < 0; });
}

RedirectLoopCheck::RedirectLoopCheck(const CWexoDoc& doc)
    : m_sources(doc.GetRedirectSources()), m_targets(doc.GetRedirectTargets()) {
  const std::size_t n = std::min(m_sources.size(), m_targets.size());
  m_firstEntry.reserve(n);
  for (std::size_t i = 0; i < n; ++i) m_firstEntry.try_emplace(m_sources[i], static_cast<std::uint32_t>(i));
}

const RedirectChain& RedirectLoopCheck::operator()(std::size_t entry) {
  m_chain.urls.assign({&m_sources[entry], &m_targets[entry]});
  m_chain.loop = m_sources[entry] == m_targets[entry];
  if (m_chain.loop) return m_chain;
  m_seen.clear();
  m_seen.insert(m_sources[entry]);
  m_seen.insert(m_targets[entry]);
  for (;;) {
    const auto next = m_firstEntry.find(*m_chain.urls.back());
    if (next == m_firstEntry.end()) return m_chain;
    const std::string& target = m_targets[next->second];
    m_chain.urls.push_back(&target);
    if (!m_seen.insert(target).second) {
      m_chain.loop = true;
      return m_chain;
    }
  }
}

void ReportWriter::WriteRedirects() {
  const std::vector<std::string>& sources = m_doc.GetRedirectSources();
  const std::vector<std::string>& targets = m_doc.GetRedirectTargets();
  const std::vector<std::uint16_t>& codes = m_doc.GetRedirectCodes();
  const std::size_t n = std::min(sources.size(), targets.size());
  std::vector<std::uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  SortRedirectSources(m_doc, order);

  // The records of every source and target URL, in table order (a document file may hold
  // one URL more than once), found in one pass over the table.
  std::unordered_map<std::string_view, std::vector<std::uint32_t>> records;
  for (std::size_t i = 0; i < n; ++i) {
    records.try_emplace(sources[i]);
    records.try_emplace(targets[i]);
  }
  if (!records.empty())
    for (std::size_t id = 0; id < m_doc.GetLinkCount(); ++id)
      if (const auto at = records.find(m_doc.GetUrl(id)); at != records.end())
        at->second.push_back(static_cast<std::uint32_t>(id));

  RedirectLoopCheck loopCheck(m_doc);
  m_out.Write("<h2><a name=\"redir\"></a>List of redirected URLs</h2>\n<pre>");
  for (std::uint32_t i : order) {
    const RedirectChain& chain = loopCheck(i);
    WriteLinkLine("", sources[i]);
    WriteLinkLine("redirected to: ", targets[i]);
    const auto code = static_cast<std::int16_t>(i < codes.size() ? codes[i] : 0);
    if (code != 0) m_out.Write("status code: " + std::to_string(code) + " (" + StatusText(code) + ")\n");
    if (chain.loop) {
      m_out.Write("<b>This URL is part of a redirection loop:</b>\n");
      for (const std::string* url : chain.urls) WriteLinkLine("\t", *url);
    }
    const std::vector<std::uint32_t>& atTarget = records.find(targets[i])->second;
    if (std::any_of(atTarget.begin(), atTarget.end(),
                    [this](std::uint32_t id) { return IsBrokenStatus(m_doc.GetLink(id)->m_nStatus); }))
      m_out.Write("<b>The redirection target URL is broken!</b>\n");
    m_out.Write("linked from page(s):\n");
    for (std::uint32_t id : records.find(sources[i])->second) {
      for (const std::string& page : m_doc.GetReferrerUrls(*m_doc.GetLink(id))) WriteLinkLine("\t", page);
      m_out.Write("\n");
    }
  }
  m_out.Write(kListEnd);
  WriteSectionEnd();
}

void ReportWriter::WriteFtpGopher() {
  m_out.Write(
      "<h2><a name=\"ftpgopher\"></a>List of ftp and gopher URLs</h2><pre>\n"
      "Because the checking of ftp and gopher URLs is unreliable,\n"
      "here is the list to give you the possibility to check them yourself.\n\n");
  for (const std::string& url : m_doc.GetUrls())
    if (url.starts_with("ftp://") || url.starts_with("gopher://")) WriteLinkLine("", url);
  m_out.Write(kListEnd);
  WriteSectionEnd();
}

void ReportWriter::WriteValid() {
  m_out.Write("<h2><a name=\"valid\"></a>List of valid internal URLs you can submit to a search engine:</h2>\n<pre>");
  for (std::size_t i = 0; i < m_doc.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_doc.GetLink(i);
    const std::string& url = m_doc.GetUrl(i);
    const bool page = link.m_csMimeType == "text/plain" || (link.IsParsableType() && link.m_csMimeType != "text/css");
    if (page && link.m_nStatus == 200 && url.starts_with("http") && m_doc.IsInternal(url) && !m_doc.IsExcluded(url))
      WriteLinkLine("", url);
  }
  m_out.Write(kListEnd);
  WriteSectionEnd();
}

void ReportWriter::WriteLocalLink(const std::string& url, const std::string& name, std::string_view rest) {
  m_escaped.clear();
  m_decoded = DecodePercentEscapes(url);
  AppendHtmlText(m_escaped, m_decoded, HtmlQuote::Single);
  m_escaped += '#';
  AppendHtmlText(m_escaped, name, HtmlQuote::Single);
  m_line = "<a href='";
  m_line += m_escaped;
  m_line += "'>";
  m_line += m_escaped;
  m_line += "</a>";
  m_line += rest;
  m_out.Write(m_line);
}

void ReportWriter::WriteBrokenLocal() {
  m_out.Write(
      "<h2><a name=\"targets\"></a>Broken page-local links (also named 'anchors', 'fragment identifiers'):</h2>\n"
      "<pre>");
  // Only pages with anchors or fragments can have a line.
  std::vector<std::uint32_t> pages;
  for (std::size_t i = 0; i < m_doc.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_doc.GetLink(i);
    if (link.m_saAnchors.size() >= 2 || !link.m_saFragments.empty()) pages.push_back(static_cast<std::uint32_t>(i));
  }
  SortByUrl(m_doc, pages);

  std::size_t count = 0;
  std::unordered_map<std::string_view, std::uint32_t> occurrences;
  for (std::uint32_t id : pages) {
    const CLinkInfo& page = *m_doc.GetLink(id);
    const std::string& url = m_doc.GetUrl(id);
    bool any = false;
    occurrences.clear();
    for (const std::string& anchor : page.m_saAnchors) ++occurrences[anchor];
    // A duplicated name is written once, where it first occurs.
    for (const std::string& anchor : page.m_saAnchors) {
      std::uint32_t& seen = occurrences[anchor];
      if (seen < 2) continue;
      seen = 0;
      WriteLocalLink(url, anchor, " anchor occurs multiple times\n");
      ++count;
      any = true;
    }
    for (const std::string& fragment : page.m_saFragments) {
      if (occurrences.contains(fragment)) continue;
      WriteLocalLink(url, fragment, " not found\n");
      ++count;
      any = true;
    }
    if (any) m_out.Write("\n");
  }
  m_out.Write(std::string(kListEnd) + std::to_string(count) + " bad local link(s) reported\n\n");
  WriteSectionEnd();
}
