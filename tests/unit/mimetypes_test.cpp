#include "platform/MimeTypes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::ContentTypeForExtension;
using platform::MimeTypeTable;

class MimeTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wexo-mime-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0); }
  std::string dir_;
};

TEST_F(MimeTypesTest, EngineTypesWinOverTheFile) {
  std::string path = dir_ + "/mime.types";
  std::ofstream(path) << "# comment line\n"
                         "text/plain htm html css\n"  // must not change the engine's types
                         "application/x-test  tst  TST2 # trailing comment\n"
                         "application/first dup\n"
                         "application/second dup\n"
                         "image/png png\r\n"
                         "application/only-type\n"
                         "noslash foo\n";
  MimeTypeTable table(path);
  const struct {
    const char* ext;
    const char* type;
  } cases[] = {
      {".htm", "text/html"},
      {".HTML", "text/html"},
      {".css", "text/css"},
      {".xhtml", "application/xhtml+xml"},
      {".xht", "application/xhtml+xml"},
      {".wml", "text/vnd.wap.wml"},
      {".tst", "application/x-test"},
      {".tst2", "application/x-test"},
      {".TsT", "application/x-test"},
      {".dup", "application/first"},
      {".png", "image/png"},
      {".foo", ""},
      {".comment", ""},
      {".jar", "application/java-archive"},  // built-in fallback
      {"htm", ""},
      {".", ""},
      {"", ""},
      {".d/file", ""},
      {".unknownext", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(table.Lookup(c.ext), c.type) << c.ext;
}

TEST_F(MimeTypesTest, WorksWithoutMimeTypesFile) {
  MimeTypeTable table(dir_ + "/missing");
  const struct {
    const char* ext;
    const char* type;
  } cases[] = {
      {".htm", "text/html"},
      {".Html", "text/html"},
      {".css", "text/css"},
      {".xhtml", "application/xhtml+xml"},
      {".wml", "text/vnd.wap.wml"},
      {".jar", "application/java-archive"},
      {".GIF", "image/gif"},
      {".jpg", "image/jpeg"},
      {".png", "image/png"},
      {".pdf", "application/pdf"},
      {".nothing", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(table.Lookup(c.ext), c.type) << c.ext;
}

TEST_F(MimeTypesTest, SystemTableFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i)
        if (ContentTypeForExtension(i % 2 ? ".HTM" : ".css") != (i % 2 ? "text/html" : "text/css")) ++wrong[t];
    });
  for (auto& th : threads) th.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
  EXPECT_EQ(ContentTypeForExtension(".xht"), "application/xhtml+xml");
  EXPECT_EQ(ContentTypeForExtension(".wml"), "text/vnd.wap.wml");
}

}  // namespace
