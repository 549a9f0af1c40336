// The INI reader over a fuzzed file: every value it gives is cut to 4095 bytes, and writing
// one key changes that key alone; every other value reads as before.
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"

namespace {

// The names a null section or key query gives, each ended by a NUL.
std::vector<std::string> Names(const std::string& list) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t end = list.find('\0', start);
    names.push_back(list.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return names;
}

using Values = std::vector<std::pair<std::string, std::string>>;

// Section, key and value of every key, in file order.
std::vector<Values> ReadAll(const std::string& path, std::vector<std::string>& sections) {
  sections = Names(platform::GetPrivateProfileString(nullptr, nullptr, "", path));
  std::vector<Values> all;
  for (const std::string& section : sections) {
    Values& values = all.emplace_back();
    for (const std::string& key : Names(platform::GetPrivateProfileString(section.c_str(), nullptr, "", path))) {
      std::string value = platform::GetPrivateProfileString(section.c_str(), key.c_str(), "\x01", path);
      FUZZ_CHECK(value.size() <= 4095);
      values.emplace_back(key, std::move(value));
    }
  }
  return all;
}

bool SameNoCase(const std::string& a, const char* b) {
  std::string lower = a;
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return lower == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::PathOf("fuzz.ini");
  platform::SetProfileRecheckInterval(std::chrono::milliseconds(0));
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

  std::vector<std::string> sections;
  const std::vector<Values> before = ReadAll(path, sections);
  FUZZ_CHECK(platform::WritePrivateProfileString("fuzzsection", "fuzzkey", "written value", path));
  FUZZ_CHECK(platform::GetPrivateProfileString("fuzzsection", "fuzzkey", "", path) == "written value");
  for (std::size_t s = 0; s < sections.size(); ++s) {
    for (const auto& [key, value] : before[s]) {
      if (SameNoCase(sections[s], "fuzzsection") && SameNoCase(key, "fuzzkey")) continue;
      FUZZ_CHECK(platform::GetPrivateProfileString(sections[s].c_str(), key.c_str(), "\x01", path) == value);
    }
  }
  return 0;
}
