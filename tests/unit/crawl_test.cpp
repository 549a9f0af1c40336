// The crawl on its own: a table, fake workers that keep their requests and a clock the test
// sets; no document, no toolkit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/Charset.h"
#include "engine/Crawl.h"
#include "engine/Host.h"
#include "engine/LinkTable.h"
#include "engine/PageIntake.h"
#include "unit/support/FakeWorkers.h"

namespace {

// The rows a list would prefer: a selected record and the visible ones.
class FakeRows : public IPreferredRows {
 public:
  const CLinkInfo* SelectedRecord() override { return selected; }
  void VisibleRecords(std::vector<const CLinkInfo*>& out) override {
    out.insert(out.end(), visible.begin(), visible.end());
  }
  const CLinkInfo* selected = nullptr;
  std::vector<const CLinkInfo*> visible;
};

class CrawlTest : public ::testing::Test {
 protected:
  const CLinkInfo* Add(const std::string& url) {
    const CLinkInfo* link = table.Add(url, nullptr, REQUEST_GET);
    crawl.NotePending(*link);
    return link;
  }
  void AddRecords(int count) {
    for (int i = 0; i < count; ++i) Add("http://h/" + std::to_string(i));
  }
  bool Tick(int threads, IPreferredRows* preferred = nullptr) {
    FetchContext context;
    context.rootUrl = "http://h/";
    return crawl.Tick(preferred, threads, false, context);
  }
  // Hands r's result over with status, as the document does: the outcome reaches the record.
  void HandOver(const FetchRequest& r, std::int16_t status) {
    FetchResult& queued = crawl.HandOver(FakeWorkers::Result(r, status));
    crawl.SetStatus(*queued.pLink, status);
  }
  // One pump turn; the parsed results' URLs are appended to parsed.
  bool Pump(bool hold = false) {
    FetchResult* result = crawl.BeginResult(hold);
    if (result) {
      parsed.push_back(result->csUrl);
      crawl.FinishResult();
    }
    return crawl.EndTurn(60, result != nullptr);
  }

  std::int64_t now = 1'000'000;
  FakeWorkers workers;
  LinkTable table;
  Crawl crawl{table, workers.Launcher(), [this] { return now; }};
  std::vector<std::string> parsed;
};

TEST_F(CrawlTest, RequestsCarryTheContextAndWhatThePageIntakeAssumes) {
  const CLinkInfo* page = Add("http://h/");
  const CLinkInfo* child = table.Add("http://h/child", table.Mutable(*page), REQUEST_GET);
  crawl.NotePending(*child);
  table.Mutable(*child)->SetCharsetInfo(InternCharset("iso-8859-1"));
  FetchContext context;
  context.rootUrl = "http://h/";
  context.settings.MaxLevel = 7;
  auto rules = std::make_shared<LinkRules>();
  context.linkRules = rules;
  crawl.MarkRunning();
  crawl.Tick(nullptr, 5, false, context);
  ASSERT_EQ(workers.started.size(), 2u);
  for (const FetchRequest& r : workers.started) {
    EXPECT_EQ(r.linkRules, rules);
    EXPECT_EQ(r.settings.MaxLevel, 7);
    EXPECT_EQ(r.level, r.pLink->m_nLevel);
    EXPECT_EQ(r.charset, r.pLink->GetCharset());
  }
  EXPECT_NE(child->GetCharset(), nullptr);
}

TEST_F(CrawlTest, SelectedThenVisibleThenEveryPendingRecordOnce) {
  AddRecords(10);
  FakeRows rows;
  rows.selected = table.GetLink(7);
  rows.visible = {table.GetLink(2), table.GetLink(7), table.GetLink(3)};
  crawl.MarkRunning();
  EXPECT_FALSE(Tick(100, &rows));
  ASSERT_EQ(workers.started.size(), 10u);
  std::vector<std::uint32_t> order;
  for (const FetchRequest& r : workers.started) order.push_back(r.pLink->m_nIndex);
  EXPECT_EQ(order[0], 7u);
  EXPECT_EQ(order[1], 2u);
  EXPECT_EQ(order[2], 3u);
  std::sort(order.begin(), order.end());
  for (std::uint32_t i = 0; i < 10; ++i) EXPECT_EQ(order[i], i) << "every record exactly once";
  for (const FetchRequest& r : workers.started) {
    EXPECT_EQ(r.pLink->m_nStatus, STATUS_BUSY);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.rootUrl, "http://h/") << "the owner's part of the request";
    EXPECT_EQ(r.url, table.GetUrl(r.pLink->m_nIndex));
    EXPECT_EQ(r.pLink->m_hThread, r.thread);
  }
}

