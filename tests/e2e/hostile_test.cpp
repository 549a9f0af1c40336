// Hostile servers and files: bodies that would fill memory end as a status on their own
// record, and header values cannot add fields or rows to the exports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "e2e/support/HttpPeer.h"
#include "e2e/support/WexoRun.h"

namespace {

using wexo_test::ReadAll;

constexpr long kMemoryKib = 2000000;  // the address space a run gets (ulimit -v)
const std::string kCutText = "page larger than 64 MiB: only its first 64 MiB were checked";

class HostileTest : public ::testing::Test {
 protected:
  HostileTest() {
    dir = std::filesystem::temp_directory_path() / ("wexo-hostile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~HostileTest() override { std::filesystem::remove_all(dir); }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;
  }

  // Checks url in a batch run under the memory limit; the export's rows by URL. (A '/' in a
  // query is escaped, so the root of the check is the server's root.)
  std::map<std::string, std::vector<std::string>> Check(const std::string& url) {
    const int rc = wexo_test::RunWexo(dir, dir, "-url '" + url + "' -export all.txt", kMemoryKib);
    EXPECT_EQ(rc, 0) << ReadAll(dir / "err.log");
    return wexo_test::Rows(ReadAll(dir / "all.txt"));
  }

  // Rows and field counts of the export as Python's csv module reads it.
  std::string CsvShape() {
    const std::string script =
        "import csv,sys\n"
        "rows = list(csv.reader(open(sys.argv[1], newline=''), delimiter='\\t'))\n"
        "print(len(rows), sorted(set(len(r) for r in rows)))\n";
    wexo_test::Write(dir / "shape.py", script);
    EXPECT_EQ(wexo_test::Shell("/usr/bin/python3 '" + (dir / "shape.py").string() + "' '" + (dir / "all.txt").string() +
                               "' > '" + (dir / "shape.txt").string() + "'"),
              0);
    return ReadAll(dir / "shape.txt");
  }

  wexo_test::HttpPeer peer;
  std::filesystem::path dir;
};

TEST_F(HostileTest, HugeBodiesEndAsAStatusOfTheirOwn) {
  // A gzip bomb (1 MB to 1 GiB of zeros) and a 2 GiB page without a line break, each with a
  // link first, beside an ordinary page.
  const auto rows = Check(peer.Url("/hostile?set=bodies"));
  for (const char* target : {"/gzip-bomb", "/long-line"}) {
    SCOPED_TRACE(target);
    const auto row = rows.find(peer.Url(target));
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->second[1], "200");
    EXPECT_EQ(row->second[11], kCutText);
  }
  const auto first = rows.find(peer.Url("/status/404"));
  ASSERT_NE(first, rows.end()) << "the links before the cut count";
  EXPECT_EQ(first->second[1], "404");
  const auto page = rows.find(peer.Url("/page?size=100"));
  ASSERT_NE(page, rows.end());
  EXPECT_EQ(page->second[1], "200");
  EXPECT_EQ(page->second[11], "");
  EXPECT_EQ(rows.size(), 5u);
  EXPECT_EQ(CsvShape(), "6 [16]\n");
}

TEST_F(HostileTest, AHugeLocalFileIsCheckedToTheLimit) {
  // 10 GiB, nearly all of it a hole: a link, then zeros without a line break.
  const std::filesystem::path big = dir / "site" / "big.html";
  wexo_test::Write(big, "<a href=\"other.html\">other</a>");
  wexo_test::Write(dir / "site" / "other.html", "<html></html>\n");
  ASSERT_EQ(wexo_test::Shell("truncate -s 10G '" + big.string() + "'"), 0);
  const auto rows = Check("file://" + big.string());
  const auto row = rows.find("file://" + big.string());
  ASSERT_NE(row, rows.end());
  EXPECT_EQ(row->second[1], "200");
  EXPECT_EQ(row->second[11], kCutText);
  const auto other = rows.find("file://" + (dir / "site" / "other.html").string());
  ASSERT_NE(other, rows.end());
  EXPECT_EQ(other->second[1], "200");
}

TEST_F(HostileTest, HeaderValuesCannotAddFieldsOrRows) {
  // Server and Content-Type values (type and charset) with TAB, CR and other control characters.
  const auto rows = Check(peer.Url("/hostile?set=headers"));
  EXPECT_EQ(CsvShape(), "6 [16]\n");
  std::multiset<std::string> servers, types, charsets;
  for (const auto& [url, fields] : rows) {
    if (url.find("/raw-headers") == std::string::npos) continue;
    EXPECT_EQ(fields[1], "200") << url;
    servers.insert(fields[10]);
    types.insert(fields[3]);
    charsets.insert(fields[13]);
  }
  EXPECT_EQ(servers, (std::multiset<std::string>{"", "", "a b c", "srv INJECTED-ROW 404"}));
  EXPECT_EQ(types, (std::multiset<std::string>{"text/html", "text/html", "text/html", "text/html x y"}));
  EXPECT_EQ(charsets, (std::multiset<std::string>{"", "", "", "utf-8 z w"}));
}

TEST_F(HostileTest, OversizedHeaderBlocksSaySo) {
  // One header line over curl's 100 KB, and a header block over its 300 KB.
  const auto rows = Check(peer.Url("/hostile?set=oversized"));
  int seen = 0;
  for (const auto& [url, fields] : rows) {
    if (url.find("/many-headers") == std::string::npos) continue;
    ++seen;
    EXPECT_EQ(fields[1], "12004") << url;
    EXPECT_EQ(fields[11], "The response headers were too large") << url;
  }
  EXPECT_EQ(seen, 2);
}

}  // namespace
