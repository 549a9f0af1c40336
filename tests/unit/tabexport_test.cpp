#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/Charset.h"
#include "engine/WexoDoc.h"
#include "report/LinkCells.h"
#include "report/TabExport.h"
#include "unit/support/ScriptedHost.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TabExportTest : public ::testing::Test {
 protected:
  TabExportTest() {
    setenv("TZ", "UTC0", 1);
    tzset();
    dir = std::filesystem::temp_directory_path() / ("wexo-tab-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~TabExportTest() override { std::filesystem::remove_all(dir); }

  TempIni ini;
  ScriptedHost host;
  std::filesystem::path dir;
};

TEST_F(TabExportTest, RowsAndFields) {
  CWexoDoc doc{host.Context()};
  const CLinkInfo* root = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  doc.SetStatus(root, 200, "OK");
  doc.UpdateLink(*root, [&](CLinkInfo& r) {
    r.m_csMimeType = "text/html";
    r.m_nSize = 1234;
    r.m_csTitle = "Home";
    r.m_bDateKnown = 1;
    r.m_tDate = 1700000000;  // 14.11.2023 22:13:20 UTC
    r.m_nLinksOut = 3;
    r.m_tsDuration = 75;
    r.m_nDurationMs = 4;
    InternServerName(&r, "nginx");
    SetCharset(&r, "UTF-8");
    r.m_csDescription = "d";
    r.m_csKeywords = "k";
  });
  const CLinkInfo* empty = doc.NewLink("http://h/empty", root, REQUEST_GET);
  doc.SetStatus(empty, 200);
  doc.UpdateLink(*empty, [&](CLinkInfo& r) { r.m_tsDuration = 3723; });
  const CLinkInfo* missing = doc.NewLink("http://h/missing", root, REQUEST_HEAD);
  doc.SetStatus(missing, 404, "Not Found");
  doc.UpdateLink(*missing, [&](CLinkInfo& r) {
    r.m_nSize = 99;
    r.m_bDateKnown = 1;
  });
  doc.SetStatus(doc.NewLink("http://x/", root, REQUEST_HEAD), STATUS_SKIP_EXTERNAL);

  const std::string path = (dir / "all.txt").string();
  ASSERT_TRUE(ExportTabFile(doc, path));
  EXPECT_EQ(
      ReadAll(path),
      "Address\tStatus-Code\tStatus-Text\tType\tSize\tTitle\tDate\tLevel\tLinks Out\tLinks In\tServer\tError"
      "\tDuration\tCharset\tDescription\tKeywords\r\n"
      "http://h/\t200\tok\ttext/html\t1234\tHome\t14.11.2023  22:13:20\t0\t3\t\tnginx\tOK\t01:15.004\tutf-8\td\tk\r\n"
      "http://h/empty\t200\tok\t\t\t\t\t1\t\t1\t\t\t02:03.000\t\t\t\r\n"
      "http://h/missing\t404\tnot found\t\t\t\t\t1\t\t1\t\tNot Found\t00:00.000\t\t\t\r\n"
      "http://x/\t-2\tskip external\t\t\t\t\t1\t\t1\t\t\t00:00.000\t\t\t\r\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  const std::string map = (dir / "map.txt").string();
  ASSERT_TRUE(ExportPageMap(doc, map));
  EXPECT_EQ(ReadAll(map),
            "OriginPage\tLinkToPage\tLinkToPageStatusCode\tLinkToPageStatusText\tLinkToPageTitle\tOriginPageDate"
            "\tOriginPageTitle\r\n"
            "http://h/\thttp://h/empty\t200\tok\t\t14.11.2023  22:13:20\tHome\r\n"
            "http://h/\thttp://h/missing\t404\tnot found\t\t14.11.2023  22:13:20\tHome\r\n"
            "http://h/\thttp://x/\t-2\tskip external\t\t14.11.2023  22:13:20\tHome\r\n");
}

TEST_F(TabExportTest, PageMapRowsFollowReferrerOrder) {
  CWexoDoc doc{host.Context()};
  const CLinkInfo* a = doc.NewLink("http://h/a", nullptr, REQUEST_GET);
  const CLinkInfo* b = doc.NewLink("http://h/b", nullptr, REQUEST_GET);
  const CLinkInfo* c = doc.NewLink("http://h/c", nullptr, REQUEST_GET);
  const CLinkInfo* target = doc.NewLink("http://h/t", c, REQUEST_GET);
  doc.AddReferrer(target, a);
  doc.AddReferrer(target, b);
  const std::string map = (dir / "map.txt").string();
  ASSERT_TRUE(ExportPageMap(doc, map));
  const std::string text = ReadAll(map);
  EXPECT_LT(text.find("http://h/c\thttp://h/t"), text.find("http://h/a\thttp://h/t"));
  EXPECT_LT(text.find("http://h/a\thttp://h/t"), text.find("http://h/b\thttp://h/t"));
}

TEST_F(TabExportTest, FailedWriteKeepsTheOldFile) {
  CWexoDoc doc{host.Context()};
  doc.NewLink("http://h/", nullptr, REQUEST_GET);
  // The target is a folder holding a file: the rename over it fails.
  const std::filesystem::path target = dir / "old";
  std::filesystem::create_directories(target / "keep");
  EXPECT_FALSE(ExportTabFile(doc, target.string()));
  EXPECT_TRUE(std::filesystem::exists(target / "keep"));
  EXPECT_FALSE(std::filesystem::exists(target.string() + ".tmp"));
  ASSERT_EQ(host.boxes.size(), 1u);

  EXPECT_FALSE(ExportTabFile(doc, (dir / "no-such-folder" / "x.txt").string()));
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[1], "Could not open file '" + (dir / "no-such-folder" / "x.txt").string() + ".tmp' for writing");
}

// The list and the TAB export make their cells in one place: the export writes the table's
// bytes, the list shows valid UTF-8 with escapes and character references decoded.
TEST_F(TabExportTest, ListAndExportShareTheCells) {
  CWexoDoc doc{host.Context()};
  const CLinkInfo* page = doc.NewLink("http://h/caf%C3%A9", nullptr, REQUEST_GET);
  doc.SetStatus(page, 200, "bad \xFF");
  doc.UpdateLink(*page, [&](CLinkInfo& r) {
    SetCharset(&r, "windows-1252");
    r.m_csTitle = "Caf\xE9 &amp; more";
    r.m_nSize = 7;
    r.m_bDateKnown = 1;
    r.m_tDate = 1700000000;
  });
  const CLinkInfo* next = doc.NewLink("http://h/next", page, REQUEST_GET);
  doc.UpdateLink(*next, [&](CLinkInfo& r) { r.m_tsDuration = 75; });
  const struct {
    const CLinkInfo* link;
    int column;
    std::string stored, shown;
  } cases[] = {
      {page, kColumnAddress, "http://h/caf%C3%A9", "http://h/caf\xC3\xA9"},
      {page, kColumnStatus, "ok", "ok"},
      {page, kColumnSize, "7", "7"},
      {page, kColumnTitle, "Caf\xE9 &amp; more", "Caf\xC3\xA9 & more"},
      {page, kColumnDate, "14.11.2023  22:13:20", "14.11.2023  22:13:20"},
      {page, kColumnLevel, "0", "0"},
      {page, kColumnLinksIn, "", ""},
      {page, kColumnError, "bad \xFF", "bad \xEF\xBF\xBD"},
      {page, kColumnDuration, "00:00.000", ""},
      {next, kColumnDuration, "01:15.000", "01:15.000"},
      {next, kColumnLinksIn, "1", "1"},
      {next, kColumnSize, "", ""},
      {next, kLinkColumnCount, "", ""},
  };
  for (const auto& c : cases) {
    std::string stored = "x";
    AppendLinkCell(stored, doc, *c.link, c.column, LinkCellForm::Stored);
    EXPECT_EQ(stored, "x" + c.stored) << c.column;
    EXPECT_EQ(LinkCellText(doc, *c.link, c.column), c.shown) << c.column;
  }
}

TEST(FormatDuration, MinutesAndSeconds) {
  EXPECT_EQ(FormatDuration(75, 4), "01:15.004");
  EXPECT_EQ(FormatDuration(3723, 0), "02:03.000");
  EXPECT_EQ(FormatDuration(0, 999), "00:00.999");
}

}  // namespace
