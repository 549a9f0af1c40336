// The list's rows without the toolkit, fed by a real table's notices: table order with the
// roots on top, every column's sort both ways, the broken-only filter with its batch of wanted
// rows, and the selection kept on its record. Every check of the rows also checks the
// record-to-row index.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/Charset.h"
#include "engine/LinkInfo.h"
#include "engine/LinkTable.h"
#include "engine/WexoDoc.h"
#include "ui/rows/LinkRows.h"
#include "unit/support/ScriptedHost.h"

namespace {

using Paths = std::vector<std::string>;

// Passes the table's notices on to the rows, as the list view does.
class RowsObserver : public IDocumentObserver {
 public:
  RowsObserver(const CWexoDoc& doc, LinkRows& rows) : m_doc(doc), m_rows(rows) {}
  void RecordsAdded(std::size_t first, std::size_t count) override { m_rows.RecordsAdded(first, count, BrokenOnly()); }
  void RecordChanged(const CLinkInfo& link) override {
    if (BrokenOnly() && link.m_nStatus == STATUS_PENDING) m_rows.WantNoRow(link);
  }
  void TableReset() override { m_rows.Rebuild(BrokenOnly()); }
  void RecordWantsRow(const CLinkInfo& link) override { m_rows.WantRow(link); }
  void RecordWantsLastRow(const CLinkInfo& link) override { m_rows.WantLastRow(link); }
  void StatusText(const std::string&) override {}
  bool BrokenOnly() const { return m_doc.Settings().ShowBrokenOnly != 0; }

 private:
  const CWexoDoc& m_doc;
  LinkRows& m_rows;
};

class LinkRowsTest : public ::testing::Test {
 protected:
  LinkRowsTest() {
    doc.AttachView(nullptr, nullptr, &observer);
    doc.SetRootUrl("http://h/");
  }
  ~LinkRowsTest() override { doc.AttachView(nullptr, nullptr, nullptr); }

  // A root (no parent: level 0) or a link found on parent's page.
  const CLinkInfo* Record(const std::string& path, const CLinkInfo* parent = nullptr,
                          std::int16_t status = STATUS_PENDING, const std::string& text = "") {
    const CLinkInfo* link = doc.NewLink("http://h/" + path, parent, REQUEST_GET);
    if (status != STATUS_PENDING) doc.SetStatus(link, status, text);
    return link;
  }
  // The path of every row, top to bottom, checking that each record's row is where it is
  // and that records without a row have none.
  Paths Rows() {
    Paths out;
    for (long row = 0; row < static_cast<long>(rows.Count()); ++row) {
      const CLinkInfo* link = rows.RecordAt(row);
      EXPECT_EQ(rows.RowOf(*link), row);
      out.push_back(doc.GetUrl(link->m_nIndex).substr(9));
    }
    std::size_t withRow = 0;
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i) withRow += rows.RowOf(*doc.GetLink(i)) >= 0;
    EXPECT_EQ(withRow, rows.Count());
    EXPECT_EQ(rows.RecordAt(-1), nullptr);
    EXPECT_EQ(rows.RecordAt(static_cast<long>(rows.Count())), nullptr);
    return out;
  }
  const CLinkInfo* Selected() { return rows.RecordAt(rows.SelectedRow()); }
  // A worker's result with that status handed to the parser, as the pump does; the record has
  // an attempt left unless retried is false.
  void Parse(const CLinkInfo* link, std::int16_t status, bool retried = false) {
    doc.UpdateLink(*link, [retried](CLinkInfo& r) { r.m_wAttempts = retried ? 0 : 100; });
    doc.SetStatus(link, status);
    FetchResult result;
    result.pLink = link;
    result.csUrl = link->GetUrl();
    doc.ParseFetchedPage(result);
  }

  TempIni ini;
  ScriptedHost host;
  CWexoDoc doc{host.Context()};
  LinkRows rows{doc.Table()};
  RowsObserver observer{doc, rows};
};

