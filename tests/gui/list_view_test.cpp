// The link list of a document: one row per record, the cell texts and colours formed from
// the records, sorting, the broken-only filter with its batch insertion, the selection kept on
// its record, and the column widths kept in the settings.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "ui/Commands.h"
#include "ui/MainFrame.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

const std::string kQuestion = "Link tolvak finished. Do you want a report?";

class ListViewTest : public GuiTest {
 protected:
  // A small site in the test's folder, checked with Check URL List to its end question.
  CWexoDoc& CheckSite() {
    Write(dir / "site/index.html",
          "<html><head><title>Home &amp; more</title></head><body>"
          "<a href=\"caf%C3%A9.html\">x</a> <a href=\"missing.html\">y</a></body></html>");
    Write(dir / "site/caf\xC3\xA9.html",
          "<html><head><meta charset=\"utf-8\"><title>Caf\xC3\xA9</title></head><body></body></html>");
    Write(dir / "list.txt", "file://" + (dir / "site/index.html").string() + "\n");
    nextFile = (dir / "list.txt").string();
    bool ended = false;
    answer = [&ended](const std::string& text, BoxKind kind) {
      if (text == kQuestion) ended = true;
      return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    };
    Command(ID_CMD_CHECK_URL_LIST);
    EXPECT_TRUE(PumpUntil([&ended] { return ended; })) << "no end question";
    view = app->Frame()->GetActiveListView();
    EXPECT_NE(view, nullptr);
    list = view->Rows();
    // The list's line went above the list file; a rebuild lists the table in its order.
    EXPECT_EQ(RowRecords(), (std::vector<std::uint32_t>{1, 0, 2, 3}));
    list->RebuildList();
    return Documents()[0]->Engine();
  }
  std::vector<std::string> RowTexts(long row) {
    std::vector<std::string> texts;
    for (int c = 0; c < kLinkColumnCount; ++c) texts.push_back(list->GetItemText(row, c).utf8_string());
    return texts;
  }
  const CLinkInfo* Add(CWexoDoc& doc, const std::string& url, std::int16_t status, const std::string& text = "") {
    const CLinkInfo* link = doc.NewLink(url, doc.GetLink(1), REQUEST_GET);
    doc.SetStatus(link, status, text);
    return link;
  }
  std::vector<std::uint32_t> RowRecords() {
    std::vector<std::uint32_t> out;
    for (long r = 0; r < list->GetItemCount(); ++r) out.push_back(list->RecordAt(r)->m_nIndex);
    return out;
  }

  CWexoView* view = nullptr;
  LinkListCtrl* list = nullptr;
};

TEST_F(ListViewTest, RowsHoldEveryColumnOfTheirRecord) {
  ::setenv("TZ", "IST-5:30", 1);
  ::tzset();
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  // The URL list, its page, the page it links to and the missing one.
  ASSERT_EQ(doc.GetLinkCount(), 4u);
  ASSERT_EQ(list->GetItemCount(), 4);
  for (long r = 0; r < 4; ++r) EXPECT_EQ(list->RecordAt(r), doc.GetLink(r));

  const CLinkInfo* home = doc.GetLink(1);
  static const std::string server = "nginx/1.22";
  doc.UpdateLink(*home, [](CLinkInfo& l) {
    l.SetServerName(&server);
    l.m_tDate = 1700000000;  // 2023-11-14 22:13:20 UTC
    l.m_bDateKnown = 1;
    l.m_tsDuration = 75;
    l.m_nDurationMs = 250;
    l.m_csDescription = "A \xFF page";
  });
  const CLinkInfo* lost = Add(doc, "http://nothing.invalid/", 12007, "no \xFF host");
  const CLinkInfo* moved = Add(doc, "http://example.com/old", 301, "http://example.com/new");
  const CLinkInfo* mail = Add(doc, "mailto:team@example.com", STATUS_MAIL_HOST_OK);
  // The new rows are counted with the list's next update.
  EXPECT_TRUE(PumpUntil([this] { return list->GetItemCount() == 7; }, 5));
  ASSERT_EQ(list->GetItemCount(), 7);

  const std::string site = "file://" + (dir / "site/").string();
  const std::string e = "";
  struct Case {
    const CLinkInfo* link;
    std::vector<std::string> texts;
  };
  const CLinkInfo* cafe = doc.GetLink(2);
  // A file's date is its modification time, shown in local time.
  struct stat st {};
  ASSERT_EQ(::stat((dir / "site/caf\xC3\xA9.html").c_str(), &st), 0);
  char modified[32];
  struct tm local {};
  std::strftime(modified, sizeof modified, "%d.%m.%Y  %H:%M:%S", ::localtime_r(&st.st_mtime, &local));
  const Case cases[] = {
      // Code page 0 reads as 1252; the cell is UTF-8 either way.
      {home,
       {site + "index.html", "ok", "text/html", std::to_string(home->m_nSize), "Home & more", "15.11.2023  03:43:20",
        "0", "2", e, "nginx/1.22", e, "01:15.250", e, "A \xC3\xBF page", e}},
      {cafe,
       {site + "caf\xC3\xA9.html", "ok", "text/html", std::to_string(cafe->m_nSize), "Caf\xC3\xA9", modified, "1", e,
        "1", e, e, LinkCellText(doc, *cafe, 11), cafe->GetCharsetName(), e, e}},
      // Invalid UTF-8 shows replacement characters.
      {lost,
       {"http://nothing.invalid/", "no such host", e, e, e, e, "1", e, "1", e, "no \xEF\xBF\xBD host", e, e, e, e}},
      {moved,
       {"http://example.com/old", "object permanently moved", e, e, e, e, "1", e, "1", e, "http://example.com/new", e,
        e, e, e}},
      {mail, {"mailto:team@example.com", "mail host ok", e, e, e, e, "1", e, "1", e, e, e, e, e, e}},
  };
  for (const Case& c : cases) {
    const long row = list->RowOf(*c.link);
    ASSERT_GE(row, 0);
    EXPECT_EQ(RowTexts(row), c.texts) << doc.GetUrl(c.link->m_nIndex);
  }
  EXPECT_EQ(list->GetItemText(3, 1).utf8_string(), StatusText(doc.GetLink(3)->m_nStatus));
  // A size of 0 and an unknown level leave their cells empty.
  doc.UpdateLink(*home, [](CLinkInfo& l) {
    l.m_nSize = 0;
    l.m_nLevel = -1;
  });
  EXPECT_EQ(list->GetItemText(1, 3), "");
  EXPECT_EQ(list->GetItemText(1, 6), "");
  ::unsetenv("TZ");
  ::tzset();
}

