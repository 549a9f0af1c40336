// Cost per link of the two URL steps every link found on a page goes through: ResolveLink
// against the page's URL, then CanonicalizeUrl of the result (the link table's key).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/Url.h"

namespace {

const std::string kBase = "http://www.example.com/docs/guide/page.html";

// Link texts as pages hold them, mostly relative; "%N" stands for a number that varies and
// "%E" for an e with acute accent in the page's code page.
const char* const kPatterns[] = {
    "p%N.html",
    "chapter%N/section.html",
    "../ref/func%N.html#arg",
    "/docs/index%N.html",
    "./intro%N.html",
    "../../img/logo%N.png",
    "img/fig%N.png?size=large&amp;v=2",
    "search.php?q=link+checker&lang=en&page=%N",
    "page%N.html#Section-3",
    "caf%E-%N.html",
    "docs%20with%20spaces%N.html",
    "  padded%N.html ",
    "p%N.html",
    "../guide/p%N.html",
    "http://www.example.com/docs/Guide/Page%N.html",
    "https://www.example.org/a/b/c%N.html",
    "http://ext%N.example.net:8080/x/y?z=1",
    "//cdn.example.net/lib%N.js",
    "mailto:someone%N@example.com",
    "ftp://ftp.example.com/pub/file%N.tar.gz",
    "#top",
};

std::vector<std::string> LinkTexts(unsigned codePage) {
  const std::string accent = codePage == 65001 ? "\xC3\xA9" : "\xE9";
  std::vector<std::string> links;
  for (int n = 0; links.size() < 4096; ++n)
    for (const char* pattern : kPatterns) {
      std::string text = pattern;
      for (std::size_t at; (at = text.find("%N")) != std::string::npos;)
        text.replace(at, 2, std::to_string(n * 37 % 5000));
      for (std::size_t at; (at = text.find("%E")) != std::string::npos;) text.replace(at, 2, accent);
      links.push_back(text);
    }
  return links;
}

void BM_ResolveLink(benchmark::State& state) {
  bench::UseDefaultSettings();
  const auto codePage = static_cast<unsigned>(state.range(0));
  const std::vector<std::string> links = LinkTexts(codePage);
  std::size_t i = 0;
  for (auto _ : state) {
    std::string link = links[i++ % links.size()];
    benchmark::DoNotOptimize(ResolveLink(kBase, link, codePage));
    benchmark::DoNotOptimize(link.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// The canonical form is taken of resolved links, as the link table receives them.
void BM_CanonicalizeUrl(benchmark::State& state) {
  bench::UseDefaultSettings();
  const auto codePage = static_cast<unsigned>(state.range(0));
  const bool lowerCase = state.range(1) != 0;
  std::vector<std::string> resolved;
  for (std::string link : LinkTexts(codePage))
    if (ResolveLink(kBase, link, codePage) && !link.empty() && link[0] != '#') resolved.push_back(link);
  std::size_t i = 0;
  for (auto _ : state) {
    std::string url = resolved[i++ % resolved.size()];
    CanonicalizeUrl(url, lowerCase, codePage);
    benchmark::DoNotOptimize(url.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// The copy of the link text that both loops make, to subtract from their figures.
void BM_CopyLinkText(benchmark::State& state) {
  const std::vector<std::string> links = LinkTexts(65001);
  std::size_t i = 0;
  for (auto _ : state) {
    std::string link = links[i++ % links.size()];
    benchmark::DoNotOptimize(link.data());
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ResolveLink)->ArgName("codepage")->Arg(0)->Arg(65001);
BENCHMARK(BM_CanonicalizeUrl)->ArgNames({"codepage", "lower"})->Args({0, 0})->Args({65001, 0})->Args({0, 1});
BENCHMARK(BM_CopyLinkText);
BENCHMARK_MAIN();
