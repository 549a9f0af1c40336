// Microbenchmarks of the page parsers on large and hostile pages: each must stay linear.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"

namespace {

const std::string kPage = "http://www.example.com/dir/page.html";

// A settings file of the benchmark's own, so the user's settings do not count.
struct BenchIni {
  BenchIni() {
    char dir[] = "/tmp/wexo-bench-XXXXXX";
    path = std::string(mkdtemp(dir)) + "/wexo.ini";
    platform::SetSettingsFile(path);
  }
  std::string path;
};

struct BodyFile {
  explicit BodyFile(const std::string& body) {
    char name[] = "/tmp/wexo-bench-body-XXXXXX";
    const int fd = mkstemp(name);
    path = name;
    (void)!::write(fd, body.data(), body.size());
    ::close(fd);
  }
  ~BodyFile() { ::unlink(path.c_str()); }
  std::string path;
};

void ScanOnce(const std::string& path) {
  CWexoDoc doc{bench::Context()};
  doc.SetRootUrl("http://www.example.com/");
  bench::ShowBrokenOnly(doc, true);
  const CLinkInfo* page = doc.NewLink(kPage, nullptr, REQUEST_GET);
  FetchResult result;
  result.pLink = page;
  result.csUrl = kPage;
  platform::LineReader reader;
  if (!reader.Open(path)) std::abort();
  doc.ScanHtml(result, reader);
  benchmark::DoNotOptimize(doc.GetLinkCount());
}

void Run(benchmark::State& state, const std::string& body) {
  static BenchIni ini;
  BodyFile file(body);
  for (auto _ : state) ScanOnce(file.path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void BM_OneLineManyAnchors(benchmark::State& state) {
  std::string line;
  for (int i = 0; line.size() < 2'000'000; ++i)
    line +=
        "<a href=\"p" + std::to_string(i % 20000) + ".html\">Page " + std::to_string(i) + "</a>" + std::string(70, ' ');
  Run(state, line + "\r\n");
}

void BM_UnclosedAnchors(benchmark::State& state) {
  std::string body;
  for (int i = 0; i < 20000; ++i) body += "<a href=\"q" + std::to_string(i) + ".html\">text\r\n";
  Run(state, body + "</a>\r\n");
}

void BM_LongStyleBlock(benchmark::State& state) {
  std::string body = "<style type=\"text/css\">\r\n";
  for (int i = 0; i < 50000; ++i)
    body += "/* rule " + std::to_string(i) + " */ .c" + std::to_string(i) + " { background: url(i" +
            std::to_string(i % 500) + ".png) }\r\n";
  Run(state, body + "</style>\r\n");
}

void BM_StrayLessThan(benchmark::State& state) {
  std::string body = "1 < 2\r\n";
  const std::string line = std::string(98, 't') + "\r\n";
  while (body.size() < 10'000'000) body += line;
  Run(state, body);
}

void BM_UnclosedComment(benchmark::State& state) {
  std::string body = "<!--\r\n";
  const std::string line = "- -> -- x " + std::string(88, 't') + "\r\n";
  while (body.size() < 10'000'000) body += line;
  Run(state, body);
}

void BM_UnclosedScript(benchmark::State& state) {
  std::string body = "<script>\r\n";
  const std::string line = "var a = '<a href=x.html>'; " + std::string(70, 't') + "\r\n";
  while (body.size() < 10'000'000) body += line;
  Run(state, body);
}

}  // namespace

BENCHMARK(BM_OneLineManyAnchors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnclosedAnchors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongStyleBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrayLessThan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnclosedComment)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnclosedScript)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