TEST_F(LinkRowsTest, RowsFollowTheTableWithRootsOnTopNewestFirst) {
  const CLinkInfo* home = Record("");
  Record("a", home);
  Record("b", home);
  // The root waits for the end of its burst; links found on pages have their rows at once.
  EXPECT_EQ(Rows(), (Paths{"a", "b"}));
  EXPECT_EQ(rows.RowOf(*home), -1);
  EXPECT_TRUE(rows.RootsWaiting());
  // A URL list's roots come in one burst with links between them.
  Record("list1");
  Record("c", home);
  Record("list2");
  EXPECT_EQ(Rows(), (Paths{"a", "b", "c"}));
  EXPECT_TRUE(rows.PlaceRoots());
  EXPECT_FALSE(rows.RootsWaiting());
  EXPECT_EQ(Rows(), (Paths{"list2", "list1", "", "a", "b", "c"}));
  EXPECT_FALSE(rows.PlaceRoots());
  // A rebuild lists the table in its order.
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(Rows(), (Paths{"", "a", "b", "list1", "c", "list2"}));
  // A record that waits as a root wants no second row.
  const CLinkInfo* late = Record("list3");
  EXPECT_FALSE(rows.WantRow(*late));
  EXPECT_FALSE(rows.InsertWanted());
  EXPECT_TRUE(rows.PlaceRoots());
  EXPECT_EQ(Rows(), (Paths{"list3", "", "a", "b", "list1", "c", "list2"}));
}

TEST_F(LinkRowsTest, EveryColumnSortsBothWaysAndTiesKeepTheirOrder) {
  // Four records in table order b, C, a, d, with ties in most columns.
  const CLinkInfo* r[] = {Record("b"), Record("C"), Record("a"), Record("d")};
  doc.SetStatus(r[0], 200);
  doc.SetStatus(r[1], 404, "Not Found");
  doc.SetStatus(r[2], 200);
  doc.SetStatus(r[3], 12007, "no host");
  const char* mime[] = {"text/html", "", "Image/png", "text/HTML"};
  const std::int64_t size[] = {5, std::int64_t{1} << 33, 5, 0};
  const char* title[] = {"beta", "Alpha", "", "alpha"};
  const std::int32_t dateKnown[] = {1, 0, 1, 1};
  const std::int64_t date[] = {1000, 5000, 500, 0};
  const std::int16_t level[] = {2, 0, -1, 2};
  const std::uint32_t out[] = {3, 0, 10, 3};
  const std::size_t in[] = {2, 1, 0, 1};
  static const std::string nginx = "nginx", apache = "Apache", lower = "apache";
  const std::string* server[] = {&nginx, nullptr, &apache, &lower};
  const std::int64_t seconds[] = {1, 0, 1, 0};
  const std::int16_t ms[] = {500, 900, 200, 900};
  static const CCharsetInfo utf8("utf-8"), latin("ISO-8859-1"), upper("UTF-8");
  const CCharsetInfo* charset[] = {&utf8, &latin, nullptr, &upper};
  const char* description[] = {"", "zeta", "Eta", "eta"};
  const char* keywords[] = {"link", "check", "Link", "a"};
  for (int i = 0; i < 4; ++i) {
    doc.UpdateLink(*r[i], [&](CLinkInfo& rec) {
      rec.m_csMimeType = mime[i];
      rec.m_nSize = size[i];
      rec.m_csTitle = title[i];
      rec.m_bDateKnown = dateKnown[i];
      rec.m_tDate = date[i];
      rec.m_nLevel = level[i];
      rec.m_nLinksOut = out[i];
      rec.m_dwaReferrers.assign(in[i], 0);
      rec.SetServerName(server[i]);
      rec.m_tsDuration = seconds[i];
      rec.m_nDurationMs = ms[i];
      rec.SetCharsetInfo(charset[i]);
      rec.m_csDescription = description[i];
      rec.m_csKeywords = keywords[i];
    });
  }
  const struct {
    int column;
    Paths ascending;
    Paths descending;
  } cases[] = {
      // URLs case-insensitively.
      {0, {"a", "b", "C", "d"}, {"d", "C", "b", "a"}},
      // "no such host" < "not found" < "ok"; equal texts by URL, descending too.
      {1, {"d", "C", "a", "b"}, {"b", "a", "C", "d"}},
      {2, {"C", "a", "b", "d"}, {"b", "d", "a", "C"}},
      // 64-bit sizes.
      {3, {"d", "b", "a", "C"}, {"C", "b", "a", "d"}},
      {4, {"a", "C", "d", "b"}, {"b", "C", "d", "a"}},
      // An unknown date counts as 0, whatever is stored.
      {5, {"C", "d", "a", "b"}, {"b", "a", "C", "d"}},
      {6, {"a", "C", "b", "d"}, {"b", "d", "C", "a"}},
      {7, {"C", "b", "d", "a"}, {"a", "b", "d", "C"}},
      {8, {"a", "C", "d", "b"}, {"b", "C", "d", "a"}},
      // No server sorts as empty.
      {9, {"C", "a", "d", "b"}, {"b", "a", "d", "C"}},
      {10, {"b", "a", "d", "C"}, {"C", "d", "b", "a"}},
      // Seconds first, then milliseconds.
      {11, {"C", "d", "a", "b"}, {"b", "a", "C", "d"}},
      {12, {"a", "C", "b", "d"}, {"b", "d", "C", "a"}},
      {13, {"b", "a", "d", "C"}, {"C", "a", "d", "b"}},
      {14, {"d", "C", "b", "a"}, {"b", "a", "C", "d"}},
  };
  for (const auto& c : cases) {
    rows.Rebuild(observer.BrokenOnly());
    ASSERT_EQ(Rows(), (Paths{"b", "C", "a", "d"}));
    rows.SortByColumn(c.column);
    EXPECT_EQ(rows.SortKey(), c.column + 1);
    EXPECT_EQ(Rows(), c.ascending) << "column " << c.column;
    rows.SortByColumn(c.column);
    EXPECT_EQ(rows.SortKey(), -(c.column + 1));
    EXPECT_EQ(Rows(), c.descending) << "column " << c.column;
    rows.SortByColumn(c.column);
    EXPECT_EQ(rows.SortKey(), c.column + 1);
    EXPECT_EQ(Rows(), c.ascending) << "column " << c.column;
  }
  // Ties keep the order of the sort before: by address descending, then by type.
  rows.SortByColumn(0);
  rows.SortByColumn(0);
  rows.SortByColumn(2);
  EXPECT_EQ(Rows(), (Paths{"C", "a", "d", "b"}));
}

