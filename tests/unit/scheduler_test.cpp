#include <gtest/gtest.h>

#include <unistd.h>

#include "engine/Clock.h"
#include "engine/Fetch.h"
#include "engine/FetchWorker.h"
#include "engine/SimilarRecords.h"
#include "engine/TempFiles.h"
#include "engine/WexoDoc.h"
#include "unit/support/FakeWorkers.h"
#include "unit/support/ScriptedHost.h"

namespace {

class SchedulerTest : public ::testing::Test {
 protected:
  std::unique_ptr<CWexoDoc> NewDoc(int records, int threads) {
    auto doc = std::make_unique<CWexoDoc>(host.Context(workers.Launcher(), [this] { return now; }));
    view.rows.clear();
    view.Attach(*doc);
    ChangeSettings(*doc, [&](CheckSettings& s) { s.Threads = static_cast<std::int16_t>(threads); });
    doc->SetRootUrl("http://h/");
    for (int i = 0; i < records; ++i) doc->NewLink("http://h/" + std::to_string(i), nullptr, REQUEST_GET);
    doc->MarkRunning();
    return doc;
  }

  std::int64_t now = 1'000'000;
  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
  FakeWorkers workers;
};

TEST_F(SchedulerTest, SelectedThenVisibleThenRandom) {
  auto doc = NewDoc(10, 1);
  view.selectedRow = 7;
  view.topRow = 2;
  view.rowsPerPage = 2;  // rows 2 and 3 are visible
  std::vector<std::uint32_t> order;
  for (int tick = 0; tick < 10; ++tick) {
    doc->ScheduleFetches();
    ASSERT_EQ(workers.started.size(), 1u) << "one worker per tick with Threads 1";
    order.push_back(workers.started[0].pLink->m_nIndex);
    EXPECT_EQ(doc->GetActiveThreadCount(), 1);
    const FetchRequest r = std::move(workers.started[0]);
    workers.started.clear();
    FakeWorkers::Finish(*doc, r, 200);
    doc->ProcessFinishedFetches();
  }
  EXPECT_EQ(order[0], 7u);
  EXPECT_EQ(order[1], 2u);
  EXPECT_EQ(order[2], 3u);
  std::vector<std::uint32_t> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  for (std::uint32_t i = 0; i < 10; ++i) EXPECT_EQ(sorted[i], i) << "every record exactly once";
  EXPECT_EQ(doc->GetPendingCount(), 0);
}

TEST_F(SchedulerTest, SelectedRowAlreadyTriedIsNotPreferred) {
  int selectedFirst = 0;
  for (unsigned seed = 1; seed <= 20; ++seed) {
    auto doc = NewDoc(3, 1);
    doc->SeedRandom(seed);
    view.rowsPerPage = 0;
    view.selectedRow = 1;
    doc->UpdateLink(*doc->GetLink(1), [](CLinkInfo& l) { l.IncrementAttempts(); });
    workers.started.clear();
    doc->ScheduleFetches();
    ASSERT_EQ(workers.started.size(), 1u);
    selectedFirst += workers.started[0].pLink == doc->GetLink(1);
    for (const FetchRequest& r : workers.started) FakeWorkers::Finish(*doc, r, 200);
    view.rows.clear();
  }
  EXPECT_LT(selectedFirst, 20) << "a selected row that was tried waits for the random turns";
  EXPECT_GT(selectedFirst, 0) << "but the random turns may still choose it";
}

TEST_F(SchedulerTest, ThreadLimit) {
  for (int threads : {3, 1, 0, -4}) {
    auto doc = NewDoc(10, threads);
    workers.started.clear();
    doc->ScheduleFetches();
    EXPECT_EQ(workers.started.size(), static_cast<std::size_t>(threads < 1 ? 1 : threads)) << threads;
    doc->ScheduleFetches();
    EXPECT_EQ(workers.started.size(), static_cast<std::size_t>(threads < 1 ? 1 : threads)) << "limit reached";
    for (const FetchRequest& r : workers.started) {
      EXPECT_EQ(r.pLink->m_nStatus, -1);
      EXPECT_EQ(r.attempts, 1);
    }
    EXPECT_EQ(doc->Settings().Threads, threads) << "the stored value stays as read";
    for (const FetchRequest& r : workers.started) FakeWorkers::Finish(*doc, r, 200);
    view.rows.clear();
  }
}

TEST_F(SchedulerTest, WhileBodiesFillMemoryNewFetchesWaitForTheParser) {
  auto doc = NewDoc(4, 2);
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 2u);
  ASSERT_TRUE(TakeBodyBytes(kMemoryBodiesLimit));
  FakeWorkers::Finish(*doc, workers.started[0], 200);
  ASSERT_EQ(doc->WaitingResultCount(), 1u);
  doc->ScheduleFetches();
  EXPECT_EQ(workers.started.size(), 2u) << "a result waits: no new fetch";
  doc->ProcessFinishedFetches();
  doc->ScheduleFetches();
  EXPECT_EQ(workers.started.size(), 3u) << "nothing of this document waits: fetches go on, whatever holds the memory";
  GiveBackBodyBytes(kMemoryBodiesLimit);
  for (std::size_t i = 1; i < workers.started.size(); ++i) FakeWorkers::Finish(*doc, workers.started[i], 200);
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 4u);
  FakeWorkers::Finish(*doc, workers.started[3], 200);
  while (doc->WaitingResultCount() != 0) doc->ProcessFinishedFetches();
  doc->ScheduleFetches();
  EXPECT_TRUE(doc->IsFinished());
}

