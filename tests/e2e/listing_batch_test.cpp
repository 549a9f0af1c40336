// A batch check of a local tree through the generated folder listings: files that no page
// links to are found, and checked like the linked ones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/support/WexoRun.h"

namespace {

using wexo_test::Rows;
using wexo_test::Write;

class ListingBatch : public ::testing::Test {
 protected:
  ListingBatch() {
    dir = std::filesystem::canonical(std::filesystem::temp_directory_path()) /
          ("wexo-listing-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "run");
    Write(dir / "site/index.html", "<html><body><a href=\"a.html\">A</a></body></html>\n");
    Write(dir / "site/a.html", "<html><body>linked</body></html>\n");
    Write(dir / "site/orphan.html", "<html><body><a href=\"deep/hidden.html\">H</a></body></html>\n");
    Write(dir / "site/deep/hidden.html", "<html><body>hidden</body></html>\n");
    Write(dir / "site/sub/inner page.html", "<html><body><a href=\"gone.html\">gone</a></body></html>\n");
    Write(dir / "site/sub/data.txt", "plain data\n");
    Write(dir / "site/sub/empty.txt", "");
  }
  ~ListingBatch() override { std::filesystem::remove_all(dir); }

  // Checks the tree from its folder with listings on or off; the export's rows.
  std::map<std::string, std::vector<std::string>> Check(bool listings) {
    Write(dir / "wexo.ini", std::string("[Options]\nListLocalDirectories=") + (listings ? "1" : "0") + "\n");
    EXPECT_EQ(wexo_test::RunWexo(dir / "run", dir, "-url " + Root() + " -export all.txt"), 0)
        << wexo_test::ReadAll(dir / "run/err.log");
    return Rows(wexo_test::ReadAll(dir / "run/all.txt"));
  }
  std::string Root() const { return "file://" + (dir / "site").string() + "/"; }

  std::filesystem::path dir;
};

TEST_F(ListingBatch, FindsTheFilesNoPageLinksTo) {
  auto rows = Check(true);
  const std::string root = Root();
  const std::pair<std::string, const char*> expected[] = {
      {root, "200"},
      {root + "index.html", "200"},
      {root + "a.html", "200"},
      {root + "orphan.html", "200"},
      {root + "deep/", "200"},
      {root + "deep/hidden.html", "200"},
      {root + "sub/", "200"},
      {root + "sub/inner%20page.html", "200"},
      {root + "sub/data.txt", "200"},
      {root + "sub/empty.txt", "204"},
      {root + "sub/gone.html", "2"},
  };
  for (const auto& [url, status] : expected) {
    ASSERT_TRUE(rows.count(url)) << url << "\n" << wexo_test::ReadAll(dir / "run/all.txt");
    EXPECT_EQ(rows[url][1], status) << url;
  }
  EXPECT_EQ(rows[root + "sub/data.txt"][4], "11") << "the file's own size";

  // Without listings the folder is a file of no length, and nothing below it is found.
  rows = Check(false);
  ASSERT_TRUE(rows.count(root)) << wexo_test::ReadAll(dir / "run/all.txt");
  EXPECT_EQ(rows[root][1], "204");
  EXPECT_FALSE(rows.count(root + "orphan.html"));
  EXPECT_FALSE(rows.count(root + "sub/data.txt"));
}

}  // namespace