TEST_F(LinkRowsTest, EachListKeepsItsOwnSortAndARebuildUnsortsOnlyItself) {
  CWexoDoc other{host.Context()};
  LinkRows otherRows{other.Table()};
  for (const char* path : {"y", "x"}) {
    Record(path);
    other.NewLink(std::string("http://o/") + path, nullptr, REQUEST_GET);
  }
  rows.Rebuild(observer.BrokenOnly());
  otherRows.Rebuild(false);
  rows.SortByColumn(0);
  EXPECT_EQ(Rows(), (Paths{"x", "y"}));
  // The first click on the same column in the other list sorts it ascending too.
  otherRows.SortByColumn(0);
  EXPECT_EQ(otherRows.SortKey(), 1);
  EXPECT_EQ(other.GetUrl(otherRows.RecordAt(0)->m_nIndex), "http://o/x");
  EXPECT_EQ(rows.SortKey(), 1);
  // A sort or a rebuild of one list leaves the other's as it was.
  rows.SortByColumn(3);
  EXPECT_EQ(rows.SortKey(), 4);
  EXPECT_EQ(otherRows.SortKey(), 1);
  otherRows.Rebuild(false);
  EXPECT_EQ(otherRows.SortKey(), 0);
  EXPECT_EQ(rows.SortKey(), 4);
  rows.SortByColumn(3);
  EXPECT_EQ(rows.SortKey(), -4);
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(rows.SortKey(), 0);
}