TEST_F(SchedulerTest, WorkerThatCannotStartLeavesRecordPending) {
  auto doc = NewDoc(2, 5);
  workers.refuse = true;
  doc->ScheduleFetches();
  EXPECT_EQ(doc->GetLink(0)->m_nStatus + doc->GetLink(1)->m_nStatus, 0);
  EXPECT_EQ(doc->GetActiveThreadCount(), 0);
  EXPECT_TRUE(doc->GetCrawl().IsIdle());
  EXPECT_FALSE(doc->IsFinished());
  workers.refuse = false;
  doc->ScheduleFetches();
  EXPECT_EQ(workers.started.size(), 2u);
}

TEST_F(SchedulerTest, EndTest) {
  auto doc = NewDoc(3, 5);
  ChangeSettings(*doc, [](CheckSettings& s) { s.MaxRetry = 0; });
  const CLinkInfo* inJar = doc->GetLink(2);
  doc->UpdateLink(*inJar, [](CLinkInfo& l) { l.m_bInJar = 1; });
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 2u) << "a record waiting for its .jar is never fetched";
  FakeWorkers::Finish(*doc, workers.started[0], 200);
  // The hand-over ran the pump only once no worker was left; one result stays queued.
  doc->ScheduleFetches();
  EXPECT_FALSE(doc->IsFinished());
  FakeWorkers::Finish(*doc, workers.started[1], 404);
  EXPECT_EQ(doc->WaitingResultCount(), 1u) << "the last hand-over pumps one result";
  doc->ScheduleFetches();
  EXPECT_FALSE(doc->IsFinished()) << "a queued result blocks the end";
  doc->ProcessFinishedFetches();
  EXPECT_FALSE(doc->WaitingResultCount() != 0);
  doc->ScheduleFetches();
  EXPECT_TRUE(doc->IsFinished());
  EXPECT_FALSE(doc->IsRunning());
  EXPECT_EQ(inJar->m_nStatus, 404);
  EXPECT_EQ(inJar->m_csStatusText, "class not found in .jar archive");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "Link tolvak finished. Do you want a report?");
  EXPECT_EQ(host.beeps, 1);
  // A finished check schedules nothing.
  doc->ScheduleFetches();
  EXPECT_EQ(host.boxes.size(), 1u);
}

