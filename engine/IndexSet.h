// A set of record indices in one flat table (open addressing, at most half full): no
// allocation per member, as a node-based set would make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class IndexSet {
 public:
  // Empties the set, with room for about `expected` members.
  void Clear(std::size_t expected = 0) {
    std::size_t size = 64;
    while (size < 2 * expected + 2) size *= 2;
    // The room of a much larger set is given back.
    if (m_slots.capacity() > 4 * size) std::vector<std::uint64_t>().swap(m_slots);
    m_slots.assign(size, 0);
    m_count = 0;
  }
  bool Contains(std::uint32_t index) const {
    if (m_slots.empty()) return false;
    return m_slots[Find(index)] != 0;
  }
  // Adds the index; false when it was a member already.
  bool Insert(std::uint32_t index) {
    if ((m_count + 1) * 2 > m_slots.size()) Grow();
    const std::size_t at = Find(index);
    if (m_slots[at] != 0) return false;
    m_slots[at] = std::uint64_t{index} + 1;
    ++m_count;
    return true;
  }

 private:
  // The slot of index, or the free slot where it would go.
  std::size_t Find(std::uint32_t index) const {
    const std::uint64_t key = std::uint64_t{index} + 1;
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = static_cast<std::size_t>((std::uint64_t{index} * 0x9E3779B97F4A7C15ull) >> 32) & mask;
    while (m_slots[i] != 0 && m_slots[i] != key) i = (i + 1) & mask;
    return i;
  }
  void Grow() {
    std::vector<std::uint64_t> old(m_slots.empty() ? 64 : m_slots.size() * 2, 0);
    old.swap(m_slots);
    for (std::uint64_t key : old)
      if (key) m_slots[Find(static_cast<std::uint32_t>(key - 1))] = key;
  }
  // index + 1 per member (so 0 is free); 64 bits, as a record index may be 0xFFFFFFFF.
  std::vector<std::uint64_t> m_slots;
  std::size_t m_count = 0;
};
