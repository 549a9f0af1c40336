// The report writer over a fuzzed check. Each line of the input makes or changes a record:
// its first byte says what, the rest is the text. Every text a record gets ends in a marker
// tag, and the report must show no marker and no tag but its own.
#include <cctype>

#include "engine/Fetch.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Archive.h"
#include "report/Report.h"

namespace {

constexpr std::string_view kMarker = "<zz>";

// The tags the report writes itself.
bool IsReportTag(std::string_view name) {
  static constexpr std::string_view kTags[] = {"a",     "b",  "br", "font", "h1",   "h2",    "h3",
                                               "head",  "hr", "li", "p",    "pre",  "html",  "meta",
                                               "table", "td", "tr", "ul",   "body", "title", "!doctype"};
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view tag : kTags)
    if (lower == tag) return true;
  return false;
}

void CheckTags(std::string_view html) {
  FUZZ_CHECK(html.find(kMarker) == std::string_view::npos);
  for (std::size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1)) {
    std::size_t end = at + 1;
    if (end < html.size() && html[end] == '/') ++end;
    const std::size_t nameStart = end;
    while (end < html.size() && (std::isalnum(static_cast<unsigned char>(html[end])) || html[end] == '!')) ++end;
    FUZZ_CHECK(IsReportTag(html.substr(nameStart, end - nameStart)));
    FUZZ_CHECK(end < html.size() && std::string_view(" >\r\n").find(html[end]) != std::string_view::npos);
  }
}

constexpr std::int16_t kStatuses[] = {200, 404, 301, 302, 500, 12002, 12007, 12017, -1, 0, 403, 307};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Engine engine;
  static const std::string path = fuzz::PathOf("report.htm");
  static const bool settings = [] {
    platform::WritePrivateProfileString("Options", "ReportOrphans", "0", platform::SettingsFile());
    return true;
  }();
  (void)settings;

  auto doc = engine.NewDoc();
  doc->SetRootUrl("http://site.test/");
  doc->SetIncludes({"http://site.test/"});
  const CLinkInfo* page = doc->NewLink("http://site.test/", nullptr, REQUEST_GET);
  doc->SetStatus(page, 200);
  doc->UpdateLink(*page, [](CLinkInfo& r) { r.m_csMimeType = "text/html"; });
  const CLinkInfo* last = page;
  auto change = [&](auto&& write) { doc->UpdateLink(*last, write); };
  fuzz::Input in(data, size);
  while (!in.Empty()) {
    const std::uint8_t what = in.Byte();
    const std::string text = std::string(in.Piece('\n')) + std::string(kMarker);
    switch (what % 8) {
      case 0:  // a link of the current page
      case 1: {
        if (doc->FindLink(text)) break;
        last = doc->NewLink(text, page, REQUEST_GET);
        doc->SetStatus(last, kStatuses[(what / 8) % std::size(kStatuses)], what & 0x80 ? text : std::string());
        change([what](CLinkInfo& r) { r.m_csMimeType = what & 0x40 ? "text/html" : "image/png"; });
        if (what & 0x20) page = last;
        break;
      }
      case 2: change([&](CLinkInfo& r) { r.m_csTitle = text; }); break;
      case 3: change([&](CLinkInfo& r) { r.m_csDescription = text; }); break;
      case 4: change([&](CLinkInfo& r) { r.m_csMimeType = text; }); break;
      case 5: doc->AddRedirect(last->GetUrl(), text, 301 + what / 8 % 8); break;
      case 6: change([&](CLinkInfo& r) { r.m_saAnchors.push_back(text); }); break;
      case 7: change([&](CLinkInfo& r) { r.m_saFragments.push_back(text); }); break;
    }
  }
  FUZZ_CHECK(vCreateReport(*doc, path, BuildStamp{"Jan  2 2025", "03:04:05"}));
  std::string html, error;
  FUZZ_CHECK(platform::ReadWholeFile(path, html, error));
  CheckTags(html);
  return 0;
}
