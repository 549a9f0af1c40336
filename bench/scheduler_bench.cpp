// The cost of one scheduler tick and one pump pass as the table grows: with the pending index
// and the counters, a tick costs what it starts, not the size of the table.
#include <benchmark/benchmark.h>

#include <deque>

#include "engine/Fetch.h"
#include "engine/FetchWorker.h"
#include "engine/WexoDoc.h"
#include "unit/support/ScriptedHost.h"

namespace {

// A crawl through a fake worker: every started fetch is handed back at once as a 404 (no body,
// no retry), so each round of the loop is one tick plus one pump pass.
void BM_TickAndPump(benchmark::State& state) {
  TempIni ini;
  ini.Set("Options", "MaxRetry", "0");
  ScriptedHost host;
  ScriptedView view;
  view.rowsPerPage = 0;
  std::deque<FetchRequest> started;
  CWexoDoc doc{host.Context([&](FetchRequest&& r) {
    started.push_back(std::move(r));
    return true;
  })};
  view.Attach(doc);
  doc.SetRootUrl("http://h/");
  doc.MarkRunning();
  const auto records = static_cast<std::size_t>(state.range(0));
  for (std::size_t i = 0; i < records; ++i) doc.NewLink("http://h/p" + std::to_string(i), nullptr, REQUEST_GET);
  std::size_t handled = 0;
  for (auto _ : state) {
    doc.ScheduleFetches();
    if (started.empty()) {
      state.SkipWithError("table exhausted");
      break;
    }
    FetchRequest r = std::move(started.front());
    started.pop_front();
    FetchResult result;
    result.pLink = r.pLink;
    result.csUrl = r.url;
    result.outcome = std::make_unique<FetchOutcome>();
    result.outcome->status = 404;
    doc.OnUrlDone(result);
    doc.ProcessFinishedFetches();
    ++handled;
  }
  state.counters["records"] = static_cast<double>(records);
  state.SetItemsProcessed(static_cast<std::int64_t>(handled));
}

}  // namespace

BENCHMARK(BM_TickAndPump)->Arg(2000)->Arg(20000)->Arg(200000)->Iterations(1500);
BENCHMARK_MAIN();
