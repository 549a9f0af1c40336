// The report's lists: redirected URLs with their chains, ftp and gopher URLs, valid
// internal URLs, and broken page-local links.
#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "report/ReportWriter.h"

namespace {

constexpr std::string_view kListEnd = "\n</pre>";
// The chain lines of one redirect entry: a long cycle would list itself under each of its
// entries, so a report of n entries would grow with n times n.
constexpr std::size_t kChainLines = 20;

// Whether a page-local link finds its place as a browser looks for it: the name as written,
// then with its escapes decoded, those bytes read as UTF-8 (the page's own names in its code
// page are read as UTF-8 too, for that second look).
class FragmentLookup {
 public:
  FragmentLookup(const CLinkInfo& page, const std::unordered_map<std::string_view, std::uint32_t>& anchors)
      : m_page(page), m_anchors(anchors) {}
  bool Finds(const std::string& fragment) {
    if (m_anchors.contains(fragment)) return true;
    if (fragment.find('%') == std::string::npos) return false;
    const std::string decoded = DecodePercentEscapes(fragment);
    if (m_anchors.contains(decoded)) return true;
    const unsigned codePage = m_page.GetCodePage();
    if (codePage == kUtf8CodePage || std::none_of(decoded.begin(), decoded.end(), [](char c) { return c & 0x80; }))
      return false;
    if (!m_converted) {
      m_converted = true;
      for (const std::string& anchor : m_page.m_saAnchors)
        m_utf8.insert(ConvertCodePage(anchor, codePage, kUtf8CodePage));
    }
    return m_utf8.contains(decoded);
  }

 private:
  const CLinkInfo& m_page;
  const std::unordered_map<std::string_view, std::uint32_t>& m_anchors;
  bool m_converted = false;
  std::unordered_set<std::string> m_utf8;
};

}  // namespace

void SortRedirectSources(const CWexoDoc& doc, std::vector<std::uint32_t>& indices) {
  const std::vector<std::string>& sources = doc.GetRedirectSources();
  std::stable_sort(indices.begin(), indices.end(),
                   [&sources](std::uint32_t a, std::uint32_t b) { return CompareUrls(sources[a], sources[b]) < 0; });
}