// Two lists of two tables showing broken records only, each sorted or not while the other is
// sorted, rebuilt or left alone: a new row of the one goes where its own sort says (merged in
// table order when unsorted, at the end after a sort), whatever the other did last.
TEST_F(LinkRowsTest, WhereAWantedRowLandsDependsOnItsOwnListAlone) {
  struct Case {
    int clicks;         // on this list's address column: 0 unsorted, 1 ascending, 2 descending
    const char* other;  // what the other list did last: "sort", "rebuild"
    Paths expected;
  };
  const Case cases[] = {
      {0, "sort", {"a", "b", "c", "d"}},    {0, "rebuild", {"a", "b", "c", "d"}}, {1, "rebuild", {"a", "c", "d", "b"}},
      {2, "rebuild", {"d", "c", "a", "b"}}, {2, "sort", {"d", "c", "a", "b"}},
  };
  for (const Case& c : cases) {
    CWexoDoc mine{host.Context()}, theirs{host.Context()};
    LinkRows mineRows{mine.Table()}, theirRows{theirs.Table()};
    std::vector<const CLinkInfo*> records;
    for (const char* path : {"a", "b", "c", "d"}) {
      const CLinkInfo* r = mine.NewLink(std::string("http://h/") + path, nullptr, REQUEST_GET);
      if (std::string(path) != "b") mine.SetStatus(r, 404);
      records.push_back(r);
      theirs.NewLink(std::string("http://o/") + path, nullptr, REQUEST_GET);
    }
    mineRows.Rebuild(true);
    theirRows.Rebuild(false);
    for (int i = 0; i < c.clicks; ++i) mineRows.SortByColumn(kColumnAddress);
    if (std::string(c.other) == "sort")
      theirRows.SortByColumn(kColumnStatus);
    else
      theirRows.Rebuild(false);
    // What the merge needs: a list that counts itself unsorted holds its rows in table order.
    std::vector<std::uint32_t> before;
    for (long row = 0; row < static_cast<long>(mineRows.Count()); ++row)
      before.push_back(mineRows.RecordAt(row)->m_nIndex);
    if (mineRows.SortKey() == 0) {
      EXPECT_TRUE(std::is_sorted(before.begin(), before.end()));
    }
    mine.SetStatus(records[1], 404);
    ASSERT_TRUE(mineRows.WantRow(*records[1]));
    ASSERT_TRUE(mineRows.InsertWanted());
    Paths got;
    for (long row = 0; row < static_cast<long>(mineRows.Count()); ++row) {
      EXPECT_EQ(mineRows.RowOf(*mineRows.RecordAt(row)), row);
      got.push_back(mine.GetUrl(mineRows.RecordAt(row)->m_nIndex).substr(9));
    }
    EXPECT_EQ(got, c.expected) << c.clicks << " " << c.other;
  }
}

TEST_F(LinkRowsTest, BrokenOnlyListsBrokenRecordsAndWantedRowsComeInOneBatch) {
  const CLinkInfo* home = Record("", nullptr, 200);
  Record("lost", home, 404);
  const CLinkInfo* p1 = Record("p1", home);
  Record("busy", home, STATUS_BUSY);
  const CLinkInfo* p2 = Record("p2", home);
  Record("external", home, STATUS_SKIP_EXTERNAL);
  Record("mail", home, STATUS_MAIL_HOST_OK);
  Record("nohost", home, 12007);
  const CLinkInfo* p3 = Record("p3", home);
  doc.ToggleShowBrokenOnly();
  // Status above 0 and not 200: pending, busy, skipped and ok records are hidden.
  EXPECT_EQ(Rows(), (Paths{"lost", "nohost"}));
  // A new record and a record that becomes broken get no row until the next rebuild.
  EXPECT_FALSE(rows.RecordsAdded(doc.GetLinkCount() - 1, 1, observer.BrokenOnly()));
  const CLinkInfo* late = Record("late", home, 500);
  doc.SetStatus(p2, 404);
  EXPECT_EQ(Rows(), (Paths{"lost", "nohost"}));
  // Records that want a row wait for one batch, which merges them in table order.
  EXPECT_TRUE(rows.WantRow(*late));
  EXPECT_TRUE(rows.WantRow(*p1));
  EXPECT_FALSE(rows.WantRow(*p1));
  EXPECT_FALSE(rows.WantRow(*doc.FindLink("http://h/lost")));
  EXPECT_EQ(rows.RowOf(*p1), -1);
  EXPECT_EQ(Rows(), (Paths{"lost", "nohost"}));
  EXPECT_TRUE(rows.InsertWanted());
  EXPECT_EQ(Rows(), (Paths{"lost", "p1", "nohost", "late"}));
  EXPECT_FALSE(rows.InsertWanted());
  // A failed host fails its pending records, and each wants its row.
  doc.FailSimilarHost("http://h/p3", 12007);
  EXPECT_EQ(p3->m_nStatus, 12007);
  EXPECT_TRUE(rows.InsertWanted());
  EXPECT_EQ(Rows(), (Paths{"lost", "p1", "nohost", "p3", "late"}));
  // A rebuild lists what is broken now.
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(Rows(), (Paths{"lost", "p1", "p2", "nohost", "p3", "late"}));
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(rows.Count(), doc.GetLinkCount());
  Rows();
}

