#include "platform/TextFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform::LineReader;
using platform::TextFileWriter;

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Opens the file, or (memory) reads it first and opens the text.
void OpenEither(LineReader& reader, const std::string& path, bool memory) {
  if (memory)
    reader.OpenText(std::make_shared<const std::string>(FileText(path)), path);
  else
    EXPECT_TRUE(reader.Open(path));
}

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/wexo-textfile-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/out.txt";
  }
  void TearDown() override { ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0); }

  static void Put(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static std::string Get(const std::string& path) { return FileText(path); }
  // The file's lines; the same text read from memory must give the same lines and offsets.
  static std::vector<std::string> ReadAllLines(const std::string& path, std::vector<std::uint64_t>* offsets = nullptr) {
    std::vector<std::string> lines[2];
    std::vector<std::uint64_t> at[2];
    for (int memory = 0; memory < 2; ++memory) {
      LineReader reader;
      OpenEither(reader, path, memory);
      std::string line;
      while (reader.ReadLine(line)) {
        lines[memory].push_back(line);
        at[memory].push_back(reader.LineOffset());
      }
      EXPECT_FALSE(reader.Failed()) << reader.Error();
    }
    EXPECT_EQ(lines[1], lines[0]) << "read from memory";
    EXPECT_EQ(at[1], at[0]) << "read from memory";
    if (offsets) *offsets = at[0];
    return lines[0];
  }

  std::string dir_;
  std::string path_;
};

TEST_F(TextFileTest, WriterTurnsEveryNewlineIntoCrLf) {
  const struct {
    std::vector<std::string> writes;
    std::string bytes;
  } cases[] = {
      {{"a\nb"}, "a\r\nb"},
      {{"\n\n"}, "\r\n\r\n"},
      {{"x\r\ny"}, "x\r\r\ny"},  // as Windows text mode writes it
      {{""}, ""},
      {{"one", " two\n", "\nthree\n"}, "one two\r\n\r\nthree\r\n"},
  };
  for (const auto& c : cases) {
    TextFileWriter w;
    ASSERT_TRUE(w.Open(path_));
    for (const std::string& s : c.writes) ASSERT_TRUE(w.Write(s));
    ASSERT_TRUE(w.Close()) << w.Error();
    EXPECT_EQ(Get(path_), c.bytes);
  }
}

TEST_F(TextFileTest, WriterFormatsAndHandlesLargeOutput) {
  TextFileWriter w;
  ASSERT_TRUE(w.Open(path_));
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_TRUE(w.WriteFormat("%d\t%s\n", i, "http://example.test/page"));
    expected += std::to_string(i) + "\thttp://example.test/page\r\n";
  }
  std::string big(3000, 'z');  // longer than the format's first buffer
  ASSERT_TRUE(w.WriteFormat("%s\n", big.c_str()));
  expected += big + "\r\n";
  ASSERT_TRUE(w.Close());
  EXPECT_EQ(Get(path_), expected);
}

TEST_F(TextFileTest, TruncateReplacesAndAppendKeeps) {
  Put(path_, "old\r\n");
  {
    TextFileWriter w;
    ASSERT_TRUE(w.Open(path_, TextFileWriter::Mode::Append));
    ASSERT_TRUE(w.Write("new\n"));
    ASSERT_TRUE(w.Close());
  }
  EXPECT_EQ(Get(path_), "old\r\nnew\r\n");
  {
    TextFileWriter w;
    ASSERT_TRUE(w.Open(path_));
    ASSERT_TRUE(w.Write("fresh\n"));
    ASSERT_TRUE(w.Close());
  }
  EXPECT_EQ(Get(path_), "fresh\r\n");
}

TEST_F(TextFileTest, WriterReportsErrors) {
  TextFileWriter missing;
  EXPECT_FALSE(missing.Open(dir_ + "/no/such/folder/file.txt"));
  EXPECT_EQ(missing.ErrorNumber(), ENOENT);
  EXPECT_NE(missing.Error().find("No such file or directory"), std::string::npos);
  EXPECT_FALSE(missing.Write("x"));

  // /dev/full accepts the open and fails every write with ENOSPC.
  TextFileWriter full;
  ASSERT_TRUE(full.Open("/dev/full"));
  std::string block(100000, 'x');
  bool wrote = full.Write(block);  // may be buffered or fail at once
  bool closed = full.Close();
  EXPECT_FALSE(wrote && closed);
  EXPECT_FALSE(closed);
  EXPECT_EQ(full.ErrorNumber(), ENOSPC);

  // A small write is buffered: the failure still shows at Close.
  TextFileWriter small;
  ASSERT_TRUE(small.Open("/dev/full"));
  EXPECT_TRUE(small.Write("tiny\n"));
  EXPECT_FALSE(small.Close());
  EXPECT_NE(small.Error().find("No space left on device"), std::string::npos);
}

TEST_F(TextFileTest, ReaderSplitsLines) {
  const struct {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb\nc", {"a", "b", "c"}}, {"a\n", {"a"}},       {"", {}}, {"\n", {""}},
      {"\r\n\r\n", {"", ""}},         {"a\r", {"a\r"}},  // only a CR right before LF is dropped
      {"a\r\r\n", {"a\r"}},           {"a\rb\n", {"a\rb"}},
  };
  for (const auto& c : cases) {
    Put(path_, c.bytes);
    EXPECT_EQ(ReadAllLines(path_), c.lines) << testing::PrintToString(c.bytes);
  }
}

