// The link table alone: no document, no host, no display.
#include "engine/LinkTable.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Inet.h"
#include "platform/InetHandle.h"

namespace {

// Writes down every notice, in order.
struct Notices : IDocumentObserver {
  std::vector<std::string> seen;
  void RecordsAdded(std::size_t first, std::size_t count) override {
    seen.push_back("added " + std::to_string(first) + "+" + std::to_string(count));
  }
  void RecordChanged(const CLinkInfo& link) override { seen.push_back("changed " + std::to_string(link.m_nIndex)); }
  void TableReset() override { seen.push_back("reset"); }
  void StatusText(const std::string&) override {}
};

struct LinkTableTest : ::testing::Test {
  LinkTableTest() { table.SetObserver(&notices); }
  CLinkInfo* Add(const std::string& url, CLinkInfo* parent = nullptr) { return table.Add(url, parent, REQUEST_GET); }
  LinkTable table;
  Notices notices;
};

TEST_F(LinkTableTest, AddedRecordsAreFoundByUrlHostAndMailDomain) {
  CLinkInfo* root = Add("http://h/");
  CLinkInfo* page = Add("http://h/a.html", root);
  Add("http://other/x", page);
  Add("mailto:me@mail.test", page);
  EXPECT_EQ(notices.seen, (std::vector<std::string>{"added 0+1", "added 1+1", "added 2+1", "added 3+1"}));
  ASSERT_EQ(table.GetLinkCount(), 4u);
  EXPECT_EQ(table.FindLink("http://h/a.html"), page);
  EXPECT_EQ(table.FindLink("http://h/missing"), nullptr);
  EXPECT_EQ(table.GetUrl(2), "http://other/x");
  EXPECT_EQ(page->m_nLevel, 1);
  EXPECT_EQ(table.GetLink(2)->m_nLevel, 2);
  ASSERT_NE(table.RecordsOfHost("http://h/"), nullptr);
  EXPECT_EQ(*table.RecordsOfHost("http://h/"), (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(table.RecordsOfHost("http://none/"), nullptr);
  ASSERT_NE(table.RecordsOfMailDomain("mail.test"), nullptr);
  EXPECT_EQ(*table.RecordsOfMailDomain("mail.test"), (std::vector<std::uint32_t>{3}));
  EXPECT_EQ(table.RecordsOfMailDomain(""), nullptr);
  EXPECT_EQ(table.GetPendingCount(), 4);
  EXPECT_EQ(table.GetFinishedCount(), 0);
  EXPECT_TRUE(table.IsModified());
}

TEST_F(LinkTableTest, StatusChangesMoveTheCountsAndTellTheObserver) {
  struct Step {
    std::int16_t code;
    std::int32_t pending, finished;
  };
  CLinkInfo* link = Add("http://h/");
  Add("http://h/b");
  const Step steps[] = {
      {STATUS_BUSY, 2, 0}, {200, 1, 1}, {404, 1, 1}, {STATUS_PENDING, 2, 0}, {STATUS_SKIP_EXTERNAL, 1, 1}};
  std::int16_t before = STATUS_PENDING;
  for (const Step& s : steps) {
    notices.seen.clear();
    table.SetModifiedFlag(false);
    EXPECT_EQ(table.SetStatus(*link, s.code, "t"), before);
    before = s.code;
    EXPECT_EQ(table.GetPendingCount(), s.pending) << s.code;
    EXPECT_EQ(table.GetFinishedCount(), s.finished) << s.code;
    EXPECT_EQ(notices.seen, std::vector<std::string>{"changed 0"});
    EXPECT_TRUE(table.IsModified());
  }
}

// A status set while a worker runs (by the table's owner, on another record's account) leaves
// the worker's session in the record: the stop command and the time-out can still take it
// and close it, and nobody else drops it unclosed.
TEST_F(LinkTableTest, StatusChangesLeaveTheRunningSessionToWhoeverTakesIt) {
  CLinkInfo* link = Add("http://h/");
  platform::CInternetSession session("test");
  const platform::HINTERNET handle = session.GetHandle();
  ASSERT_NE(handle, 0u);
  table.SetStatus(*link, STATUS_BUSY, "");
  link->m_hInternet = handle;
  const int codes[] = {404, 12017, 12029, STATUS_SKIP_EXTERNAL, STATUS_USER_SKIP, STATUS_PENDING, 200, STATUS_BUSY};
  for (int code : codes) {
    table.SetStatus(*link, static_cast<std::int16_t>(code), "");
    EXPECT_EQ(link->m_hInternet, handle) << code;
  }
  table.Reset(*link);
  EXPECT_EQ(link->m_hInternet, handle);
  EXPECT_FALSE(session.IsCancelled());
  // The one who takes it closes it, once.
  const platform::HINTERNET taken = link->TakeInternetHandle();
  EXPECT_EQ(taken, handle);
  EXPECT_EQ(link->TakeInternetHandle(), 0u);
  EXPECT_TRUE(platform::InternetCloseHandle(taken));
  EXPECT_TRUE(session.IsCancelled());
}

TEST_F(LinkTableTest, TextsLoseTheirBreaksAndResetClearsTheFetchedData) {
  CLinkInfo* link = Add("http://h/");
  table.SetStatus(*link, 200, "ok\r\n");
  EXPECT_EQ(link->m_csStatusText, "ok  ");
  notices.seen.clear();
  table.SetStatusText(*link, "cut\there");
  EXPECT_EQ(link->m_csStatusText, "cut here");
  EXPECT_EQ(link->m_nStatus, 200);
  EXPECT_EQ(table.GetFinishedCount(), 1);
  EXPECT_EQ(notices.seen, std::vector<std::string>{"changed 0"});

  link->m_csMimeType = "text/html";
  link->m_nSize = 10;
  link->m_bDateKnown = 1;
  link->m_csTitle = "kept";
  EXPECT_EQ(table.Reset(*link), 200);
  EXPECT_EQ(link->m_nStatus, STATUS_PENDING);
  EXPECT_EQ(link->m_csMimeType, "");
  EXPECT_EQ(link->m_nSize, 0);
  EXPECT_EQ(link->m_bDateKnown, 0);
  EXPECT_EQ(link->m_csTitle, "kept");
  EXPECT_EQ(table.GetPendingCount(), 1);
}

TEST_F(LinkTableTest, ReferrersAreKeptOncePerPageAndLowerTheDepth) {
  CLinkInfo* root = Add("http://h/");
  CLinkInfo* a = Add("http://h/a", root);
  CLinkInfo* b = Add("http://h/b", a);
  CLinkInfo* c = Add("http://h/c", b);
  ASSERT_EQ(c->m_nLevel, 3);
  table.AddReferrer(*c, *root);
  table.AddReferrer(*c, *root);
  table.AddReferrer(*a, *b);  // a deeper page leaves the depth
  EXPECT_EQ(c->m_dwaReferrers, (std::vector<std::uint32_t>{2, 0}));
  EXPECT_EQ(c->m_nLevel, 1);
  EXPECT_EQ(a->m_nLevel, 1);
  std::vector<std::string> referrers;
  for (const std::string& url : table.GetReferrerUrls(*c)) referrers.push_back(url);
  EXPECT_EQ(referrers, (std::vector<std::string>{"http://h/b", "http://h/"}));
  EXPECT_EQ(table.GetTargets(*root), (std::vector<std::uint32_t>{1, 3}));
  // Targets come in table order, whatever order they were found in.
  EXPECT_EQ(table.GetLinkedUrlsText(*b), "http://h/a\r\nhttp://h/c\r\n");
}

TEST_F(LinkTableTest, RestoreRebuildsMapIndexesTargetsAndCounts) {
  std::vector<std::string> urls = {"http://h/", "http://h/a", "mailto:x@m.test"};
  std::vector<std::unique_ptr<CLinkInfo>> links;
  for (std::uint32_t i = 0; i < urls.size(); ++i) {
    links.push_back(std::make_unique<CLinkInfo>());
    links.back()->m_nIndex = i;
    if (i > 0) links.back()->m_dwaReferrers = {0};
  }
  links[1]->m_nStatus = 404;
  table.Restore(std::move(urls), std::move(links));
  EXPECT_EQ(table.FindLink("http://h/a"), table.GetLink(1));
  EXPECT_EQ(table.GetTargets(*table.GetLink(0)), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(*table.RecordsOfHost("http://h/"), (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(*table.RecordsOfMailDomain("m.test"), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(table.GetPendingCount(), 2);
  EXPECT_EQ(table.GetFinishedCount(), 1);
  EXPECT_TRUE(notices.seen.empty());
}

}  // namespace

namespace {

TEST_F(LinkTableTest, RecordsReadTheirUrlsFromTheTable) {
  // No document holds this table: a record's URL is the table's.
  CLinkInfo* root = Add("http://h/");
  EXPECT_EQ(Add("http://h/a", root)->GetUrl(), "http://h/a");
  std::vector<std::string> urls = {"http://r/", "http://r/b"};
  std::vector<std::unique_ptr<CLinkInfo>> links;
  for (std::uint32_t i = 0; i < urls.size(); ++i) {
    links.push_back(std::make_unique<CLinkInfo>());
    links.back()->m_nIndex = i;
  }
  LinkTable restored;
  restored.Restore(std::move(urls), std::move(links));
  EXPECT_EQ(restored.GetLink(1)->GetUrl(), "http://r/b");
  EXPECT_EQ(restored.GetLink(1)->m_pTable, &restored);
}

}  // namespace