TEST_F(LinkRowsTest, BrokenOnlyAppendsRecordsThatEndBrokenAndDropsRetriedOnes) {
  const CLinkInfo* home = Record("", nullptr, 200);
  const CLinkInfo* lost = Record("lost", home, 404);
  const CLinkInfo* a = Record("a", home);
  const CLinkInfo* b = Record("b", home);
  const CLinkInfo* c = Record("c", home);
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(Rows(), Paths{"lost"});
  // c, then a, end broken for good (401 is never retried); b ends well.
  Parse(c, 401);
  Parse(b, 200);
  Parse(a, 401);
  EXPECT_EQ(Rows(), Paths{"lost"}) << "they wait for one batch";
  EXPECT_FALSE(rows.InsertWanted());
  EXPECT_TRUE(rows.AppendWaiting());
  EXPECT_EQ(Rows(), (Paths{"lost", "c", "a"}));
  EXPECT_FALSE(rows.AppendWaiting());
  Parse(c, 401);
  EXPECT_FALSE(rows.AppendWaiting()) << "a record with a row gets no second one";
  // A broken result with an attempt left is retried: pending again, its row goes in the next
  // pass, and the selection with it.
  rows.Select(rows.RowOf(*lost));
  Parse(lost, 404, true);
  EXPECT_EQ(lost->m_nStatus, STATUS_PENDING);
  EXPECT_EQ(Rows(), (Paths{"lost", "c", "a"}));
  EXPECT_TRUE(rows.DropUnwanted());
  EXPECT_EQ(Rows(), (Paths{"c", "a"}));
  EXPECT_EQ(rows.SelectedRow(), -1);
  EXPECT_FALSE(rows.DropUnwanted());
  // The last failure stays and comes last; a record broken again before the pass keeps its row.
  Parse(lost, 404);
  doc.ResetRecord(a);
  doc.SetStatus(a, 500);
  EXPECT_TRUE(rows.AppendWaiting());
  EXPECT_FALSE(rows.DropUnwanted());
  EXPECT_EQ(Rows(), (Paths{"c", "a", "lost"}));
  // A rebuild drops what waits; with every record shown nothing is appended.
  Parse(b, 404);
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_FALSE(rows.AppendWaiting());
  EXPECT_EQ(Rows(), (Paths{"lost", "a", "b", "c"}));
  doc.ToggleShowBrokenOnly();
  rows.Rebuild(observer.BrokenOnly());
  Parse(home, 403);
  EXPECT_FALSE(rows.AppendWaiting());
  EXPECT_FALSE(rows.DropUnwanted());
  EXPECT_EQ(rows.Count(), doc.GetLinkCount());
}

TEST_F(LinkRowsTest, RowsWantedAfterASortGoToTheEndInTableOrder) {
  const CLinkInfo* home = Record("", nullptr, 404);
  const CLinkInfo* b = Record("b", home);
  Record("c", home, 404);
  const CLinkInfo* a = Record("a", home);
  doc.ToggleShowBrokenOnly();
  rows.SortByColumn(0);
  rows.SortByColumn(0);
  EXPECT_EQ(Rows(), (Paths{"c", ""}));
  rows.WantRow(*a);
  rows.WantRow(*b);
  EXPECT_TRUE(rows.InsertWanted());
  EXPECT_EQ(Rows(), (Paths{"c", "", "b", "a"}));
  EXPECT_EQ(rows.SortKey(), -1);
}