RedirectLoopCheck::RedirectLoopCheck(const CWexoDoc& doc)
    : m_sources(doc.GetRedirectSources()), m_targets(doc.GetRedirectTargets()) {
  const std::size_t entries = std::min(m_sources.size(), m_targets.size());
  std::unordered_map<std::string_view, std::uint32_t> ids;
  ids.reserve(2 * entries);
  const auto node = [&](const std::string& url) {
    const auto [at, added] = ids.try_emplace(url, static_cast<std::uint32_t>(m_url.size()));
    if (added) {
      m_url.push_back(&url);
      m_next.push_back(kNone);
    }
    return at->second;
  };
  m_sourceNode.resize(entries);
  m_targetNode.resize(entries);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::uint32_t source = node(m_sources[i]);
    const std::uint32_t target = node(m_targets[i]);
    m_sourceNode[i] = source;
    m_targetNode[i] = target;
    if (m_next[source] == kNone) m_next[source] = target;  // the first entry of a source counts
  }

  // Follow each URL's successors until a URL already placed, the end of a chain, or a URL of
  // the walk itself (a new cycle); then place the walk's URLs from its end backwards.
  const std::size_t n = m_url.size();
  m_depth.assign(n, 0);
  m_end.assign(n, kNone);
  m_cycleLength.assign(n, 0);
  m_cycleFirst.assign(n, kNone);
  m_place.assign(n, kNone);  // during a walk: the URL's index in it
  std::vector<std::uint32_t> walk;
  for (std::uint32_t start = 0; start < n; ++start) {
    if (m_end[start] != kNone || m_place[start] != kNone) continue;
    walk.clear();
    std::uint32_t at = start;
    while (at != kNone && m_end[at] == kNone && m_place[at] == kNone) {
      m_place[at] = static_cast<std::uint32_t>(walk.size());
      walk.push_back(at);
      at = m_next[at];
    }
    std::size_t tail = walk.size();
    if (at != kNone && m_end[at] == kNone) {  // back into the walk: a cycle from at
      tail = m_place[at];
      const auto length = static_cast<std::uint32_t>(walk.size() - tail);
      for (std::size_t k = tail; k < walk.size(); ++k) {
        const std::uint32_t url = walk[k];
        m_end[url] = url;
        m_cycleLength[url] = length;
        m_cycleFirst[url] = at;
        m_place[url] = static_cast<std::uint32_t>(k - tail);
      }
    }
    for (std::size_t k = tail; k-- > 0;) {
      const std::uint32_t url = walk[k];
      const std::uint32_t next = m_next[url];
      m_place[url] = kNone;
      if (next == kNone) {
        m_end[url] = url;  // a chain's end without successor
      } else {
        m_depth[url] = m_depth[next] + 1;
        m_end[url] = m_end[next];
      }
    }
  }

  // The URLs whose chains pass through a URL before its end are that URL's tree: numbered in
  // one depth-first walk from the ends, a tree is one range of numbers.
  std::vector<std::uint32_t> first(n + 1, 0);
  for (std::uint32_t url = 0; url < n; ++url)
    if (m_depth[url] > 0) ++first[m_next[url] + 1];
  for (std::size_t k = 0; k < n; ++k) first[k + 1] += first[k];
  std::vector<std::uint32_t> children(first[n]);
  {
    std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
    for (std::uint32_t url = 0; url < n; ++url)
      if (m_depth[url] > 0) children[fill[m_next[url]]++] = url;
  }
  m_enter.assign(n, 0);
  m_leave.assign(n, 0);
  std::uint32_t clock = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> stack;  // URL, its next child
  for (std::uint32_t root = 0; root < n; ++root) {
    if (m_depth[root] != 0) continue;
    m_enter[root] = clock++;
    stack.emplace_back(root, first[root]);
    while (!stack.empty()) {
      auto& [url, child] = stack.back();
      if (child == first[url + 1]) {
        m_leave[url] = clock;
        stack.pop_back();
        continue;
      }
      const std::uint32_t next = children[child++];
      m_enter[next] = clock++;
      stack.emplace_back(next, first[next]);
    }
  }
}

std::uint32_t RedirectLoopCheck::Distance(std::uint32_t url, std::uint32_t to) const {
  if (m_cycleLength[to] == 0)  // not on a cycle: url must lie in to's tree
    return m_enter[to] <= m_enter[url] && m_enter[url] < m_leave[to] ? m_depth[url] - m_depth[to] : kNone;
  const std::uint32_t end = m_end[url];
  if (m_cycleLength[end] == 0 || m_cycleFirst[end] != m_cycleFirst[to]) return kNone;
  const std::uint32_t length = m_cycleLength[to];
  return m_depth[url] + (m_place[to] + length - m_place[end]) % length;
}

