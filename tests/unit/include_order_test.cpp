// The folders depend on each other one way only:
//
//   app -> ui -> report -> mail -> engine -> algorithms, platform
//          ui -> ui/rows -> engine
//
// A folder's sources and headers include its own headers and those of the folders to its
// right, never one to its left; algorithms and platform stand side by side and include
// neither each other nor anything else of ours. ui/rows, the list's rows, is a layer of its
// own inside ui: it uses the engine only. The libraries the CMake files link follow the same
// order (wexo_ui_rows is the library of ui/rows). The toolkit (wx) is used by ui alone.
// tests/ and bench/ may include anything.
#include <gtest/gtest.h>

#include <algorithm>
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
      {"app", {"ui", "ui/rows", "report", "mail", "engine", "algorithms", "platform"}},
      {"ui", {"ui/rows", "report", "mail", "engine", "algorithms", "platform", "wx"}},
      {"ui/rows", {"engine", "algorithms", "platform"}},
      {"report", {"mail", "engine", "algorithms", "platform"}},
      {"mail", {"engine", "algorithms", "platform"}},
      {"engine", {"algorithms", "platform"}},
      {"algorithms", {}},
      {"platform", {}},
      {"wx", {}},  // the toolkit: no folder of ours
  };
  return allowed;
}

// The layer of a path below the source folder or of an include ("ui/rows/LinkRows.h" is
// ui/rows, "ui/LinkList.h" ui, "wx/listctrl.h" wx); the first folder when it is no layer.
std::string LayerOf(const std::string& path) {
  std::string layer = path.substr(0, path.find('/'));
  for (const auto& entry : Allowed())
    if (entry.first.size() > layer.size() && (path == entry.first || path.starts_with(entry.first + "/")))
      layer = entry.first;
  return layer;
}

bool MayUse(const std::string& from, const std::string& to) {
  return from == to || !Allowed().count(to) || Allowed().at(from).count(to) != 0;
}

const fs::path kSource = WEXO_SOURCE_DIR;

std::string Relative(const fs::path& p) { return fs::relative(p, kSource).generic_string(); }

// Every "file:line: what" in the folders' files whose matches of pattern (group 1 names an
// included path, or a library with '/' for '_') break the order.
std::vector<std::string> Offences(const std::regex& pattern, bool cmakeOnly) {
  std::vector<std::string> found;
  for (const auto& [folder, allowed] : Allowed()) {
    const fs::path dir = kSource / folder;
    if (!fs::exists(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      // A layer inside a folder is judged as itself.
      if (LayerOf(Relative(entry.path())) != folder) continue;
      const std::string name = entry.path().filename().string();
      const std::string ext = entry.path().extension().string();
      if (cmakeOnly ? name != "CMakeLists.txt" : (ext != ".h" && ext != ".cpp")) continue;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        for (std::sregex_iterator m(line.begin(), line.end(), pattern), end; m != end; ++m) {
          // The group that matched; a library's name spells '/' as '_'.
          std::string used = (*m)[1].matched ? (*m)[1].str() : (*m)[2].str();
          std::replace(used.begin(), used.end(), '_', '/');
          used = LayerOf(used);
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
  // Both spellings: "engine/Url.h" and <engine/Url.h>; <wx/...> is the toolkit's.
  const std::regex include(R"(^\s*#\s*include\s*["<]([a-z]+(?:/[a-z]+)*)/)");
  const std::vector<std::string> offences = Offences(include, false);
  EXPECT_TRUE(offences.empty()) << Listed(offences);
}

TEST(IncludeOrder, LibrariesLinkOneWay) {
  // wexo_engine is the library of engine/, wexo_ui_rows of ui/rows; names that are no
  // folder's (wexo_library) pass. The toolkit's libraries come as wxWidgets_LIBRARIES.
  const std::regex library(R"(\bwexo_([a-z_]+)\b|\b(wx)Widgets_)");
  const std::vector<std::string> offences = Offences(library, true);
  EXPECT_TRUE(offences.empty()) << Listed(offences);
}

// The rules the scans apply, on paths that name each layer.
TEST(IncludeOrder, LayersOfPaths) {
  const struct {
    const char* from;
    const char* path;
    bool allowed;
  } cases[] = {
      {"ui", "ui/rows/LinkRows.h", true},
      {"ui/rows", "engine/WexoDoc.h", true},
      {"ui/rows", "ui/rows", true},
      {"ui/rows", "ui", false},
      {"ui/rows", "ui/LinkList.h", false},
      {"ui/rows", "report/TabExport.h", false},
      {"ui/rows", "wx/listctrl.h", false},
      {"engine", "wx/string.h", false},
      {"report", "ui/rows/LinkRows.h", false},
      {"ui", "wx/generic/listctrl.h", true},
      {"app", "wx", false},
      {"engine", "gtest/gtest.h", true},
  };
  for (const auto& c : cases) EXPECT_EQ(MayUse(c.from, LayerOf(c.path)), c.allowed) << c.from << " " << c.path;
}

// The test sees the folders it judges: a renamed folder must not pass unseen.
TEST(IncludeOrder, TheFoldersAreThere) {
  for (const char* folder : {"app", "ui", "ui/rows", "report", "mail", "engine", "algorithms", "platform"}) {
    EXPECT_TRUE(fs::is_directory(kSource / folder)) << folder;
  }
  EXPECT_TRUE(fs::exists(kSource / "engine" / "CMakeLists.txt"));
}

}  // namespace
