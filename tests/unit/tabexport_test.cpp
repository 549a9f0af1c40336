#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/Charset.h"
#include "engine/WexoDoc.h"
#include "platform/CodePage.h"
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

// The list and the TAB export make their cells in one place: both give valid UTF-8 with the
// texts as the page showed them; the list shows the address with its escapes decoded, the
// export writes it as stored.
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
    std::string exported, shown;
  } cases[] = {
      {page, kColumnAddress, "http://h/caf%C3%A9", "http://h/caf\xC3\xA9"},
      {page, kColumnStatus, "ok", "ok"},
      {page, kColumnSize, "7", "7"},
      {page, kColumnTitle, "Caf\xC3\xA9 & more", "Caf\xC3\xA9 & more"},
      {page, kColumnDate, "14.11.2023  22:13:20", "14.11.2023  22:13:20"},
      {page, kColumnLevel, "0", "0"},
      {page, kColumnLinksIn, "", ""},
      {page, kColumnError, "bad \xEF\xBF\xBD", "bad \xEF\xBF\xBD"},
      {page, kColumnDuration, "00:00.000", ""},
      {next, kColumnDuration, "01:15.000", "01:15.000"},
      {next, kColumnLinksIn, "1", "1"},
      {next, kColumnSize, "", ""},
      {next, kLinkColumnCount, "", ""},
  };
  for (const auto& c : cases) {
    std::string exported = "x";
    AppendLinkCell(exported, doc, *c.link, c.column, LinkCellForm::Exported);
    EXPECT_EQ(exported, "x" + c.exported) << c.column;
    EXPECT_EQ(LinkCellText(doc, *c.link, c.column), c.shown) << c.column;
  }
}

// What pages and links bring along cannot break the exports: the texts of a Latin-1 page are
// written in UTF-8 like every other row, and control characters, which would split a field or
// a row or stop a reader, become blanks in texts and escapes in addresses.
TEST_F(TabExportTest, RowsAreUtf8WithoutControlCharacters) {
  CWexoDoc doc{host.Context()};
  const CLinkInfo* root = doc.NewLink("http://h/", nullptr, REQUEST_GET);
  doc.SetStatus(root, 200, "OK");
  doc.UpdateLink(*root, [&](CLinkInfo& r) {
    SetCharset(&r, "ISO-8859-1");
    r.m_csTitle =
        "Caf\xE9 \x01"
        "a\x1B[1mb &#7;c &eacute;";
    r.m_csDescription = std::string(
        "d\xE9\0s\x7F"
        "c",
        6);
    r.m_csKeywords = "k\x85w";  // a C1 control in Latin-1
  });
  const CLinkInfo* utf8 = doc.NewLink(std::string("http://h/ctl\x01\x7F\xC3\xA9\xE9\x1F", 18), root, REQUEST_GET);
  doc.SetStatus(utf8, 200, std::string("err\x02or \xFF", 8));
  doc.UpdateLink(*utf8, [&](CLinkInfo& r) {
    SetCharset(&r, "UTF-8");
    r.m_csTitle =
        "Caf\xC3\xA9 \xC2\x9B"
        "x";
    InternServerName(&r, "srv\x01");
  });

  const std::string all = (dir / "all.txt").string();
  ASSERT_TRUE(ExportTabFile(doc, all));
  const std::string text = ReadAll(all);
  EXPECT_NE(text.find("http://h/\t200\tok\t\t\tCaf\xC3\xA9  a [1mb  c \xC3\xA9\t"), std::string::npos) << text;
  EXPECT_NE(text.find("\tOK\t00:00.000\tiso-8859-1\td\xC3\xA9 s c\tk w\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("http://h/ctl%01%7F\xC3\xA9%E9%1F\t200\tok\t\t\tCaf\xC3\xA9  x\t"), std::string::npos) << text;
  EXPECT_NE(text.find("\tsrv \terr or \xEF\xBF\xBD\t"), std::string::npos) << text;

  const std::string map = (dir / "map.txt").string();
  ASSERT_TRUE(ExportPageMap(doc, map));
  EXPECT_NE(ReadAll(map).find("\r\nhttp://h/\thttp://h/ctl%01%7F\xC3\xA9%E9%1F\t200\tok\tCaf\xC3\xA9  x\t\t"
                              "Caf\xC3\xA9  a [1mb  c \xC3\xA9\r\n"),
            std::string::npos)
      << ReadAll(map);

  for (const std::string& file : {all, map}) {
    const std::string exported = ReadAll(file);
    std::size_t rows = 0;
    for (std::size_t i = 0; i < exported.size(); ++i) {
      const auto c = static_cast<unsigned char>(exported[i]);
      if (c == '\r') {
        EXPECT_EQ(exported[i + 1], '\n') << file;
        ++rows;
        ++i;
        continue;
      }
      EXPECT_TRUE(c >= 0x20 || c == '\t') << file << " byte " << static_cast<int>(c) << " at " << i;
      EXPECT_NE(c, 0x7F) << file;
    }
    EXPECT_EQ(rows, file == all ? 3u : 2u) << exported;
    // Every byte sequence is UTF-8: decoding to UTF-16 and back gives the same bytes.
    std::u16string wide;
    std::string back;
    ASSERT_TRUE(platform::MultiByteToWide(platform::kCpUtf8, exported, wide));
    platform::WideToMultiByte(platform::kCpUtf8, wide, back);
    EXPECT_EQ(back, exported) << file;
  }
}

TEST(FormatDuration, MinutesAndSeconds) {
  EXPECT_EQ(FormatDuration(75, 4), "01:15.004");
  EXPECT_EQ(FormatDuration(3723, 0), "02:03.000");
  EXPECT_EQ(FormatDuration(0, 999), "00:00.999");
}

}  // namespace