TEST_F(TextFileTest, ReaderGivesLineOffsets) {
  Put(path_, "ab\r\ncd\n\nlast");
  std::vector<std::uint64_t> offsets;
  EXPECT_EQ(ReadAllLines(path_, &offsets), (std::vector<std::string>{"ab", "cd", "", "last"}));
  EXPECT_EQ(offsets, (std::vector<std::uint64_t>{0, 4, 7, 8}));
}

TEST_F(TextFileTest, RoundTripAcrossBlockBoundaries) {
  // Lengths chosen so line ends, and CRs, fall on and around the 64 KiB block edges,
  // plus lines longer than a block.
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i)
    lines.push_back(std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26)));
  lines.push_back(std::string(65535, 'L'));
  lines.push_back("");
  lines.push_back(std::string(200000, 'M'));
  for (int i = 0; i < 2000; ++i) lines.push_back(std::to_string(i));
  {
    TextFileWriter w;
    ASSERT_TRUE(w.Open(path_));
    for (const std::string& l : lines) ASSERT_TRUE(w.Write(l + "\n"));
    ASSERT_TRUE(w.Close());
  }
  std::vector<std::uint64_t> offsets;
  EXPECT_EQ(ReadAllLines(path_, &offsets), lines);
  std::uint64_t expect = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(offsets[i], expect) << i;
    expect += lines[i].size() + 2;
  }
}

// Every piece a reader with those limits hands over, "+" marking the ones whose line goes on;
// the same text read from memory must give the same pieces.
std::vector<std::string> Pieces(const std::string& path, std::size_t pieceLimit, std::uint64_t byteLimit, bool* cut) {
  std::vector<std::string> pieces[2];
  bool wasCut[2] = {};
  for (int memory = 0; memory < 2; ++memory) {
    LineReader reader;
    OpenEither(reader, path, memory);
    reader.SetLimits(pieceLimit, byteLimit);
    std::string piece;
    while (reader.ReadLine(piece)) pieces[memory].push_back(piece + (reader.LineContinues() ? "+" : ""));
    wasCut[memory] = reader.WasCut();
  }
  EXPECT_EQ(pieces[1], pieces[0]) << "read from memory";
  EXPECT_EQ(wasCut[1], wasCut[0]) << "read from memory";
  if (cut) *cut = wasCut[0];
  return pieces[0];
}

TEST_F(TextFileTest, ReaderHandsLongLinesOverInPieces) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string bytes;
    std::size_t pieceLimit;
    Lines pieces;
  } cases[] = {
      {"abcdefg\nhij\n", 3, {"abc+", "def+", "g", "hij"}},
      {"abc\r\nabcd\r\n", 3, {"abc", "abc+", "d"}},
      {"ab\r\n", 2, {"ab"}},
      {"abc\r\n", 2, {"ab+", "c"}},  // the CR waits for its LF
      {"ab\r\r\n", 2, {"ab+", "\r"}},
      {"abcd", 2, {"ab+", "cd"}},
      {"abcde", 2, {"ab+", "cd+", "e"}},
      {std::string(200000, 'x') + "\n", 0, {std::string(200000, 'x')}},
  };
  for (const auto& c : cases) {
    Put(path_, c.bytes);
    EXPECT_EQ(Pieces(path_, c.pieceLimit, 0, nullptr), c.pieces) << testing::PrintToString(c.bytes);
  }
  // Pieces joined are the lines, whatever the limit, across block edges too.
  std::string big;
  for (int i = 0; i < 40; ++i)
    big += std::string(static_cast<std::size_t>(i * 7919 % 140000), 'a' + i % 26) + (i % 3 ? "\r\n" : "\n");
  Put(path_, big + "tail\r");
  const std::vector<std::string> lines = ReadAllLines(path_);
  for (std::size_t limit : {5u, 4096u, 65536u, 100000u}) {
    Lines joined(1);
    for (const std::string& piece : Pieces(path_, limit, 0, nullptr)) {
      const bool goesOn = piece.ends_with('+');
      ASSERT_LE(piece.size() - goesOn, limit);
      joined.back() += piece.substr(0, piece.size() - goesOn);
      if (!goesOn) joined.emplace_back();
    }
    joined.pop_back();
    EXPECT_EQ(joined, lines) << limit;
  }
}

TEST_F(TextFileTest, ReaderStopsAtItsByteLimit) {
  Put(path_, "ab\ncd\nef");
  const struct {
    std::uint64_t limit;
    std::vector<std::string> lines;
    bool cut;
  } cases[] = {
      {4, {"ab", "c"}, true},
      {7, {"ab", "cd", "e"}, true},
      {8, {"ab", "cd", "ef"}, false},
      {100, {"ab", "cd", "ef"}, false},
  };
  for (const auto& c : cases) {
    bool cut = !c.cut;
    EXPECT_EQ(Pieces(path_, 0, c.limit, &cut), c.lines) << c.limit;
    EXPECT_EQ(cut, c.cut) << c.limit;
  }
}

TEST_F(TextFileTest, ReaderReportsErrors) {
  LineReader missing;
  EXPECT_FALSE(missing.Open(dir_ + "/missing.txt"));
  EXPECT_EQ(missing.ErrorNumber(), ENOENT);

  LineReader folder;  // opening a folder works, reading it fails
  ASSERT_TRUE(folder.Open(dir_));
  std::string line;
  EXPECT_FALSE(folder.ReadLine(line));
  EXPECT_TRUE(folder.Failed());
  EXPECT_EQ(folder.ErrorNumber(), EISDIR);
}

}  // namespace