TEST_F(LinkRowsTest, TheSelectionStaysOnItsRecord) {
  const CLinkInfo* home = Record("", nullptr, 200);
  const CLinkInfo* b = Record("b", home, 404);
  const CLinkInfo* z = Record("z", home, 200);
  const CLinkInfo* a = Record("a", home, 404);
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(rows.SelectedRow(), -1);
  rows.Select(rows.RowOf(*z));
  EXPECT_EQ(Selected(), z);
  for (int column : {0, 0, 1, 1, 6}) {
    rows.SortByColumn(column);
    EXPECT_EQ(Selected(), z) << column;
  }
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(Rows(), (Paths{"", "b", "z", "a"}));
  EXPECT_EQ(rows.SelectedRow(), 2);
  // Roots placed on top, a row removed above it.
  Record("list");
  rows.PlaceRoots();
  EXPECT_EQ(rows.SelectedRow(), 3);
  EXPECT_TRUE(rows.Remove(*b));
  EXPECT_FALSE(rows.Remove(*b));
  EXPECT_EQ(Rows(), (Paths{"list", "", "z", "a"}));
  EXPECT_EQ(Selected(), z);
  // Wanted rows merged in above it.
  rows.Select(rows.RowOf(*a));
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(Rows(), (Paths{"b", "a"}));
  EXPECT_EQ(Selected(), a);
  rows.WantRow(*home);
  rows.InsertWanted();
  EXPECT_EQ(Rows(), (Paths{"", "b", "a"}));
  EXPECT_EQ(Selected(), a);
  // A record that loses its row loses the selection for good.
  rows.Select(rows.RowOf(*b));
  doc.SetStatus(b, 200);
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(rows.SelectedRow(), -1);
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(rows.SelectedRow(), -1);
  rows.Select(rows.RowOf(*a));
  rows.Remove(*a);
  EXPECT_EQ(rows.SelectedRow(), -1);
  rows.Select(0);
  rows.Clear();
  EXPECT_EQ(rows.SelectedRow(), -1);
  // Rows outside the list select nothing.
  rows.Rebuild(observer.BrokenOnly());
  rows.Select(static_cast<long>(rows.Count()));
  EXPECT_EQ(rows.SelectedRow(), -1);
}

TEST_F(LinkRowsTest, ClearEmptiesTheListUntilTheNextRebuild) {
  const CLinkInfo* home = Record("", nullptr, 404);
  const CLinkInfo* a = Record("a", home, 500);
  Record("b", home, 200);
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(Rows(), (Paths{"", "a"}));
  rows.Select(1);
  rows.WantRow(*doc.FindLink("http://h/b"));
  rows.Clear();
  EXPECT_EQ(Rows(), Paths{});
  EXPECT_EQ(rows.SelectedRow(), -1);
  // What waited goes too; a retried record that fails again waits for the rebuild.
  EXPECT_FALSE(rows.InsertWanted());
  doc.SetStatus(a, STATUS_PENDING);
  doc.SetStatus(a, 404);
  EXPECT_EQ(Rows(), Paths{});
  rows.Rebuild(observer.BrokenOnly());
  EXPECT_EQ(Rows(), (Paths{"", "a"}));
}

// The rows need the table alone: no document, no settings.
TEST(LinkRowsOfATable, RowsFilterAndSortFromTheTableAlone) {
  LinkTable table;
  for (const char* url : {"http://h/b", "http://h/a", "http://h/c"}) table.Add(url, nullptr, REQUEST_GET);
  table.SetStatus(*table.Mutable(1), 404, "");
  LinkRows rows(table);
  auto urls = [&] {
    Paths out;
    for (long row = 0; row < static_cast<long>(rows.Count()); ++row)
      out.push_back(table.GetUrl(rows.RecordAt(row)->m_nIndex));
    return out;
  };
  EXPECT_FALSE(rows.RecordsAdded(0, 3, true)) << "only broken records shown: they wait for a rebuild";
  EXPECT_TRUE(rows.RecordsAdded(0, 3, false));
  EXPECT_TRUE(rows.PlaceRoots());
  EXPECT_EQ(urls(), (Paths{"http://h/c", "http://h/a", "http://h/b"}));
  rows.Rebuild(true);
  EXPECT_EQ(urls(), Paths{"http://h/a"});
  rows.Rebuild(false);
  rows.SortByColumn(kColumnAddress);
  EXPECT_EQ(urls(), (Paths{"http://h/a", "http://h/b", "http://h/c"}));
  EXPECT_LT(CompareLinks(table, *table.GetLink(1), *table.GetLink(0), kColumnAddress + 1), 0);
}

}  // namespace
