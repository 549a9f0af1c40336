// The link table at a million records: the cost of AddLink per link while the table grows,
// of AddLink for links the table knows already, and the memory each record takes beyond
// its URL's own bytes.
//
// The table is built as a crawl builds it: record k is found on page (k - 1) / 20, so every
// page has twenty links out and every record one referrer.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/LinkInfo.h"
#include "engine/WexoDoc.h"

namespace {

constexpr std::size_t kLinksPerPage = 20;
const std::string kRoot = "http://www.example.com/";

// The link text of record k (k >= 1): pages of the site, some images, some external pages.
void LinkText(std::size_t k, std::string& text) {
  const std::string n = std::to_string(k);
  switch (k % 10) {
    case 9: text = "http://www.ext" + std::to_string(k % 97) + ".example.org/articles/" + n + ".html"; break;
    case 5: text = kRoot + "images/gallery/photo" + n + ".png"; break;
    default: text = kRoot + "docs/section" + std::to_string(k % 100) + "/page" + n + ".html"; break;
  }
}

std::unique_ptr<CWexoDoc> EmptyTable() {
  bench::UseDefaultSettings();
  auto doc = std::make_unique<CWexoDoc>(bench::Context());
  doc->SetRootUrl(kRoot);
  doc->NewLink(kRoot, nullptr, REQUEST_GET);
  return doc;
}

// Adds records 1 .. count - 1 through AddLink.
void Fill(CWexoDoc& doc, std::size_t count) {
  std::string text;
  for (std::size_t k = doc.GetLinkCount(); k < count; ++k) {
    LinkText(k, text);
    doc.AddLink(doc.GetLink((k - 1) / kLinksPerPage), text, 0);
  }
}

// New links only: the table grows from one record to range(0).
void BM_AddLinkNew(benchmark::State& state) {
  const auto records = static_cast<std::size_t>(state.range(0));
  std::vector<std::string> texts(records);
  for (std::size_t k = 1; k < records; ++k) LinkText(k, texts[k]);
  for (auto _ : state) {
    state.PauseTiming();
    auto doc = EmptyTable();
    std::vector<std::string> work = texts;
    state.ResumeTiming();
    for (std::size_t k = 1; k < records; ++k) doc->AddLink(doc->GetLink((k - 1) / kLinksPerPage), work[k], 0);
    state.PauseTiming();
    if (doc->GetLinkCount() != records) state.SkipWithError("a link did not make a record");
    doc.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(records - 1));
  state.counters["per_link"] = benchmark::Counter(
      static_cast<double>(records - 1), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Links the table knows already, found on other pages: each one a look-up and a referrer.
void BM_AddLinkKnown(benchmark::State& state) {
  const auto records = static_cast<std::size_t>(state.range(0));
  auto doc = EmptyTable();
  Fill(*doc, records);
  // One text per iteration, made beforehand: AddLink rewrites the text it is given.
  std::vector<std::string> texts(static_cast<std::size_t>(state.max_iterations));
  for (std::size_t i = 0; i < texts.size(); ++i) LinkText(1 + (i * 7919) % (records - 1), texts[i]);
  std::size_t i = 0;
  for (auto _ : state) {
    const CLinkInfo* page = doc->GetLink((i * 104729) % records);
    benchmark::DoNotOptimize(doc->AddLink(page, texts[i], 0));
    ++i;
  }
  if (doc->GetLinkCount() != records) state.SkipWithError("a known link made a new record");
  state.SetItemsProcessed(state.iterations());
  state.counters["records"] = static_cast<double>(doc->GetLinkCount());
}

// What a finished check adds to each record: a status, a content type, a server, a size, a
// date, and a title for pages.
void MarkChecked(CWexoDoc& doc) {
  for (std::size_t k = 0; k < doc.GetLinkCount(); ++k) {
    doc.SetStatus(doc.GetLink(k), 200, std::string());
    doc.UpdateLink(*doc.GetLink(k), [k](CLinkInfo& link) {
      const bool page = link.GetUrl().ends_with(".html") || link.GetUrl().ends_with("/");
      link.m_csMimeType = page ? "text/html" : "image/png";
      InternServerName(&link, "nginx/1.22.1");
      link.m_nSize = 4096;
      link.m_bDateKnown = 1;
      link.m_tDate = 1700000000;
      if (page) link.m_csTitle = "Section " + std::to_string(k) + ": System Information Functions";
    });
  }
}

// Bytes per record beyond the URL's own bytes, from the allocator's count and from the
// resident set; range(1) = 1 also fills what a finished check adds.
void BM_MemoryPerRecord(benchmark::State& state) {
  const auto records = static_cast<std::size_t>(state.range(0));
  const bool checked = state.range(1) != 0;
  double heapPerRecord = 0, rssPerRecord = 0, urlBytes = 0;
  for (auto _ : state) {
    bench::UseDefaultSettings();
    ::malloc_trim(0);
    const std::uint64_t heapBefore = bench::HeapBytesInUse();
    const std::uint64_t rssBefore = bench::ResidentBytes();
    auto doc = EmptyTable();
    Fill(*doc, records);
    if (checked) MarkChecked(*doc);
    ::malloc_trim(0);
    const std::uint64_t heapAfter = bench::HeapBytesInUse();
    const std::uint64_t rssAfter = bench::ResidentBytes();
    std::uint64_t urls = 0;
    for (const std::string& url : doc->GetUrls()) urls += url.size();
    const auto n = static_cast<double>(doc->GetLinkCount());
    heapPerRecord = (static_cast<double>(heapAfter) - static_cast<double>(heapBefore) - static_cast<double>(urls)) / n;
    rssPerRecord = (static_cast<double>(rssAfter) - static_cast<double>(rssBefore) - static_cast<double>(urls)) / n;
    urlBytes = static_cast<double>(urls) / n;
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.counters["heap_B_per_record"] = heapPerRecord;
  state.counters["rss_B_per_record"] = rssPerRecord;
  state.counters["url_B_per_record"] = urlBytes;
  state.counters["sizeof_CLinkInfo"] = static_cast<double>(sizeof(CLinkInfo));
}

}  // namespace

BENCHMARK(BM_AddLinkNew)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddLinkKnown)->Arg(1'000'000)->Iterations(1'000'000);
BENCHMARK(BM_MemoryPerRecord)->Args({1'000'000, 0})->Args({1'000'000, 1})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
