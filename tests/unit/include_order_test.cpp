// The folders depend on each other one way only:
//
//   app -> ui -> report -> mail -> engine -> algorithms, platform
//
// A folder's sources and headers include its own headers and those of the folders to its
// right, never one to its left; algorithms and platform stand side by side and include
// neither each other nor anything else of ours. The libraries the CMake files link follow
// the same order. tests/ and bench/ may include anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What each folder may use besides itself.
const std::map<std::string, std::set<std::string>>& Allowed() {
  static const std::map<std::string, std::set<std::string>> allowed = {
      {"app", {"ui", "report", "mail", "engine", "algorithms", "platform"}},
      {"ui", {"report", "mail", "engine", "algorithms", "platform"}},
      {"report", {"mail", "engine", "algorithms", "platform"}},
      {"mail", {"engine", "algorithms", "platform"}},
      {"engine", {"algorithms", "platform"}},
      {"algorithms", {}},
      {"platform", {}},
  };
  return allowed;
}

bool MayUse(const std::string& from, const std::string& to) {
  return from == to || !Allowed().count(to) || Allowed().at(from).count(to) != 0;
}

const fs::path kSource = WEXO_SOURCE_DIR;

std::string Relative(const fs::path& p) { return fs::relative(p, kSource).generic_string(); }

// Every "file:line: what" in the folders' files whose matches of pattern (group 1 names a
// folder or a wexo_ library) break the order.
std::vector<std::string> Offences(const std::regex& pattern, bool cmakeOnly) {
  std::vector<std::string> found;
  for (const auto& [folder, allowed] : Allowed()) {
    const fs::path dir = kSource / folder;
    if (!fs::exists(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().filename().string();
      const std::string ext = entry.path().extension().string();
      if (cmakeOnly ? name != "CMakeLists.txt" : (ext != ".h" && ext != ".cpp")) continue;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        for (std::sregex_iterator m(line.begin(), line.end(), pattern), end; m != end; ++m) {
          const std::string used = (*m)[1];
          if (!MayUse(folder, used))
            found.push_back(Relative(entry.path()) + ":" + std::to_string(number) + ": " + folder + " uses " + used);
        }
      }
    }
  }
  return found;
}

std::string Listed(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

TEST(IncludeOrder, IncludesPointOneWay) {
  // Both spellings: "engine/Url.h" and <engine/Url.h>.
  const std::regex include(R"(^\s*#\s*include\s*["<]([a-z]+)/)");
  const std::vector<std::string> offences = Offences(include, false);
  EXPECT_TRUE(offences.empty()) << Listed(offences);
}

TEST(IncludeOrder, LibrariesLinkOneWay) {
  // wexo_engine is the library of engine/; names that are no folder's (wexo_library) pass.
  const std::regex library(R"(\bwexo_([a-z]+)\b)");
  const std::vector<std::string> offences = Offences(library, true);
  EXPECT_TRUE(offences.empty()) << Listed(offences);
}

// The test sees the folders it judges: a renamed folder must not pass unseen.
TEST(IncludeOrder, TheFoldersAreThere) {
  for (const char* folder : {"app", "report", "mail", "engine", "algorithms", "platform"}) {
    EXPECT_TRUE(fs::is_directory(kSource / folder)) << folder;
  }
  EXPECT_TRUE(fs::exists(kSource / "engine" / "CMakeLists.txt"));
}

}  // namespace
