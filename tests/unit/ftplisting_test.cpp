// FTP folder listings: MLSD facts and the Unix and DOS forms of LIST, line by line.
#include <gtest/gtest.h>

#include "platform/FtpListing.h"

namespace {

using platform::FtpListEntry;

struct Case {
  const char* line;
  bool entry;  // names an entry
  const char* name = "";
  bool folder = false;
  bool sizeKnown = false;
  std::uint64_t size = 0;
};

void Expect(const Case& c, bool parsed, const FtpListEntry& e) {
  ASSERT_EQ(parsed, c.entry) << c.line;
  if (!c.entry) return;
  EXPECT_EQ(e.name, c.name) << c.line;
  EXPECT_EQ(e.folder, c.folder) << c.line;
  EXPECT_EQ(e.sizeKnown, c.sizeKnown) << c.line;
  EXPECT_EQ(e.size, c.size) << c.line;
}

TEST(FtpListing, MlsdLines) {
  const Case cases[] = {
      {"modify=20240101120000;perm=r;size=1234;type=file;unique=fe01; a b.html", true, "a b.html", false, true, 1234},
      {"Type=DIR;Modify=20240101120000; sub", true, "sub", true, false, 0},
      {"type=dir;size=4096; folder", true, "folder", true, false, 0},
      {"type=cdir; .", false},
      {"type=pdir; ..", false},
      {"type=OS.unix=symlink;size=9; link", true, "link", false, true, 9},
      {"type=file; no size;x", true, "no size;x", false, false, 0},
      {"type=file;size=12;", false},
      {"", false},
  };
  for (const Case& c : cases) {
    FtpListEntry e;
    Expect(c, platform::ParseMlsdLine(c.line, e), e);
  }
}

TEST(FtpListing, UnixAndDosListLines) {
  const Case cases[] = {
      {"-rw-r--r--   1 owner    group        1234 Jan 01 12:00 a b.html", true, "a b.html", false, true, 1234},
      {"-rw-r--r--   1 owner    group        1234 Dec 31  2023  lead.html", true, " lead.html", false, true, 1234},
      {"drwxr-xr-x   2 owner    group        4096 Mar  5 09:30 sub", true, "sub", true, false, 0},
      {"-rw-r--r--   1 owner          77 Mar  5 09:30 nogroup.txt", true, "nogroup.txt", false, true, 77},
      {"lrwxrwxrwx   1 owner    group          11 Mar  5 09:30 link -> target.html", true, "link", false, true, 11},
      {"drwxr-xr-x   2 owner    group        4096 Mar  5 09:30 .", false},
      {"drwxr-xr-x   2 owner    group        4096 Mar  5 09:30 ..", false},
      // a link whose name is empty (found by fuzzing)
      {"lrwxrwxrwx   1 o g 0 Jan 01 12:00  -> link -> target", false},
      {"total 12", false},
      {"01-16-24  02:30PM       <DIR>          sub folder", true, "sub folder", true, false, 0},
      {"01-16-2024  14:30                 5678 page.html", true, "page.html", false, true, 5678},
      {"something else entirely", false},
  };
  for (const Case& c : cases) {
    FtpListEntry e;
    Expect(c, platform::ParseListLine(c.line, e), e);
  }
}

TEST(FtpListing, WholeListingsKeepTheServersOrder) {
  const auto mlsd = platform::ParseFtpListing("type=cdir; .\r\ntype=file;size=3; b\r\ntype=dir; a\r\n", true);
  ASSERT_EQ(mlsd.size(), 2u);
  EXPECT_EQ(mlsd[0].name, "b");
  EXPECT_EQ(mlsd[1].name, "a");
  const auto list = platform::ParseFtpListing("total 0\n-rw-r--r-- 1 o g 3 Jan 1 2024 b", false);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].size, 3u);
  EXPECT_TRUE(platform::ParseFtpListing("", true).empty());
}

}  // namespace
