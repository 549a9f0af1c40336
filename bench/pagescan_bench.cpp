// Throughput of the page parsers on ordinary pages: the HTML tag scan over real documentation
// pages and over a large generated page, and the style sheet parser over a large sheet.
//
// Each page is scanned as the pump does it: a record of the page, a fetch result naming it,
// and a line reader on the body file. "new" scans start from a table that holds only the
// page, so every link found is a new record (the first page of a crawl); "known" scans find
// every link in the table already, as most pages of a crawl do.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/ReadLine.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"

namespace {

struct PageCase {
  std::string path;
  std::string url;   // the URL the page is fetched from
  std::string root;  // the root of the check
};

// One fresh document with the page's record in it.
struct PageTable {
  explicit PageTable(const PageCase& page) : doc(std::make_unique<CWexoDoc>(bench::Context())) {
    doc->SetRootUrl(page.root);
    result.pLink = doc->NewLink(page.url, nullptr, REQUEST_GET);
    result.csUrl = page.url;
  }
  std::unique_ptr<CWexoDoc> doc;
  FetchResult result;
};

void Scan(CWexoDoc& doc, const FetchResult& result, const std::string& path) {
  platform::LineReader reader;
  if (!reader.Open(path)) std::abort();
  doc.ScanHtml(result, reader);
}

std::size_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

void BM_ScanHtmlNewLinks(benchmark::State& state, const PageCase& page) {
  bench::UseDefaultSettings();
  const std::size_t bytes = FileSize(page.path);
  std::size_t links = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PageTable>(page);
    state.ResumeTiming();
    Scan(*table->doc, table->result, page.path);
    state.PauseTiming();
    links = table->result.pLink->GetLinksOutCount();
    table.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["links"] = static_cast<double>(links);
}

void BM_ScanHtmlKnownLinks(benchmark::State& state, const PageCase& page) {
  bench::UseDefaultSettings();
  const std::size_t bytes = FileSize(page.path);
  PageTable table(page);
  Scan(*table.doc, table.result, page.path);  // enters every link once
  const std::size_t records = table.doc->GetLinkCount();
  std::size_t visit = 0;
  for (auto _ : state) {
    // Another page with the same body: its links are all in the table.
    state.PauseTiming();
    FetchResult result;
    result.csUrl = page.url + "?visit=" + std::to_string(++visit);
    result.pLink = table.doc->NewLink(result.csUrl, nullptr, REQUEST_GET);
    state.ResumeTiming();
    Scan(*table.doc, result, page.path);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["records"] = static_cast<double>(records);
}

// Several MB of ordinary markup: navigation, sections with paragraphs, inline links, tables,
// images, lists, an id on most blocks, now and then a comment or a small script.
std::string GeneratedPage(std::size_t targetBytes) {
  std::mt19937 rnd(7);
  auto pick = [&](int n) { return std::to_string(rnd() % static_cast<unsigned>(n)); };
  const std::string words =
      "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et "
      "dolore magna aliqua.";
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Generated reference</title>\n"
      "<link rel=\"stylesheet\" href=\"/css/site.css\">\n<script src=\"/js/site.js\"></script>\n</head>\n"
      "<body class=\"doc\">\n<div class=\"nav\"><a href=\"/\">Home</a> | <a href=\"../index.html\">Up</a> | "
      "<a href=\"toc.html\">Contents</a></div>\n";
  for (int s = 0; page.size() < targetBytes; ++s) {
    const std::string id = std::to_string(s);
    page += "<div class=\"section\" id=\"sec" + id + "\">\n<h2 class=\"title\"><a name=\"s" + id + "\" href=\"#sec" +
            id + "\">" + id + ". Section " + id + "</a></h2>\n";
    for (int p = 0; p < 3; ++p) {
      page += "<p>" + words + " See <a href=\"p" + pick(20000) + ".html\">page " + id + "</a> and <a href=\"../ref/f" +
              pick(2000) + ".html#arg" + pick(9) + "\"><code class=\"function\">f" + id + "</code></a>.\n" + words +
              " <em>Duis aute</em> irure dolor in <a href=\"/docs/chapter" + pick(40) + "/s" + pick(500) +
              ".html\" title=\"Chapter\">reprehenderit</a>.</p>\n";
    }
    page += "<table class=\"params\" border=\"1\" summary=\"Parameters\">\n<tr><th>Name</th><th>Type</th></tr>\n";
    for (int r = 0; r < 3; ++r)
      page += "<tr><td class=\"name\"><a href=\"types.html#t" + pick(300) + "\">arg" + std::to_string(r) +
              "</a></td><td>integer &amp; text</td></tr>\n";
    page += "</table>\n<img src=\"img/fig" + pick(200) + ".png\" alt=\"Figure " + id +
            "\" width=\"320\" height=\"200\">\n<ul class=\"links\">\n<li><a href=\"http://www.ext" + pick(50) +
            ".example.org/doc/" + pick(1000) +
            ".html\">External reference</a></li>\n"
            "<li><a href=\"https://cdn.example.net/a.pdf\" class=\"pdf\">Download</a></li>\n"
            "<li><a href=\"#top\">Back to top</a></li>\n</ul>\n";
    if (s % 7 == 0) page += "<!-- generated section " + id + " -->\n";
    if (s % 25 == 0)
      page += "<script type=\"text/javascript\">\nvar s" + id + " = document.getElementById('sec" + id + "');\nif (s" +
              id + ") { s" + id + ".className += ' seen'; }\n</script>\n";
    page += "<span style=\"background: url(img/mark" + pick(20) + ".png)\">note</span>\n</div>\n";
  }
  return page + "</body>\n</html>\n";
}

// A large sheet of ordinary rules: imports, a font, comments, selectors with several
// declarations, background images, media blocks.
std::string GeneratedStyleSheet(std::size_t targetBytes) {
  std::string sheet =
      "@charset \"utf-8\";\n@import url(\"base.css\");\n@import 'print.css' print;\n"
      "@font-face { font-family: Body; src: url(fonts/body.woff2) format(\"woff2\"), url('fonts/body.woff'); }\n";
  for (int i = 0; sheet.size() < targetBytes; ++i) {
    const std::string n = std::to_string(i);
    if (i % 10 == 0) sheet += "/* block " + n + ": components */\n";
    if (i % 50 == 0) sheet += "@media screen and (max-width: 600px) {\n";
    sheet += ".c" + n + " > a:hover, #id" + n + " .item" + n + "::before {\n  color: #" +
             std::to_string(100 + i % 800) +
             ";\n  margin: 0 auto 1em;\n  font: 12px/1.5 \"Helvetica Neue\", Arial, sans-serif;\n";
    if (i % 3 == 0) sheet += "  background: #fff url(../img/bg" + std::to_string(i % 300) + ".png) no-repeat 0 0;\n";
    if (i % 5 == 0) sheet += "  list-style-image: url( \"icons/i" + std::to_string(i % 40) + ".svg\" );\n";
    sheet += "  border: 1px solid rgba(0, 0, 0, .1);\n}\n";
    if (i % 50 == 49) sheet += "}\n";
  }
  return sheet + "}\n";
}

// What the pump hands to the style sheet parser: the lines of the file as the parsers read
// them, joined.
std::string SheetText(const std::string& path) {
  platform::LineReader reader;
  if (!reader.Open(path)) std::abort();
  std::string text, line;
  while (ReadLine(reader, line, *bench::Context().host)) text += line;
  return text;
}

void BM_ParseCss(benchmark::State& state, const PageCase& sheet) {
  bench::UseDefaultSettings();
  const std::string text = SheetText(sheet.path);
  std::size_t links = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<PageTable>(sheet);
    table->doc->UpdateLink(*table->result.pLink, [](CLinkInfo& link) { link.m_csMimeType = "text/css"; });
    std::string work = text;
    state.ResumeTiming();
    table->doc->ParseCss(table->result, work, 0);
    state.PauseTiming();
    links = table->result.pLink->GetLinksOutCount();
    table.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["links"] = static_cast<double>(links);
}

// The largest .html file of a folder, or "".
std::string LargestPage(const std::string& folder) {
  std::string best;
  std::uintmax_t bestSize = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".html") continue;
    if (entry.file_size() > bestSize) {
      bestSize = entry.file_size();
      best = entry.path().string();
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);

  std::vector<std::pair<std::string, PageCase>> pages;
  const std::string postgres = LargestPage("/usr/share/doc/postgresql-doc-15/html");
  if (!postgres.empty())
    pages.push_back({"postgres:" + std::filesystem::path(postgres).filename().string(),
                     {postgres, "http://127.0.0.1:8080/pg/" + std::filesystem::path(postgres).filename().string(),
                      "http://127.0.0.1:8080/pg/"}});
  const std::string apache = "/usr/share/doc/apache2-doc/manual/en/mod/core.html";
  if (bench::FileExists(apache))
    pages.push_back({"apache:core.html",
                     {apache, "http://127.0.0.1:8080/manual/en/mod/core.html", "http://127.0.0.1:8080/manual/"}});
  // A documentation set of large pages.
  const std::string python = "/usr/share/doc/python3.11/html/library/stdtypes.html";
  if (bench::FileExists(python))
    pages.push_back(
        {"python:stdtypes.html", {python, "http://127.0.0.1:8080/library/stdtypes.html", "http://127.0.0.1:8080/"}});
  static const bench::BodyFile generated(GeneratedPage(8'000'000));
  pages.push_back(
      {"generated:8MB", {generated.path, "http://www.example.com/docs/big.html", "http://www.example.com/"}});

  for (const auto& [name, page] : pages) {
    benchmark::RegisterBenchmark(("BM_ScanHtml/new/" + name).c_str(), BM_ScanHtmlNewLinks, page)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_ScanHtml/known/" + name).c_str(), BM_ScanHtmlKnownLinks, page)
        ->Unit(benchmark::kMillisecond);
  }

  std::vector<std::pair<std::string, PageCase>> sheets;
  const std::string apacheCss = "/usr/share/doc/apache2-doc/manual/style/css/manual.css";
  if (bench::FileExists(apacheCss))
    sheets.push_back(
        {"apache:manual.css",
         {apacheCss, "http://127.0.0.1:8080/manual/style/css/manual.css", "http://127.0.0.1:8080/manual/"}});
  static const bench::BodyFile generatedCss(GeneratedStyleSheet(4'000'000));
  sheets.push_back(
      {"generated:4MB", {generatedCss.path, "http://www.example.com/css/site.css", "http://www.example.com/"}});
  for (const auto& [name, sheet] : sheets)
    benchmark::RegisterBenchmark(("BM_ParseCss/" + name).c_str(), BM_ParseCss, sheet)->Unit(benchmark::kMillisecond);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