TEST_F(ListViewTest, RowColoursFollowTheStatus) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  const std::pair<std::int16_t, wxColour> table[] = {
      {STATUS_PENDING, wxColour(127, 127, 127)},
      {200, wxColour(0, 140, 0)},
      {STATUS_MAIL_HOST_OK, wxColour(140, 170, 0)},
      {STATUS_JAR_CONTENT, wxColour(196, 127, 0)},
      {STATUS_USER_SKIP, wxColour(196, 127, 0)},
      {STATUS_SKIP_TYPE, wxColour(196, 127, 0)},
      {STATUS_SKIP_EXTERNAL, wxColour(0, 0, 100)},
      {STATUS_BUSY, wxColour(77, 77, 77)},
      {404, wxColour(255, 0, 0)},
      {12007, wxColour(255, 0, 0)},
  };
  for (const auto& [status, colour] : table) {
    const CLinkInfo* link = Add(doc, "http://example.com/" + std::to_string(status), status);
    wxItemAttr* attr = list->OnGetItemAttr(list->RowOf(*link));
    ASSERT_NE(attr, nullptr);
    EXPECT_EQ(attr->GetTextColour(), colour) << status;
  }
}

TEST_F(ListViewTest, SortsByEveryColumnBothWays) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  for (int i = 0; i < 6; ++i) {
    const CLinkInfo* link =
        Add(doc, "http://example.com/" + std::string(1, static_cast<char>('f' - i)), i % 2 ? 404 : 200);
    doc.UpdateLink(*link, [&](CLinkInfo& r) {
      r.m_nSize = i * 7 % 5;
      r.m_csTitle = std::string(1, static_cast<char>('a' + i * 3 % 4));
      r.m_tsDuration = i % 3;
    });
  }
  const CLinkInfo* selected = doc.GetLink(4);
  list->SelectRow(list->RowOf(*selected));
  for (int column = 0; column < kLinkColumnCount; ++column) {
    for (int key : {column + 1, -(column + 1)}) {
      list->SortByColumn(column);
      EXPECT_EQ(list->SortKey(), key);
      for (long r = 1; r < list->GetItemCount(); ++r)
        EXPECT_LE(CompareLinks(doc.Table(), *list->RecordAt(r - 1), *list->RecordAt(r), key), 0) << column << " " << r;
      EXPECT_EQ(list->RecordAt(list->SelectedRow()), selected);
      EXPECT_EQ(list->RowOf(*selected), list->SelectedRow());
    }
  }
  // Status descending: equal texts in descending URL order.
  list->SortByColumn(1);
  Screenshot("list-sorted-status-ascending");
  list->SortByColumn(1);
  Screenshot("list-sorted-status-descending");
  std::vector<std::string> oks;
  for (long r = 0; r < list->GetItemCount(); ++r)
    if (list->RecordAt(r)->m_nStatus == 200) oks.push_back(doc.GetUrl(list->RecordAt(r)->m_nIndex));
  EXPECT_TRUE(std::is_sorted(oks.rbegin(), oks.rend()));
  // A click on another column starts ascending; a rebuild unsorts.
  list->SortByColumn(3);
  EXPECT_EQ(list->SortKey(), 4);
  view->TableReset();
  EXPECT_EQ(list->SortKey(), 0);
}