TEST_F(CrawlTest, SameSeedSamePicks) {
  const auto picks = [](unsigned seed) {
    FakeWorkers w;
    LinkTable t;
    Crawl c{t, w.Launcher(), [] { return std::int64_t{0}; }};
    for (int i = 0; i < 50; ++i) c.NotePending(*t.Add("http://h/" + std::to_string(i), nullptr, REQUEST_GET));
    c.SeedRandom(seed);
    c.MarkRunning();
    c.Tick(nullptr, 50, false, FetchContext());
    std::vector<std::uint32_t> order;
    for (const FetchRequest& r : w.started) order.push_back(r.pLink->m_nIndex);
    return order;
  };
  EXPECT_EQ(picks(3), picks(3));
  EXPECT_NE(picks(3), picks(4));
}

TEST_F(CrawlTest, ThreadLimitAndWhatHoldsATick) {
  const struct {
    int threads;
    std::size_t started;
  } cases[] = {{3, 3}, {1, 1}, {0, 1}, {-4, 1}};
  for (const auto& c : cases) {
    FakeWorkers w;
    LinkTable t;
    Crawl crawl2{t, w.Launcher(), [] { return std::int64_t{0}; }};
    for (int i = 0; i < 10; ++i) crawl2.NotePending(*t.Add("http://h/" + std::to_string(i), nullptr, REQUEST_GET));
    crawl2.MarkFinished();
    EXPECT_FALSE(crawl2.Tick(nullptr, c.threads, false, FetchContext()));
    EXPECT_TRUE(w.started.empty()) << "finished";
    crawl2.MarkRunning();
    EXPECT_FALSE(crawl2.Tick(nullptr, c.threads, true, FetchContext()));
    EXPECT_TRUE(w.started.empty()) << "held by a long pass";
    crawl2.SetPaused(true);
    EXPECT_FALSE(crawl2.Tick(nullptr, c.threads, false, FetchContext()));
    EXPECT_TRUE(w.started.empty()) << "paused";
    crawl2.SetPaused(false);
    crawl2.Tick(nullptr, c.threads, false, FetchContext());
    crawl2.Tick(nullptr, c.threads, false, FetchContext());
    EXPECT_EQ(w.started.size(), c.started) << c.threads;
    EXPECT_EQ(crawl2.GetActiveThreadCount(), static_cast<int>(c.started));
  }
}

TEST_F(CrawlTest, LaunchFailureLeavesTheRecordPending) {
  AddRecords(2);
  int told = 0;
  crawl.SetWorkerCountListener([&told](int) { ++told; });
  crawl.MarkRunning();
  workers.refuse = true;
  EXPECT_FALSE(Tick(5)) << "a record that could not start is still left";
  EXPECT_EQ(table.GetLink(0)->m_nStatus + table.GetLink(1)->m_nStatus, 0);
  EXPECT_TRUE(crawl.IsIdle());
  EXPECT_FALSE(table.GetLink(0)->m_hThread || table.GetLink(1)->m_hThread);
  EXPECT_EQ(told, 0);
  workers.refuse = false;
  Tick(5);
  EXPECT_EQ(workers.started.size(), 2u);
  EXPECT_EQ(told, 2) << "told once per started worker";
}

TEST_F(CrawlTest, HandOverQueuesAndThePumpParsesOneResultPerTurnOldestFirst) {
  AddRecords(3);
  crawl.MarkRunning();
  Tick(3);
  ASSERT_EQ(workers.started.size(), 3u);
  for (int i : {2, 0, 1}) HandOver(workers.started[i], 200);
  EXPECT_EQ(crawl.WaitingResultCount(), 3u);
  EXPECT_EQ(crawl.GetActiveThreadCount(), 0);
  EXPECT_FALSE(Tick(3)) << "waiting results keep the check going";
  for (const FetchRequest& r : workers.started) EXPECT_TRUE(crawl.IsActive(*r.pLink));
  EXPECT_TRUE(Pump(true)) << "a new second: a tick is due";
  EXPECT_TRUE(parsed.empty()) << "results are held";
  EXPECT_FALSE(Pump(true)) << "held, the same second: nothing to do";
  EXPECT_TRUE(Pump());
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_FALSE(crawl.IsActive(*workers.started[2].pLink));
  EXPECT_FALSE(workers.started[2].pLink->m_hThread);
  EXPECT_TRUE(crawl.IsActive(*workers.started[0].pLink));
  while (crawl.WaitingResultCount() != 0) Pump();
  EXPECT_EQ(parsed, (std::vector<std::string>{workers.started[2].url, workers.started[0].url, workers.started[1].url}));
  EXPECT_TRUE(crawl.IsIdle());
  EXPECT_TRUE(Tick(3)) << "nothing left";
}

