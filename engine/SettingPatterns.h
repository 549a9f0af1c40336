// Regular expressions from [Options] keys that are read where they are used, kept compiled.
// A changed settings file takes effect at the next use: the keys are looked up again only when
// the file may have changed (a write of ours, a re-read, or the settings layer's own recheck
// interval), and a pattern is compiled again only when its text changed.
//
// Threads: one object per thread (a compiled pattern keeps the state of its last match).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class Regex;

class SettingPatterns {
 public:
  // keys: [Options] keys, in the order their patterns apply; the texts they point to live on.
  explicit SettingPatterns(std::span<const char* const> keys);
  ~SettingPatterns();
  SettingPatterns(const SettingPatterns&) = delete;
  SettingPatterns& operator=(const SettingPatterns&) = delete;

  // The pattern of each key as the settings file holds it now, in the keys' order; nullptr
  // for an empty setting.
  std::span<const std::unique_ptr<Regex>> Current();

 private:
  std::span<const char* const> m_keys;
  std::vector<std::string> m_texts;
  std::vector<std::unique_ptr<Regex>> m_compiled;
  bool m_read = false;
  std::uint64_t m_generation = 0;
  std::string m_file;
  std::chrono::steady_clock::time_point m_readAt;
};