TEST_F(SchedulerTest, TimeoutSweepPerDocument) {
  auto a = NewDoc(1, 1);
  auto b = NewDoc(1, 1);
  a->ScheduleFetches();
  b->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 2u);
  const CLinkInfo* la = workers.started[0].pLink;
  const CLinkInfo* lb = workers.started[1].pLink;
  la->m_hInternet = 0xdead0001;
  lb->m_hInternet = 0xdead0002;
  const std::int64_t start = now;
  view.schedulePosts = 0;
  now = start + 60;
  a->ProcessFinishedFetches();
  b->ProcessFinishedFetches();
  EXPECT_NE(la->m_hInternet, 0u);
  EXPECT_NE(lb->m_hInternet, 0u);
  EXPECT_EQ(view.schedulePosts, 2) << "each document posts once a second";
  now = start + 61;
  a->ProcessFinishedFetches();
  b->ProcessFinishedFetches();
  EXPECT_EQ(la->m_hInternet, 0u);
  EXPECT_EQ(lb->m_hInternet, 0u);
  EXPECT_EQ(view.schedulePosts, 4);
  a->ProcessFinishedFetches();
  EXPECT_EQ(view.schedulePosts, 4) << "no new second, no result: nothing posted";
}

TEST_F(SchedulerTest, LongPassHoldsResultsAndNewWorkers) {
  auto doc = NewDoc(3, 1);
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 1u);
  const CLinkInfo* running = workers.started[0].pLink;
  running->m_hInternet = 0xdead0003;
  {
    CLongPass pass(host.app);
    FakeWorkers::Finish(*doc, workers.started[0], 200);  // the last worker: the hand-over pumps
    EXPECT_EQ(doc->WaitingResultCount(), 1u) << "handed over, not parsed";
    EXPECT_EQ(doc->GetActiveThreadCount(), 0);
    doc->ScheduleFetches();
    EXPECT_EQ(workers.started.size(), 1u) << "no worker starts during the pass";
    doc->ProcessFinishedFetches();
    EXPECT_EQ(doc->WaitingResultCount(), 1u);
    EXPECT_FALSE(doc->IsFinished());
  }
  doc->ProcessFinishedFetches();
  EXPECT_EQ(doc->WaitingResultCount(), 0u);
  doc->ScheduleFetches();
  EXPECT_EQ(workers.started.size(), 2u);

  // The time-out sweep goes on during a pass.
  const CLinkInfo* slow = workers.started[1].pLink;
  slow->m_hInternet = 0xdead0004;
  CLongPass pass(host.app);
  now += 61;
  doc->ProcessFinishedFetches();
  EXPECT_EQ(slow->m_hInternet, 0u);
  EXPECT_NE(running, slow);
}

struct RetryCase {
  int maxRetry;
  std::int16_t status;
  bool paused;
  bool retried;
};

TEST_F(SchedulerTest, RetryRule) {
  const RetryCase cases[] = {
      {1, 404, false, true},    {0, 404, false, false},   {1, 404, true, false},       {1, 500, false, true},
      {1, 200, false, false},   {1, 401, false, false},   {1, 503, false, false},      {1, 504, false, false},
      {1, 12002, false, false}, {1, 12007, false, false}, {1, 12017, false, false},    {1, 12029, false, false},
      {1, 12030, false, false}, {1, 6, false, false},     {1, -3, false, false},       {1, -6, false, true},
      {1, 12031, false, true},  {-1, 404, false, false},  {-32768, 404, false, false},
  };
  for (const RetryCase& c : cases) {
    auto doc = NewDoc(1, 1);
    ChangeSettings(*doc, [&](CheckSettings& s) {
      s.MaxRetry = static_cast<std::int16_t>(c.maxRetry);
      s.FailSimilarHosts = 0;
    });
    doc->ScheduleFetches();
    ASSERT_EQ(workers.started.size(), 1u);
    doc->SetPaused(c.paused);
    FakeWorkers::Finish(*doc, workers.started[0], c.status, "x");
    const CLinkInfo* link = doc->GetLink(0);
    EXPECT_EQ(link->m_nStatus, c.retried ? 0 : c.status) << c.status << " retry " << c.maxRetry;
    if (c.retried) {
      // The second attempt is the last one with MaxRetry 1.
      doc->SetPaused(false);
      workers.started.clear();
      doc->ScheduleFetches();
      ASSERT_EQ(workers.started.size(), 1u);
      EXPECT_EQ(workers.started[0].attempts, 2);
      FakeWorkers::Finish(*doc, workers.started[0], c.status);
      EXPECT_EQ(link->m_nStatus, c.status);
    }
    workers.started.clear();
    view.rows.clear();
  }
}