const RedirectChain& RedirectLoopCheck::operator()(std::size_t entry, std::size_t keep) {
  const std::uint32_t source = m_sourceNode[entry], target = m_targetNode[entry];
  if (source == target) {
    m_chain.length = 2;
    m_chain.loop = true;
  } else if (const std::uint32_t back = Distance(target, source); back != kNone) {
    m_chain.length = std::size_t{back} + 2;  // ends with the source again
    m_chain.loop = true;
  } else {
    const std::uint32_t cycle = m_cycleLength[m_end[target]];
    // The source, the target's chain up to its end, then the whole cycle and its first URL
    // once more.
    m_chain.length = std::size_t{m_depth[target]} + 2 + (cycle > 0 ? cycle : 0);
    m_chain.loop = cycle > 0;
  }
  m_chain.urls.clear();
  const std::size_t shown = std::min(keep, m_chain.length);
  if (shown > 0) m_chain.urls.push_back(&m_sources[entry]);
  if (shown > 1) m_chain.urls.push_back(&m_targets[entry]);
  for (std::uint32_t url = target; m_chain.urls.size() < shown;) {
    url = m_next[url];
    m_chain.urls.push_back(m_url[url]);
  }
  return m_chain;
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
    for (std::size_t id = 0; id < m_table.GetLinkCount(); ++id)
      if (const auto at = records.find(m_table.GetUrl(id)); at != records.end())
        at->second.push_back(static_cast<std::uint32_t>(id));

  RedirectLoopCheck loopCheck(m_doc);
  m_out.Write("<h2><a name=\"redir\"></a>List of redirected URLs</h2>\n<pre>");
  for (std::uint32_t i : order) {
    const RedirectChain& chain = loopCheck(i, kChainLines);
    WriteLinkLine("", sources[i]);
    WriteLinkLine("redirected to: ", targets[i]);
    const auto code = static_cast<std::int16_t>(i < codes.size() ? codes[i] : 0);
    if (code != 0) m_out.Write("status code: " + std::to_string(code) + " (" + StatusText(code) + ")\n");
    if (chain.loop) {
      m_out.Write("<b>This URL is part of a redirection loop:</b>\n");
      for (const std::string* url : chain.urls) WriteLinkLine("\t", *url);
      if (chain.length > chain.urls.size())
        m_out.Write("\t... and " + std::to_string(chain.length - chain.urls.size()) + " more\n");
    }
    const std::vector<std::uint32_t>& atTarget = records.find(targets[i])->second;
    if (std::any_of(atTarget.begin(), atTarget.end(),
                    [this](std::uint32_t id) { return IsBrokenStatus(m_table.GetLink(id)->m_nStatus); }))
      m_out.Write("<b>The redirection target URL is broken!</b>\n");
    m_out.Write("linked from page(s):\n");
    for (std::uint32_t id : records.find(sources[i])->second) {
      for (const std::string& page : m_table.GetReferrerUrls(*m_table.GetLink(id))) WriteLinkLine("\t", page);
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
  for (const std::string& url : m_table.GetUrls())
    if (url.starts_with("ftp://") || url.starts_with("gopher://")) WriteLinkLine("", url);
  m_out.Write(kListEnd);
  WriteSectionEnd();
}

void ReportWriter::WriteValid() {
  m_out.Write("<h2><a name=\"valid\"></a>List of valid internal URLs you can submit to a search engine:</h2>\n<pre>");
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    const std::string& url = m_table.GetUrl(i);
    const bool page = link.m_csMimeType == "text/plain" || (link.IsParsableType() && link.m_csMimeType != "text/css");
    if (page && link.m_nStatus == 200 && url.starts_with("http") && m_doc.IsInternal(url) && !m_doc.IsExcluded(url))
      WriteLinkLine("", url);
  }
  m_out.Write(kListEnd);
  WriteSectionEnd();
}

void ReportWriter::WriteLocalLink(const std::string& url, const std::string& name, std::string_view rest) {
  EscapeLink(url, HtmlQuote::Single);
  m_name.clear();
  AppendHtmlText(m_name, ShownName(name), HtmlQuote::Single);
  m_line = "<a href='";
  m_line += m_href;
  m_line += '#';
  m_line += m_name;
  m_line += "'>";
  m_line += m_text;
  m_line += '#';
  m_line += m_name;
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
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    if (link.m_saAnchors.size() >= 2 || !link.m_saFragments.empty()) pages.push_back(static_cast<std::uint32_t>(i));
  }
  SortByUrl(m_doc, pages);

  std::size_t count = 0;
  std::unordered_map<std::string_view, std::uint32_t> occurrences;
  for (std::uint32_t id : pages) {
    const CLinkInfo& page = *m_table.GetLink(id);
    const std::string& url = m_table.GetUrl(id);
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
    FragmentLookup lookup(page, occurrences);
    for (const std::string& fragment : page.m_saFragments) {
      if (lookup.Finds(fragment)) continue;
      WriteLocalLink(url, fragment, " not found\n");
      ++count;
      any = true;
    }
    if (any) m_out.Write("\n");
  }
  m_out.Write(std::string(kListEnd) + std::to_string(count) + " bad local link(s) reported\n\n");
  WriteSectionEnd();
}