TEST_F(ListViewTest, BrokenOnlyInsertsInOneBatchAndKeepsTheSelection) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  std::vector<const CLinkInfo*> added;
  for (int i = 0; i < 8; ++i) added.push_back(Add(doc, "http://example.com/p" + std::to_string(i), STATUS_PENDING));
  doc.ToggleShowBrokenOnly();
  // Only the broken record (missing.html) is left.
  ASSERT_EQ(RowRecords(), std::vector<std::uint32_t>{3});
  list->SelectRow(0);
  // A record that becomes broken, and a new record, get no row until the list is built again.
  doc.SetStatus(added[0], 404);
  Add(doc, "http://example.com/late", 404);
  doc.NewLink("http://example.com/later", doc.GetLink(1), REQUEST_GET);
  PumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(RowRecords(), std::vector<std::uint32_t>{3});
  // A failed host fails its pending records at once: they get their rows together, in table
  // order, and the selection stays on its record.
  for (int i : {2, 4, 5, 7}) doc.SetStatus(added[i], 200);
  doc.FailSimilarHost("http://example.com/p0", 12007);
  PumpUntil([this] { return list->GetItemCount() == 5; }, 5);
  const std::uint32_t later = doc.FindLink("http://example.com/later")->m_nIndex;
  EXPECT_EQ(RowRecords(),
            (std::vector<std::uint32_t>{3, added[1]->m_nIndex, added[3]->m_nIndex, added[6]->m_nIndex, later}));
  EXPECT_EQ(list->RecordAt(list->SelectedRow()), doc.GetLink(3));
  for (int i : {1, 3, 6}) EXPECT_EQ(added[i]->m_nStatus, 12007);
  // Unfiltered, rows appended at the end leave the selection where it is.
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(static_cast<std::size_t>(list->GetItemCount()), doc.GetLinkCount());
  list->SelectRow(list->RowOf(*added[5]));
  Add(doc, "http://example.com/last", 200);
  EXPECT_EQ(list->RecordAt(list->SelectedRow()), added[5]);
  EXPECT_EQ(view->SelectedRecord(), added[5]);
}

TEST_F(ListViewTest, AutoSizeFitsTheWidestCellOrTheHeader) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  doc.UpdateLink(*Add(doc, "http://example.com/t", 200),
                 [](CLinkInfo& r) { r.m_csTitle = "A title much wider than its header"; });
  list->AutoSizeAllColumns();
  EXPECT_EQ(list->GetColumnWidth(4), list->GetTextExtent("A title much wider than its header").GetWidth() + 13);
  // No cell of Keywords has text: the header decides.
  EXPECT_EQ(list->GetColumnWidth(14), list->GetTextExtent("Keywords").GetWidth() + 13);
  // A double-click on the divider right of Type sizes Type alone.
  list->SetColumnWidth(2, 300);
  list->SetColumnWidth(4, 50);
  ASSERT_NE(list->HeaderWindow(), nullptr);
  int x = 0;
  for (int c = 0; c <= 2; ++c) x += list->GetColumnWidth(c);
  EXPECT_EQ(list->DividerAt(x - 2), 2);
  EXPECT_EQ(list->DividerAt(x - 40), -1);
  wxMouseEvent click(wxEVT_LEFT_DCLICK);
  click.m_x = x + 1;
  click.SetEventObject(list->HeaderWindow());
  list->HeaderWindow()->GetEventHandler()->ProcessEvent(click);
  int widest = list->GetTextExtent("Type").GetWidth();
  for (long r = 0; r < list->GetItemCount(); ++r)
    widest = std::max(widest, list->GetTextExtent(list->GetItemText(r, 2)).GetWidth());
  EXPECT_EQ(list->GetColumnWidth(2), widest + 13);
  EXPECT_EQ(list->GetColumnWidth(4), 50);
}

TEST_F(ListViewTest, ColumnWidthsAreSavedAndRestored) {
  ASSERT_TRUE(Start());
  CheckSite();
  EXPECT_EQ(list->GetColumnWidth(0), 350);
  EXPECT_EQ(list->GetColumnWidth(10), 400);
  list->SetColumnWidth(4, 321);
  list->SetColumnWidth(7, 66);
  answer = [](const std::string&, BoxKind) { return BoxAnswer::No; };
  Command(wxID_CLOSE);
  ASSERT_TRUE(PumpUntil([this] { return Documents().empty(); }, 5));
  const std::string ini = ReadAll(dir / "wexo.ini");
  EXPECT_NE(ini.find("Title=321"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Links Out=66"), std::string::npos) << ini;
  CheckSite();
  EXPECT_EQ(list->GetColumnWidth(4), 321);
  EXPECT_EQ(list->GetColumnWidth(7), 66);
  EXPECT_EQ(list->GetColumnWidth(0), 350);
}

}  // namespace
