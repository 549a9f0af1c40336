#include "engine/UrlMap.h"

#include <bit>
#include <cstring>

namespace {
constexpr std::uint64_t kIndexMask = 0xFFFFFFFFull;
}

UrlMap::UrlMap(const std::vector<std::string>& urls, std::size_t initialBuckets) : m_urls(urls) {
  std::size_t n = std::bit_ceil(initialBuckets < 16 ? std::size_t{16} : initialBuckets);
  m_slots.assign(n, 0);
  m_mask = n - 1;
}

std::uint64_t UrlMap::Hash(std::string_view s) {
  // Eight bytes a step (a byte at a time cost four cycles a byte), then a final mix so the
  // low bits spread well. The hash lives only in memory: nothing stores it.
  constexpr std::uint64_t k1 = 0x9E3779B97F4A7C15ull, k2 = 0xC2B2AE3D27D4EB4Full;
  std::uint64_t h = k1 ^ (s.size() * k2);
  const char* p = s.data();
  std::size_t n = s.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = std::rotl(h ^ (w * k2), 29) * k1;
  }
  if (n) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = std::rotl(h ^ (w * k2), 29) * k1;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

// A slot keeps the low 32 bits of its URL's hash: they give its position, so growing the
// table never reads a URL again, and they sort out most mismatches without a comparison.
std::uint32_t UrlMap::Find(std::string_view url) const {
  const std::uint64_t tag = Hash(url) & kIndexMask;
  for (std::size_t i = tag & m_mask;; i = (i + 1) & m_mask) {
    const std::uint64_t slot = m_slots[i];
    if (slot == 0) return kNone;
    if ((slot >> 32) == tag) {
      const std::uint32_t index = static_cast<std::uint32_t>((slot & kIndexMask) - 1);
      if (m_urls[index] == url) return index;
    }
  }
}

void UrlMap::Set(std::uint32_t index) {
  if ((m_count + 1) * 2 > m_slots.size()) Grow();
  const std::string& url = m_urls[index];
  const std::uint64_t tag = Hash(url) & kIndexMask;
  const std::uint64_t entry = (tag << 32) | (static_cast<std::uint64_t>(index) + 1);
  for (std::size_t i = tag & m_mask;; i = (i + 1) & m_mask) {
    const std::uint64_t slot = m_slots[i];
    if (slot == 0) {
      m_slots[i] = entry;
      ++m_count;
      return;
    }
    if ((slot >> 32) == tag) {
      const std::uint32_t other = static_cast<std::uint32_t>((slot & kIndexMask) - 1);
      if (m_urls[other] == url) {
        m_slots[i] = entry;
        return;
      }
    }
  }
}

void UrlMap::Place(std::uint64_t entry) {
  for (std::size_t i = (entry >> 32) & m_mask;; i = (i + 1) & m_mask) {
    if (m_slots[i] == 0) {
      m_slots[i] = entry;
      return;
    }
  }
}

void UrlMap::Grow() {
  std::vector<std::uint64_t> old;
  old.swap(m_slots);
  m_slots.assign(old.size() * 2, 0);
  m_mask = m_slots.size() - 1;
  for (std::uint64_t e : old)
    if (e) Place(e);
}

void UrlMap::Clear() {
  std::fill(m_slots.begin(), m_slots.end(), 0);
  m_count = 0;
}
