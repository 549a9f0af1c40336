// The HTML report of a check (HTML 4.01 Transitional, UTF-8): what is wrong with the site
// and what was found on it, section by section as the report settings choose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CLinkInfo;
class CWexoDoc;

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