// Workers do not wait for the parser, so the results waiting for it are bounded apart from
// the threads: two per thread, then new workers wait for the pump.
TEST_F(CrawlTest, WaitingResultsHoldNewWorkersAtTwoPerThread) {
  AddRecords(8);
  crawl.MarkRunning();
  Tick(2);
  for (std::size_t round = 1; round <= 2; ++round) {
    ASSERT_EQ(workers.started.size(), 2 * round);
    for (std::size_t i = 2 * round - 2; i < 2 * round; ++i) HandOver(workers.started[i], 200);
    EXPECT_FALSE(Tick(2));
  }
  EXPECT_EQ(crawl.WaitingResultCount(), 4u);
  EXPECT_EQ(workers.started.size(), 4u) << "four results wait: nothing starts";
  EXPECT_EQ(crawl.GetActiveThreadCount(), 0);
  Pump();
  EXPECT_FALSE(Tick(2));
  EXPECT_EQ(workers.started.size(), 6u) << "below the bound again";
}

// A parse may pump events, and with them another turn: that turn takes no result and sweeps
// nothing, so results stay in order and the one being parsed stays queued until it is done.
TEST_F(CrawlTest, ATurnAskedForDuringAParseDoesNothing) {
  AddRecords(2);
  crawl.MarkRunning();
  Tick(2);
  ASSERT_EQ(workers.started.size(), 2u);
  HandOver(workers.started[0], 200);
  HandOver(workers.started[1], 200);
  FetchResult* first = crawl.BeginResult(false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->csUrl, workers.started[0].url);
  now += 100;
  EXPECT_EQ(crawl.BeginResult(false), nullptr);
  EXPECT_FALSE(crawl.EndTurn(60, false)) << "a new second, but inside a parse";
  EXPECT_EQ(crawl.WaitingResultCount(), 2u);
  EXPECT_FALSE(Tick(2)) << "the result being parsed keeps the check going";
  crawl.FinishResult();
  EXPECT_TRUE(crawl.EndTurn(60, true));
  EXPECT_TRUE(Pump());
  EXPECT_EQ(parsed, std::vector<std::string>{workers.started[1].url});
  EXPECT_TRUE(Tick(2));
}

TEST_F(CrawlTest, TimeoutSweepOnceANewSecondBegan) {
  AddRecords(2);
  crawl.MarkRunning();
  Tick(1);
  ASSERT_EQ(workers.started.size(), 1u);
  const CLinkInfo* slow = workers.started[0].pLink;
  now += 5;
  Tick(2);
  ASSERT_EQ(workers.started.size(), 2u);
  const CLinkInfo* young = workers.started[1].pLink;
  // Handles that are no real sessions: closing them is harmless.
  slow->m_hInternet = 0xdead0001;
  young->m_hInternet = 0xdead0002;
  now += 60;  // slow has run 65 seconds, young 60
  EXPECT_TRUE(Pump());
  EXPECT_EQ(slow->m_hInternet, 0u);
  EXPECT_NE(young->m_hInternet, 0u);
  now += 1;
  EXPECT_TRUE(Pump());
  EXPECT_EQ(young->m_hInternet, 0u);
  EXPECT_FALSE(Pump()) << "no new second, no result";
}

TEST_F(CrawlTest, ElapsedCountsEveryRunAndTheRunningOne) {
  AddRecords(3);
  crawl.SetElapsedSeconds(7);  // earlier runs, as a document file gives them
  crawl.MarkRunning();
  Tick(1);
  now += 10;
  EXPECT_EQ(crawl.GetElapsedSeconds(), 17);
  HandOver(workers.started[0], 200);
  Pump();
  now += 100;  // idle time does not count
  EXPECT_EQ(crawl.GetElapsedSeconds(), 17);
  Tick(2);
  ASSERT_EQ(workers.started.size(), 3u);
  now += 4;
  HandOver(workers.started[1], 200);
  EXPECT_EQ(crawl.GetElapsedSeconds(), 21) << "one worker still runs";
  now += 2;
  HandOver(workers.started[2], 200);
  EXPECT_EQ(crawl.GetElapsedSeconds(), 23);
  now += 50;
  EXPECT_EQ(crawl.GetElapsedSeconds(), 23);
}

