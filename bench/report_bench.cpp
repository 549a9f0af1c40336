// The HTML report of a generated check: records found twenty to a page, every tenth one
// broken, titles, descriptions and bodies that repeat, several MIME types, a thousand
// internal prefixes as a URL-list start gives them, redirects with loops, anchors and
// fragments on every page, and a chain of pages twenty thousand levels deep.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/WexoDoc.h"
#include "report/Report.h"

namespace {

constexpr std::size_t kLinksPerPage = 20;
constexpr std::size_t kDeepPages = 20000;
const std::string kRoot = "http://www.example.com/";

std::unique_ptr<CWexoDoc> GeneratedCheck(std::size_t records) {
  bench::UseDefaultSettings();
  auto doc = std::make_unique<CWexoDoc>(bench::Context());
  doc->SetRootUrl(kRoot);
  std::vector<std::string> include;
  for (std::size_t p = 0; p < 1000; ++p) include.push_back(kRoot + "docs/section" + std::to_string(p) + "/");
  doc->SetIncludes(std::move(include));
  static const char* const kTypes[] = {"text/html", "text/html", "text/html",
                                       "image/png", "text/css",  "application/pdf"};
  for (std::size_t k = 0; k < records; ++k) {
    const std::string n = std::to_string(k);
    // The last pages form one chain, each linked from the one before: a deep site map.
    const bool deep = k + kDeepPages >= records;
    const std::string url = k == 0 ? kRoot
                            : k % 50 == 7 && !deep
                                ? "http://ext" + std::to_string(k % 97) + ".example.org/" + n
                                : kRoot + "docs/section" + std::to_string(k % 1000) + "/Page" + n + ".html";
    const std::size_t from = !deep ? (k - 1) / kLinksPerPage : k + kDeepPages == records ? 0 : k - 1;
    const CLinkInfo* parent = k == 0 ? nullptr : doc->GetLink(from);
    const CLinkInfo* link = doc->NewLink(url, parent, REQUEST_GET);
    if (k > 1 && !deep) doc->AddReferrer(link, doc->GetLink(k % 97));  // a second page links to it
    doc->SetStatus(link, deep ? 200 : k % 10 == 3 ? 404 : k % 100 == 9 ? 12002 : 200);
    doc->UpdateLink(*link, [&](CLinkInfo& r) {
      r.m_csMimeType = deep ? "text/html" : kTypes[k % 6];
      r.m_saAnchors = {"top", "part" + std::to_string(k % 3), "top"};
      r.m_saFragments = {"part1", "missing"};
    });
    if (k % 50 == 11) doc->AddRedirect(kRoot + "old/" + n, url, 301);
    if (k % 1000 == 13) {  // a loop of three
      doc->AddRedirect(kRoot + "loop/a" + n, kRoot + "loop/b" + n, 302);
      doc->AddRedirect(kRoot + "loop/b" + n, kRoot + "loop/c" + n, 302);
      doc->AddRedirect(kRoot + "loop/c" + n, kRoot + "loop/a" + n, 302);
    }
    doc->UpdateLink(*link, [k](CLinkInfo& r) {
      r.m_nSize = static_cast<std::int64_t>(1000 + k % 5000);
      r.m_nDurationMs = static_cast<std::int16_t>(k % 1000);
      r.m_csTitle = "Page " + std::to_string(k % 20000) + " & <more>";
      if (k % 3 == 0) r.m_csDescription = "About " + std::to_string(k % 7000);
      if (r.m_nStatus == 200 && r.m_csMimeType == "text/html") {
        auto digest = std::make_unique<Md5Digest>();
        const std::size_t body = k % 30000;
        for (std::size_t b = 0; b < digest->size(); ++b) (*digest)[b] = static_cast<std::uint8_t>(body >> (b % 4 * 8));
        r.m_pDigest = std::move(digest);
      }
    });
  }
  return doc;
}

void BM_Report(benchmark::State& state) {
  const auto records = static_cast<std::size_t>(state.range(0));
  auto doc = GeneratedCheck(records);
  const std::string path = (std::filesystem::temp_directory_path() / "wexo-bench-report.htm").string();
  for (auto _ : state)
    if (!vCreateReport(*doc, path)) state.SkipWithError("the report was not written");
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  std::filesystem::remove(path);
}
BENCHMARK(BM_Report)->Arg(100000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
