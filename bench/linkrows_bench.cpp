// The list's rows at 200,000 records, without a display: appending rows one notice at a time
// as a check does, a batch of wanted rows merged into a broken-only list, a rebuild, and the
// sorts of a click on a column.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/BenchSupport.h"
#include "engine/WexoDoc.h"
#include "ui/rows/LinkRows.h"

namespace {

constexpr std::size_t kRecords = 200000;

struct Table {
  Table() : doc(bench::ListedTable(kRecords)), rows(std::make_unique<LinkRows>(doc->Table())) {}
  void ShowBrokenOnly(bool on) { bench::ShowBrokenOnly(*doc, on); }
  std::unique_ptr<CWexoDoc> doc;
  std::unique_ptr<LinkRows> rows;
};

Table& TheTable() {
  static Table table;
  return table;
}

void BM_RebuildRows(benchmark::State& state) {
  Table& t = TheTable();
  for (auto _ : state) t.rows->Rebuild(false);
  state.counters["rows"] = static_cast<double>(t.rows->Count());
}
BENCHMARK(BM_RebuildRows)->Unit(benchmark::kMillisecond);

void BM_RowsAddedOneByOne(benchmark::State& state) {
  Table& t = TheTable();
  for (auto _ : state) {
    t.rows->Clear();
    for (std::size_t k = 1; k < kRecords; ++k) t.rows->RecordsAdded(k, 1, false);
  }
  state.counters["rows"] = static_cast<double>(t.rows->Count());
}
BENCHMARK(BM_RowsAddedOneByOne)->Unit(benchmark::kMillisecond);

void BM_WantedRowsInOneBatch(benchmark::State& state) {
  Table& t = TheTable();
  for (auto _ : state) {
    state.PauseTiming();
    t.ShowBrokenOnly(true);
    t.rows->Rebuild(false);
    state.ResumeTiming();
    // Every pending record wants its row, as when a failed host fails them at once.
    for (std::size_t k = 0; k < kRecords; k += 7) t.rows->WantRow(*t.doc->GetLink(k));
    t.rows->InsertWanted();
  }
  t.ShowBrokenOnly(false);
  state.counters["rows"] = static_cast<double>(t.rows->Count());
}
BENCHMARK(BM_WantedRowsInOneBatch)->Unit(benchmark::kMillisecond);

// Column 0 (address), 1 (status text, then address) and 4 (title).
void BM_SortByColumn(benchmark::State& state) {
  Table& t = TheTable();
  t.rows->Rebuild(false);
  for (auto _ : state) t.rows->SortByColumn(static_cast<int>(state.range(0)));
}
BENCHMARK(BM_SortByColumn)->Arg(0)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