TEST_F(SchedulerTest, FailSimilarHostKeepsOtherPortsAndSchemes) {
  auto doc = NewDoc(0, 1);
  const char* urls[] = {"http://h:8080/a",  "http://h:8080/b",    "http://h/c",
                        "https://h:8080/d", "http://h:8080/busy", "http://other:8080/e"};
  for (const char* u : urls) doc->NewLink(u, nullptr, REQUEST_GET);
  doc->SetStatus(doc->GetLink(4), -1);
  doc->FailSimilarHost("http://h:8080/x", 12007);
  EXPECT_EQ(doc->GetLink(0)->m_nStatus, 12007);
  EXPECT_EQ(doc->GetLink(1)->m_nStatus, 12007);
  EXPECT_EQ(doc->GetLink(1)->m_csStatusText, "");
  EXPECT_EQ(doc->GetLink(2)->m_nStatus, 0);
  EXPECT_EQ(doc->GetLink(3)->m_nStatus, 0);
  EXPECT_EQ(doc->GetLink(4)->m_nStatus, -1);
  EXPECT_EQ(doc->GetLink(5)->m_nStatus, 0);
  doc->FailSimilarHost("http://h/x", 12029);
  EXPECT_EQ(doc->GetLink(2)->m_nStatus, 12029);
  ChangeSettings(*doc, [](CheckSettings& s) { s.FailSimilarHosts = 0; });
  doc->FailSimilarHost("https://h:8080/x", 12029);
  EXPECT_EQ(doc->GetLink(3)->m_nStatus, 0);
}

TEST(HostPrefix, LiteralPrefixAgreesWithTheGeneralCase) {
  // Wherever the shortcut gives a prefix, it is the URL's own text and the prefix the general
  // case gives; where it gives none, the general case's prefix is still found.
  const char* schemes[] = {"http://", "https://", "ftp://", "HTTP://", "file://", "gopher://"};
  const char* authorities[] = {"h", "Host.EXAMPLE", "h:8080", "h:80", "u@h", "[::1]", "[::1]:81", "", "h:"};
  const char* rests[] = {"", "/", "/a/b", "?q", "#f", "/x?y#z", "//"};
  int literal = 0;
  for (const char* scheme : schemes)
    for (const char* authority : authorities)
      for (const char* rest : rests) {
        const std::string url = std::string(scheme) + authority + rest;
        const std::string whole = HostPrefixOf(url);
        const std::string_view fast = LiteralHostPrefix(url);
        if (!fast.empty()) {
          ++literal;
          EXPECT_EQ(fast, whole) << url;
        }
      }
  EXPECT_GT(literal, 10);
}

TEST_F(SchedulerTest, HostFailureOfAResultSpreads) {
  auto doc = NewDoc(0, 1);
  ChangeSettings(*doc, [](CheckSettings& s) { s.MaxRetry = 0; });
  const CLinkInfo* a = doc->NewLink("http://down/a", nullptr, REQUEST_GET);
  const CLinkInfo* b = doc->NewLink("http://down/b", nullptr, REQUEST_GET);
  const CLinkInfo* c = doc->NewLink("http://up/c", nullptr, REQUEST_GET);
  view.rows = {a, b, c};
  view.rowsPerPage = 0;
  view.selectedRow = 0;
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 1u);
  ASSERT_EQ(workers.started[0].pLink, a);
  FakeWorkers::Finish(*doc, workers.started[0], 12029);
  EXPECT_EQ(a->m_nStatus, 12029);
  EXPECT_EQ(b->m_nStatus, 12029);
  EXPECT_EQ(c->m_nStatus, 0);
  ChangeSettings(*doc, [](CheckSettings& s) { s.FailSimilarHosts = 0; });
  workers.started.clear();
  view.selectedRow = 2;
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 1u);
  FakeWorkers::Finish(*doc, workers.started[0], 12007);
  EXPECT_EQ(c->m_nStatus, 12007);
}

