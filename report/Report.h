// The HTML report of a check (HTML 4.01 Transitional, UTF-8): what is wrong with the site
// and what was found on it, section by section as the report settings choose.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CLinkInfo;
class CWexoDoc;
class IAbortBox;
namespace platform {
class TextFileWriter;
}

// When the program was built, in the forms of the compiler's __DATE__ ("Jan  1 2025") and
// __TIME__ ("12:00:00").
struct BuildStamp {
  std::string date;
  std::string time;
};
BuildStamp ProgramBuildStamp();

// Writes the report to path through WriteExport. The times come from the document's clock.
// A file that cannot be created or written is shown by the document's host (an error box)
// and gives false.
bool vCreateReport(const CWexoDoc& doc, const std::string& path, const BuildStamp& built = ProgramBuildStamp());

// Whether a status counts as broken in the report: above 0 and not 200; without timeouts
// 12002 and 12017 do not count.
bool IsReportedBroken(std::int16_t status, bool withTimeouts);

// The broken records among the records a page links to (doc.GetTargets), in that order.
// The NoTimeouts forms ignore 12002 and 12017.
bool HasBrokenLinks(const CWexoDoc& doc, const CLinkInfo& page);
bool HasBrokenLinksNoTimeouts(const CWexoDoc& doc, const CLinkInfo& page);
std::vector<const CLinkInfo*> GetBrokenLinks(const CWexoDoc& doc, const CLinkInfo& page);
std::vector<const CLinkInfo*> GetBrokenLinksNoTimeouts(const CWexoDoc& doc, const CLinkInfo& page);

// Compares two URLs byte by byte with ASCII letters folded to lower case (below 0, 0, above 0),
// never by the process locale.
int CompareUrls(const std::string& a, const std::string& b);
// Sorts record indices by CompareUrls of their URLs; equal URLs keep their order.
void SortByUrl(const CWexoDoc& doc, std::vector<std::uint32_t>& ids);

// Sorts redirect-list indices by CompareUrls of their sources; equal sources keep their order.
void SortRedirectSources(const CWexoDoc& doc, std::vector<std::uint32_t>& indices);

// The first URLs of a redirect chain (pointing into the document's redirect lists), the
// number of URLs of the whole chain and whether it is a loop.
struct RedirectChain {
  std::vector<const std::string*> urls;
  std::size_t length = 0;
  bool loop = false;
};
// The chain of a redirect entry: its source, its target, then the target of the first entry
// whose source is the chain's last URL, and so on. A loop when the chain comes back to a URL
// it holds (a source redirected to itself included); it ends there, or where no entry goes
// on. The URLs and the first entry of each source form a graph in which every URL has at most
// one successor; it is taken apart once (its cycles, the trees that lead into them), so an
// entry's length and loop come without walking its chain: n entries of one long cycle cost n,
// not n times n.
class RedirectLoopCheck {
 public:
  explicit RedirectLoopCheck(const CWexoDoc& doc);
  // The chain of an entry with at most keep of its URLs. Valid until the next call.
  const RedirectChain& operator()(std::size_t entry, std::size_t keep = SIZE_MAX);

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  // The steps from url to to along the chain, or kNone when the chain of url never meets to.
  std::uint32_t Distance(std::uint32_t url, std::uint32_t to) const;

  const std::vector<std::string>& m_sources;
  const std::vector<std::string>& m_targets;
  std::vector<std::uint32_t> m_sourceNode, m_targetNode;  // per entry
  // Per URL: its text, its successor, the steps to the URL where its chain turns into a cycle
  // or ends (its end), that end, and the order of a walk of the trees that lead into the ends.
  std::vector<const std::string*> m_url;
  std::vector<std::uint32_t> m_next, m_depth, m_end, m_enter, m_leave;
  // Per URL on a cycle: the cycle's length, its first URL and the URL's place on it (a length
  // of 0 for every other URL).
  std::vector<std::uint32_t> m_cycleLength, m_cycleFirst, m_place;
  RedirectChain m_chain;
};

// The site map's pumping: the box is pumped at most every this often.
constexpr std::chrono::milliseconds kSiteMapPumpInterval{5};

// Writes the nested lists of the pages below page: each titled, internal, not excluded page
// with status 200, 302, 303 or 307 and a depth of minDepth or more, once for every entry of
// its referrer list that names page; parsable pages with their own pages below them, other
// documents (IsNonHtmlType) as leaves. Pumps the box between steps and stops once it reads
// aborted, closing every list it opened; a pumpEvery of 0 pumps at every step.
// User-interface thread; the caller holds the long pass (CLongPass).
void WriteSiteMap(const CWexoDoc& doc, const CLinkInfo& page, platform::TextFileWriter& out, int minDepth,
                  IAbortBox& box, std::chrono::milliseconds pumpEvery = kSiteMapPumpInterval);