TEST_F(CrawlTest, ActiveListKeepsStartOrderThroughRemovals) {
  AddRecords(300);
  LinkTable otherTable;
  FakeWorkers otherWorkers;
  Crawl other{otherTable, otherWorkers.Launcher(), [] { return std::int64_t{0}; }};
  const CLinkInfo* stranger = otherTable.Add("http://h/stranger", nullptr, REQUEST_GET);
  other.NotePending(*stranger);
  other.MarkRunning();
  other.Tick(nullptr, 1, false, FetchContext());
  ASSERT_TRUE(other.IsActive(*stranger));
  EXPECT_FALSE(crawl.IsActive(*stranger)) << "another crawl's record, whatever its slot";

  crawl.MarkRunning();
  Tick(300);
  ASSERT_EQ(workers.started.size(), 300u);
  // Removals from the front, the middle and the end, enough to close up the list on the way.
  std::vector<const CLinkInfo*> kept;
  for (std::size_t i = 0; i < 300; ++i) {
    if (i % 7 == 3 || i == 298) {
      kept.push_back(workers.started[i].pLink);
      continue;
    }
    HandOver(workers.started[i], 200);
    Pump();
  }
  std::vector<const CLinkInfo*> active;
  crawl.ForEachActive([&active](const CLinkInfo& link) { active.push_back(&link); });
  EXPECT_EQ(active, kept);
  for (std::size_t i = 0; i < 300; ++i)
    EXPECT_EQ(crawl.IsActive(*workers.started[i].pLink), i % 7 == 3 || i == 298) << i;
  // Started again after its removal, a record goes to the end.
  const CLinkInfo* again = workers.started[0].pLink;
  crawl.SetStatus(*again, STATUS_PENDING);
  Tick(300);
  ASSERT_EQ(workers.started.size(), 301u);
  ASSERT_EQ(workers.started.back().pLink, again);
  active.clear();
  crawl.ForEachActive([&active](const CLinkInfo& link) { active.push_back(&link); });
  ASSERT_FALSE(active.empty());
  EXPECT_EQ(active.back(), again);
  EXPECT_EQ(active.size(), kept.size() + 1);
}

TEST_F(CrawlTest, RequeueAuthRequiredSameServerOnly) {
  for (const char* url : {"http://h:81/a", "http://h:81/b", "http://h/c", "http://h:81/d"}) Add(url);
  // The worker of b has handed over its 401, which waits for the pump.
  FakeRows rows;
  rows.selected = table.GetLink(1);
  crawl.MarkRunning();
  Tick(1, &rows);
  ASSERT_EQ(workers.started.size(), 1u);
  HandOver(workers.started[0], 401);
  crawl.SetStatus(*table.GetLink(0), 401);
  crawl.SetStatus(*table.GetLink(2), 401);
  crawl.SetStatus(*table.GetLink(3), 404);
  crawl.RequeueAuthRequired("http://h:81/x");
  EXPECT_EQ(table.GetLink(0)->m_nStatus, 0);
  EXPECT_EQ(table.GetLink(1)->m_nStatus, 401) << "not handed over to the pump yet";
  EXPECT_EQ(table.GetLink(2)->m_nStatus, 401) << "another port";
  EXPECT_EQ(table.GetLink(3)->m_nStatus, 404);
}

TEST_F(CrawlTest, FailSimilarHostAndTheRequeuePasses) {
  for (const char* url : {"http://h/a", "http://h/b", "http://h:8080/c", "http://x/d"}) Add(url);
  crawl.SetStatus(*table.GetLink(1), 404);
  std::vector<const CLinkInfo*> failed;
  crawl.FailSimilarHost("http://h/z", 12029, [&failed](const CLinkInfo& link) { failed.push_back(&link); });
  EXPECT_EQ(failed, std::vector<const CLinkInfo*>{table.GetLink(0)}) << "only the server's pending records";
  EXPECT_EQ(table.GetLink(0)->m_nStatus, 12029);
  EXPECT_EQ(table.GetLink(1)->m_nStatus, 404);

  crawl.SkipPendingOutside([](const std::string& url) { return url.starts_with("http://x/"); });
  EXPECT_EQ(table.GetLink(3)->m_nStatus, STATUS_SKIP_EXTERNAL);
  EXPECT_EQ(table.GetLink(2)->m_nStatus, 0);
  crawl.SetStatus(*table.GetLink(2), 200);
  EXPECT_TRUE(crawl.RequeueSkippedExternal());
  EXPECT_EQ(table.GetLink(3)->m_nStatus, 0);
  EXPECT_TRUE(crawl.RequeueBroken());
  EXPECT_EQ(table.GetLink(0)->m_nStatus, 0);
  EXPECT_EQ(table.GetLink(1)->m_nStatus, 0);
  EXPECT_EQ(table.GetLink(2)->m_nStatus, 200);
  crawl.MarkRunning();
  Tick(10);
  EXPECT_EQ(workers.started.size(), 3u) << "the records sent back are in the pending index again";
}

}  // namespace
