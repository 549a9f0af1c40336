// A batch check saved with -save, then reopened from the command line with an export.
#include <gtest/gtest.h>

#include "e2e/support/WexoRun.h"

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

using wexo_test::ReadAll;

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The status column of the export row of url; "" when the export has no such row.
std::string StatusOf(const std::string& exportText, const std::string& url) {
  const std::size_t at = exportText.find("\r\n" + url + "\t");
  if (at == std::string::npos) return std::string();
  const std::size_t begin = at + 2 + url.size() + 1;
  return exportText.substr(begin, exportText.find('\t', begin) - begin);
}

class SavedCheck : public ::testing::Test {
 protected:
  SavedCheck() {
    dir = fs::temp_directory_path() / ("wexo-docfile-" + std::to_string(::getpid()));
    fs::create_directories(dir / "site");
  }
  ~SavedCheck() override { fs::remove_all(dir); }

  int Run(const std::string& args) { return wexo_test::RunWexo(dir, dir, args); }

  fs::path dir;
};

TEST_F(SavedCheck, ReopenedBatchRechecksOnlyBrokenLinks) {
  const fs::path site = dir / "site";
  WriteFile(site / "index.html",
            "<html><body><a href=\"ok.html\">ok</a> <a href=\"missing.html\">gone</a></body></html>");
  WriteFile(site / "ok.html", "<html><body>ok</body></html>");
  const std::string base = "file://" + site.string() + "/";
  ASSERT_EQ(Run("-url " + base + "index.html -save saved.wxo -export first.txt"), 0) << ReadAll(dir / "err.log");
  ASSERT_TRUE(fs::exists(dir / "saved.wxo"));
  const std::string first = ReadAll(dir / "first.txt");
  ASSERT_EQ(StatusOf(first, base + "ok.html"), "200") << first;
  ASSERT_NE(StatusOf(first, base + "missing.html"), "200") << first;
  ASSERT_NE(StatusOf(first, base + "missing.html"), "") << first;

  // Between the two runs the broken link is mended, the good one goes away and the start
  // page links one more page: only a recheck of the broken link may notice anything.
  WriteFile(site / "missing.html", "<html><body>here now</body></html>");
  fs::remove(site / "ok.html");
  WriteFile(site / "index.html",
            "<html><body><a href=\"ok.html\">ok</a> <a href=\"missing.html\">gone</a>"
            " <a href=\"new.html\">new</a></body></html>");

  ASSERT_EQ(Run("saved.wxo -export out.txt"), 0) << ReadAll(dir / "err.log");
  const std::string out = ReadAll(dir / "out.txt");
  EXPECT_TRUE(out.starts_with("Address\tStatus-Code\t")) << out;
  EXPECT_EQ(StatusOf(out, base + "missing.html"), "200") << out;
  EXPECT_EQ(StatusOf(out, base + "ok.html"), "200") << out;
  EXPECT_EQ(StatusOf(out, base + "index.html"), "200") << out;
  EXPECT_EQ(out.find("new.html"), std::string::npos) << out;
}

TEST_F(SavedCheck, DamagedDocumentFailsWithAMessage) {
  WriteFile(dir / "bad.wxo", std::string("\x01\x00\x05http:", 8));
  EXPECT_EQ(Run("bad.wxo -export out.txt"), 1);
  EXPECT_NE(ReadAll(dir / "err.log").find("is not a valid document file"), std::string::npos)
      << ReadAll(dir / "err.log");
  EXPECT_FALSE(fs::exists(dir / "out.txt"));
}

// A file of 40 GB (sparse: zeros, no disk) is refused where its content stops making sense,
// within an address space of 2 GB: it is read as it is parsed, never as a whole.
TEST_F(SavedCheck, AHugeDocumentFileIsRefusedWithoutReadingItWhole) {
  WriteFile(dir / "huge.wxo", "");
  fs::resize_file(dir / "huge.wxo", 40ull << 30);
  EXPECT_EQ(wexo_test::RunWexo(dir, dir, "huge.wxo -export out.txt", 2000000), 1);
  const std::string err = ReadAll(dir / "err.log");
  EXPECT_NE(err.find("File 'huge.wxo' is not a valid document file: "), std::string::npos) << err;
  EXPECT_EQ(err.find("terminate"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "out.txt"));
}

}  // namespace
