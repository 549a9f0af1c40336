// The link list at 200,000 rows, on a display (run under xvfb-run): building every row,
// appending rows one record at a time as a check does, and scrolling to the end with the
// visible rows drawn.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include "bench/BenchSupport.h"
#include "engine/LinkInfo.h"
#include "engine/WexoDoc.h"
#include "ui/LinkList.h"

namespace {

constexpr std::size_t kRows = 200000;

struct Window {
  Window() {
    doc = bench::ListedTable(kRows);
    frame = new wxFrame(nullptr, wxID_ANY, "list", wxDefaultPosition, wxSize(1200, 800));
    list = new LinkListCtrl(frame, *doc);
    frame->Show();
    list->Update();
  }
  std::unique_ptr<CWexoDoc> doc;
  wxFrame* frame = nullptr;
  LinkListCtrl* list = nullptr;
};

Window& TheWindow() {
  static Window window;
  return window;
}

void BM_RebuildList(benchmark::State& state) {
  Window& w = TheWindow();
  for (auto _ : state) {
    w.list->RebuildList();
    w.list->Update();
  }
  state.counters["rows"] = static_cast<double>(w.list->GetItemCount());
}
BENCHMARK(BM_RebuildList)->Unit(benchmark::kMillisecond);

void BM_AppendRowsOneByOne(benchmark::State& state) {
  Window& w = TheWindow();
  for (auto _ : state) {
    state.PauseTiming();
    bench::ShowBrokenOnly(*w.doc, true);
    w.list->RebuildList();
    bench::ShowBrokenOnly(*w.doc, false);
    state.ResumeTiming();
    // Rows for the records that have none yet, one notice per record.
    for (std::size_t k = 0; k < kRows; ++k)
      if (!w.doc->GetLink(k)->IsBroken()) w.list->RecordsAdded(k, 1);
    w.list->Update();
  }
}
BENCHMARK(BM_AppendRowsOneByOne)->Unit(benchmark::kMillisecond);

void BM_ScrollToEndAndDraw(benchmark::State& state) {
  Window& w = TheWindow();
  w.list->RebuildList();
  long target = w.list->GetItemCount() - 1;
  for (auto _ : state) {
    w.list->EnsureVisible(target);
    w.list->Update();
    wxTheApp->Yield(true);
    target = target == 0 ? w.list->GetItemCount() - 1 : 0;
  }
}
BENCHMARK(BM_ScrollToEndAndDraw)->Unit(benchmark::kMillisecond);

void BM_SortByUrl(benchmark::State& state) {
  Window& w = TheWindow();
  for (auto _ : state) {
    w.list->SortByColumn(0);
    w.list->Update();
  }
}
BENCHMARK(BM_SortByUrl)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  wxApp::SetInstance(new wxApp);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  if (!wxEntryStart(wxArgc, wxArgv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "no display: run under xvfb-run\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TheWindow().frame->Destroy();
  wxEntryCleanup();
  return 0;
}
