// The desktop entry and the .wxo document type, installed by tools/install-desktop into a
// data folder of the test's own.
#include <gtest/gtest.h>

#include <unistd.h>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

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

}  // namespace
