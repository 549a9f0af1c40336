// The report's site map: nested lists of the titled pages below the root, written under the
// abort box while the program keeps handling its events.
#include <algorithm>
#include <vector>

#include "engine/Application.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "report/ReportWriter.h"

namespace {

// Pumps the box at most once per interval, so a large site map costs little more than its
// writing.
class PumpPacer {
 public:
  PumpPacer(IAbortBox& box, std::chrono::milliseconds interval) : m_box(box), m_interval(interval) {}
  void Step() {
    using Clock = std::chrono::steady_clock;
    if (m_interval.count() > 0 && Clock::now() - m_last < m_interval) return;
    m_box.PumpWaitingMessages();
    m_last = Clock::now();
  }

 private:
  IAbortBox& m_box;
  std::chrono::milliseconds m_interval;
  std::chrono::steady_clock::time_point m_last{};
};

enum class Listed : std::uint8_t { No, Page, Leaf };

Listed HowListed(const CWexoDoc& doc, const CLinkInfo& link, const std::string& url) {
  const std::int16_t status = link.m_nStatus;
  if (link.m_csTitle.empty() || (status != 200 && status != 302 && status != 303 && status != 307)) return Listed::No;
  const Listed listed = link.IsParsableType() ? Listed::Page : link.IsNonHtmlType() ? Listed::Leaf : Listed::No;
  if (listed == Listed::No || !doc.IsInternal(url) || doc.IsExcluded(url)) return Listed::No;
  return listed;
}

}  // namespace

void WriteSiteMap(const CWexoDoc& doc, const CLinkInfo& page, platform::TextFileWriter& out, int minDepth,
                  IAbortBox& box, std::chrono::milliseconds pumpEvery) {
  const std::size_t n = doc.Table().GetLinkCount();
  if (n == 0 || page.m_nIndex >= n) return;
  PumpPacer pacer(box, pumpEvery);

  // The pages listed below each page, one entry per referrer entry: found once for the whole
  // map from the referrer lists. They come in URL order: table order follows which fetch
  // ended first, and two checks of one site give one map.
  std::vector<Listed> listed(n, Listed::No);
  std::vector<std::uint32_t> first(n + 1, 0);
  std::vector<std::uint32_t> byUrl;
  for (std::size_t id = 0; id < n; ++id) {
    const CLinkInfo& link = *doc.Table().GetLink(id);
    if (link.m_dwaReferrers.empty()) continue;
    listed[id] = HowListed(doc, link, doc.Table().GetUrl(id));
    if (listed[id] == Listed::No) continue;
    byUrl.push_back(static_cast<std::uint32_t>(id));
    for (std::uint32_t referrer : link.m_dwaReferrers)
      if (referrer < n) ++first[referrer + 1];
    if ((id & 4095) == 4095) {
      pacer.Step();
      if (box.IsAborted()) return;
    }
  }
  std::sort(byUrl.begin(), byUrl.end(), [&doc](std::uint32_t a, std::uint32_t b) {
    const std::string& x = doc.Table().GetUrl(a);
    const std::string& y = doc.Table().GetUrl(b);
    const int folded = CompareUrls(x, y);
    return folded != 0 ? folded < 0 : x != y ? x < y : a < b;
  });
  for (std::size_t id = 0; id < n; ++id) first[id + 1] += first[id];
  std::vector<std::uint32_t> children(first[n]);
  {
    std::vector<std::uint32_t> next(first.begin(), first.end() - 1);
    for (std::uint32_t id : byUrl)
      for (std::uint32_t referrer : doc.Table().GetLink(id)->m_dwaReferrers)
        if (referrer < n) children[next[referrer]++] = id;
  }

  // Depth first without recursion: a site can be thousands of levels deep. A page is only
  // listed at a depth not above its own, so a cycle of links ends.
  struct Level {
    std::uint32_t next, end;
    int depth;
    bool opened;
  };
  std::vector<Level> levels{{first[page.m_nIndex], first[page.m_nIndex + 1], minDepth, false}};
  std::string line;
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.end || box.IsAborted()) {
      if (level.opened) out.Write("</ul>\n");
      levels.pop_back();
      if (levels.empty()) break;
      out.Write("</li>\n");
      pacer.Step();
      continue;
    }
    const std::uint32_t id = children[level.next++];
    const CLinkInfo& child = *doc.Table().GetLink(id);
    if (child.m_nLevel >= level.depth) {
      if (!level.opened) {
        out.Write("<ul>\n");
        level.opened = true;
      }
      line = "<li><a href=\"";
      AppendHtmlText(line, doc.Table().GetUrl(id), HtmlQuote::Double);
      line += "\">";
      AppendHtmlText(line, ShownPageText(child.m_csTitle, child.GetCodePage()));
      line += "</a>\n";
      out.Write(line);
      if (listed[id] == Listed::Page) {
        const int depth = level.depth + 1;
        levels.push_back({first[id], first[id + 1], depth, false});
        continue;
      }
      out.Write("</li>\n");
    }
    pacer.Step();
  }
}

void ReportWriter::WriteSiteMapSection() {
  m_out.Write(
      "<h2><a name=\"sitemap\"></a>Site Map of valid HTML pages with a title:</h2>\n"
      "<p>Note: if you upload this Site Map to your web page, exclude its URL or delete its page before checking, "
      "to prevent the software from checking the Site Map itself!</p>\n");
  if (m_table.GetLinkCount() > 0) {
    const CLinkInfo& root = *m_table.GetLink(0);
    // Without a title the root is shown by its URL, as stored.
    const std::string text = root.m_csTitle.empty()
                                 ? ConvertCodePage(m_table.GetUrl(0), root.GetCodePage(), kUtf8CodePage)
                                 : ShownPageText(root.m_csTitle, root.GetCodePage());
    m_line = "<a href=\"";
    AppendHtmlText(m_line, m_table.GetUrl(0), HtmlQuote::Double);
    m_line += "\">";
    AppendHtmlText(m_line, text);
    m_line += "</a>\n";
    m_out.Write(m_line);

    std::unique_ptr<IAbortBox> box = m_doc.Host().CreateAbortBox("Creating sitemap...");
    {
      // No other document parses a result or ends its check while the pump runs here.
      CLongPass pass(m_doc.App());
      WriteSiteMap(m_doc, root, m_out, root.m_nLevel + 1, *box);
    }
    if (box->IsAborted()) m_out.Write("\n<font size=\"+2\">Sitemap creation aborted!</font>\n\n");
  }
  m_out.Write("\n");
  WriteSectionEnd();
}