TEST_F(SchedulerTest, MailHostOkSpreadsToTheSameDomain) {
  auto doc = NewDoc(0, 1);
  ChangeSettings(*doc, [](CheckSettings& s) { s.MaxRetry = 0; });
  const CLinkInfo* checked = doc->NewLink("mailto:a@example.com", nullptr, REQUEST_GET);
  const CLinkInfo* pending = doc->NewLink("mailto:b@example.com", nullptr, REQUEST_GET);
  const CLinkInfo* failed = doc->NewLink("mailto:c@example.com", nullptr, REQUEST_GET);
  const CLinkInfo* otherCase = doc->NewLink("mailto:d@Example.com", nullptr, REQUEST_GET);
  const CLinkInfo* busy = doc->NewLink("mailto:e@example.com", nullptr, REQUEST_GET);
  const CLinkInfo* noAt = doc->NewLink("mailto:example.com", nullptr, REQUEST_GET);
  doc->SetStatus(failed, 12007);
  doc->SetStatus(busy, -1);
  view.selectedRow = 0;  // the checked address is fetched first
  doc->ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 1u);
  ASSERT_EQ(workers.started[0].pLink, checked);
  FakeWorkers::Finish(*doc, workers.started[0], STATUS_MAIL_HOST_OK);
  EXPECT_EQ(pending->m_nStatus, STATUS_MAIL_HOST_OK);
  EXPECT_EQ(failed->m_nStatus, STATUS_MAIL_HOST_OK);
  EXPECT_EQ(otherCase->m_nStatus, 0);
  EXPECT_EQ(busy->m_nStatus, -1);
  EXPECT_EQ(noAt->m_nStatus, 0);
}

TEST_F(SchedulerTest, ClosingADocumentRemovesTheBodiesOfQueuedResults) {
  std::string body, error;
  {
    auto doc = NewDoc(2, 2);
    doc->ScheduleFetches();
    ASSERT_EQ(workers.started.size(), 2u);
    ASSERT_TRUE(CreateUniqueTempFile(body, error)) << error;
    FetchResult result;
    result.pLink = workers.started[0].pLink;
    result.csUrl = workers.started[0].url;
    result.csBodyFile = body;
    result.bBodyIsTemp = true;
    result.outcome = std::make_unique<FetchOutcome>();
    result.outcome->status = 200;
    doc->OnUrlDone(result);  // queued: another worker still runs, so the pump has not parsed it
    ASSERT_EQ(doc->WaitingResultCount(), 1u);
    EXPECT_EQ(::access(body.c_str(), F_OK), 0);
  }
  EXPECT_NE(::access(body.c_str(), F_OK), 0);
}

// Workers queue their results in the document's hand-over without waiting: the next
// scheduler pass takes them before it counts free threads and waiting results, and the
// document that closes removes the bodies of those nobody took.
TEST_F(SchedulerTest, ResultsQueuedByWorkersCountAtTheNextPassAndGoWithTheDocument) {
  std::string body, error;
  {
    auto doc = NewDoc(6, 2);
    doc->ScheduleFetches();
    ASSERT_EQ(workers.started.size(), 2u);
    for (const FetchRequest& r : workers.started) {
      ASSERT_TRUE(r.handOver);
      r.handOver->PostUrlDone(std::make_unique<FetchResult>(FakeWorkers::Result(r, 200)));
    }
    EXPECT_EQ(doc->GetActiveThreadCount(), 2) << "not taken yet";
    doc->ScheduleFetches();
    EXPECT_EQ(workers.started.size(), 4u) << "both threads free again";
    EXPECT_EQ(workers.started[0].pLink->m_nStatus, 200) << "the outcome reached the record";
    host.RunPostedTasks();  // the hand-over's own task finds nothing left
    EXPECT_EQ(doc->GetActiveThreadCount(), 2);

    ASSERT_TRUE(CreateUniqueTempFile(body, error)) << error;
    auto result = std::make_unique<FetchResult>(FakeWorkers::Result(workers.started[2], 200));
    result->csBodyFile = body;
    result->bBodyIsTemp = true;
    workers.started[2].handOver->PostUrlDone(std::move(result));
    EXPECT_EQ(::access(body.c_str(), F_OK), 0);
  }
  EXPECT_NE(::access(body.c_str(), F_OK), 0);
}

}  // namespace
