// The document's URL-to-record map: an open-addressing table of record indices whose
// keys are the URLs already kept in the document's URL array, so each URL is stored once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class UrlMap {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  explicit UrlMap(const std::vector<std::string>& urls, std::size_t initialBuckets = 7919);

  // Index of the record entered under url, kNone when there is none.
  std::uint32_t Find(std::string_view url) const;
  // Enters urls[index] under its URL; an entry for the same URL now names this index.
  void Set(std::uint32_t index);
  void Clear();
  std::size_t Size() const { return m_count; }

 private:
  static std::uint64_t Hash(std::string_view s);
  void Grow();
  void Place(std::uint64_t slot);

  const std::vector<std::string>& m_urls;
  std::vector<std::uint64_t> m_slots;  // (hash high bits << 32) | (index + 1); 0 = empty
  std::size_t m_mask = 0;
  std::size_t m_count = 0;
};
