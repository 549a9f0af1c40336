// The desktop entry and the .wxo document type, installed by tools/install-desktop into a
// data folder of the test's own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// A command's standard output and its exit code.
std::pair<std::string, int> Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {out, -1};
  std::array<char, 512> buffer;
  while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) out.append(buffer.data(), n);
  return {out, ::pclose(pipe)};
}

TEST(Desktop, EntryValidatesAndTheDocumentTypeIsKnownAfterInstalling) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("wexo-desktop-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  const std::string share = (dir / "share").string();
  const std::string source = WEXO_SOURCE_DIR;
  ASSERT_EQ(Output(source + "/tools/install-desktop '" + share + "' '" + WEXO_EXE + "'").second, 0);

  const auto [problems, valid] = Output("desktop-file-validate '" + share + "/applications/wexo.desktop' 2>&1");
  EXPECT_EQ(valid, 0) << problems;
  EXPECT_EQ(problems, "");
  std::ifstream entry(share + "/applications/wexo.desktop");
  std::string text((std::istreambuf_iterator<char>(entry)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find(std::string("Exec=") + WEXO_EXE + " %f\n"), std::string::npos) << text;

  std::ofstream(dir / "x.wxo") << "";
  const auto [type, rc] =
      Output("env XDG_DATA_HOME='" + share + "' XDG_DATA_DIRS=/usr/share xdg-mime query filetype '" +
             (dir / "x.wxo").string() + "'");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(type, "application/x-wexo-document\n");
  std::filesystem::remove_all(dir);
}

// The whole file; "" when it cannot be read.
std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A program whose path holds blanks and the characters a shell or the entry's Exec rules give a
// meaning to is started as itself, with the document as its one argument: the desktop's own
// launcher (gio) runs the installed entry, and a stand-in program records what it was given.
TEST(Desktop, AProgramPathWithBlanksAndSpecialCharactersStartsThatProgram) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("wexo-desktop-exec-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  struct Case {
    const char* folder;  // of the program, named wexo inside it
    const char* exec;    // the Exec line's program word, for the case gio cannot run (or nullptr)
  } cases[] = {
      {"with blank", nullptr},
      {"a&b", nullptr},
      {"a|b", nullptr},
      {"q\"u`o$t\\e;s'<>~*?#()", nullptr},
      // GLib looks for the program before it turns "%%" back into '%': only the line is checked.
      {"100%", "\"@/100%%/wexo\""},
  };
  const std::string source = WEXO_SOURCE_DIR;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const std::filesystem::path home = dir / std::to_string(&c - cases);
    const std::filesystem::path program = home / c.folder / "wexo";
    std::filesystem::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$(dirname \"$0\")/../args.tmp\"\n"
                              "mv \"$(dirname \"$0\")/../args.tmp\" \"$(dirname \"$0\")/../args\"\n";
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    const std::string share = (home / "share").string();
    // The path goes to the script through the environment: no quoting of ours in between.
    ASSERT_EQ(::setenv("WEXO_TEST_PROGRAM", program.c_str(), 1), 0);
    ASSERT_EQ(Output(source + "/tools/install-desktop '" + share + "' \"$WEXO_TEST_PROGRAM\"").second, 0);
    const std::string entry = share + "/applications/wexo.desktop";
    const auto [problems, valid] = Output("desktop-file-validate '" + entry + "' 2>&1");
    EXPECT_EQ(valid, 0) << problems;
    EXPECT_EQ(problems, "");
    if (c.exec) {
      std::string word = c.exec;
      word.replace(word.find('@'), 1, home.string());
      EXPECT_NE(Read(entry).find("\nExec=" + word + " %f\n"), std::string::npos) << Read(entry);
      continue;
    }
    const std::string document = (home / "a document.wxo").string();
    std::ofstream(document) << "";
    const auto [said, launched] = Output("gio launch '" + entry + "' '" + document + "' 2>&1");
    EXPECT_EQ(launched, 0) << said;
    if (launched != 0) continue;
    // The launcher does not wait for the program: its record is waited for, within bounds.
    for (int i = 0; i < 3000 && !std::filesystem::exists(home / "args"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Read(home / "args"), program.string() + "\n" + document + "\n");
  }
  ::unsetenv("WEXO_TEST_PROGRAM");
  std::filesystem::remove_all(dir);
}

}  // namespace
