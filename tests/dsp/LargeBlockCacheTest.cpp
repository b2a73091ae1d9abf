// Large blocks (2 MiB and more) that are freed are kept for a while and handed
// out again; these tests check that reuse never hands out a block twice, too
// small or misaligned, and that the kept memory stays bounded.
#include "DspTestSupport.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace IPPDynamic;

namespace {

using LargeBlockCache = LibraryTest;

constexpr std::size_t MiB = std::size_t{1} << 20;

// The process's mapped address space in bytes (VmSize), which counts every
// mapping whether or not its pages were ever touched.
std::size_t mappedBytes() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}

// Writes `tag` into every page of the block and its last byte.
void stamp(std::uint8_t* block, std::size_t bytes, std::uint8_t tag) {
  for (std::size_t at = 0; at < bytes; at += 4096) block[at] = tag;
  block[bytes - 1] = tag;
}

bool carries(const std::uint8_t* block, std::size_t bytes, std::uint8_t tag) {
  for (std::size_t at = 0; at < bytes; at += 4096)
    if (block[at] != tag) return false;
  return block[bytes - 1] == tag;
}

}  // namespace

TEST_F(LargeBlockCache, ReusedBlocksAreAlignedWholeAndNeverOverlap) {
  const std::vector<std::size_t> first = {2 * MiB, 3 * MiB + 5, 5 * MiB, 2 * MiB, 9 * MiB, 3 * MiB};
  for (std::size_t bytes : first) {
    auto* b = IIPP_MallocByte(static_cast<int>(bytes));
    ASSERT_NE(b, nullptr);
    stamp(b, bytes, 0xEE);
    IIPP_Free(b);
  }
  // Sizes that fit the freed blocks exactly, loosely and not at all.
  const std::vector<std::size_t> second = {9 * MiB, 8 * MiB + 1, 3 * MiB, 2 * MiB, 2 * MiB, 3 * MiB + 5, 6 * MiB};
  std::vector<std::pair<std::uint8_t*, std::size_t>> held;
  for (std::size_t k = 0; k < second.size(); ++k) {
    auto* b = IIPP_MallocByte(static_cast<int>(second[k]));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % (2 * MiB), 0u) << k;
    stamp(b, second[k], static_cast<std::uint8_t>(k + 1));
    held.emplace_back(b, second[k]);
  }
  for (std::size_t k = 0; k < held.size(); ++k) {
    const auto [b, bytes] = held[k];
    EXPECT_TRUE(carries(b, bytes, static_cast<std::uint8_t>(k + 1))) << "block " << k << " was overwritten";
    for (std::size_t m = k + 1; m < held.size(); ++m) {
      const auto [c, cBytes] = held[m];
      EXPECT_TRUE(b + bytes <= c || c + cBytes <= b) << "blocks " << k << " and " << m << " overlap";
    }
  }
  for (const auto& [b, bytes] : held) IIPP_Free(b);
}

TEST_F(LargeBlockCache, AFreedBlockServesTheNextRequestOfItsSizeButNotAMuchSmallerOne) {
  auto* big = IIPP_MallocByte(static_cast<int>(64 * MiB));
  ASSERT_NE(big, nullptr);
  stamp(big, 64 * MiB, 0x5A);
  IIPP_Free(big);
  // A fresh mapping reads as zeros; the kept block still holds what was written.
  auto* again = IIPP_MallocByte(static_cast<int>(60 * MiB));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again, big);
  EXPECT_TRUE(again[0] == 0x5A && again[60 * MiB - 4096] == 0x5A);
  IIPP_Free(again);
  // Far too large for 4 MiB: the request gets its own block.
  auto* small = IIPP_MallocByte(static_cast<int>(4 * MiB));
  ASSERT_NE(small, nullptr);
  EXPECT_NE(small, big);
  IIPP_Free(small);
}

TEST_F(LargeBlockCache, FreedMemoryKeptStaysWithinFourBlocksAndOneGibibyte) {
  const std::size_t before = mappedBytes();
  std::vector<std::uint8_t*> blocks;
  for (int k = 0; k < 8; ++k) blocks.push_back(IIPP_MallocByte(static_cast<int>(16 * MiB)));
  for (auto* b : blocks) {
    ASSERT_NE(b, nullptr);
    b[0] = 1;
    IIPP_Free(b);
  }
  const std::size_t slack = 8 * MiB;  // header pages and whatever the test itself maps
  EXPECT_LE(mappedBytes(), before + 4 * 16 * MiB + slack);

  // Untouched blocks cost address space only, so the byte bound can be tried cheaply.
  blocks.clear();
  for (int k = 0; k < 4; ++k) blocks.push_back(IIPP_MallocByte(static_cast<int>(400 * MiB)));
  for (auto* b : blocks) {
    ASSERT_NE(b, nullptr);
    IIPP_Free(b);
  }
  EXPECT_LE(mappedBytes(), before + 1024 * MiB + slack);
}

TEST_F(LargeBlockCache, ThreadsFreeingAndReusingLargeBlocksNeverShareOne) {
  std::vector<std::thread> threads;
  std::vector<int> corrupted(2, 0);
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([w, &corrupted] {
      std::vector<std::pair<std::uint8_t*, std::size_t>> held;
      unsigned state = static_cast<unsigned>(w) + 7;
      for (int i = 0; i < 150; ++i) {
        state = state * 1664525u + 1013904223u;
        const std::size_t bytes = 2 * MiB + (state >> 12) % (6 * MiB);
        auto* b = IIPP_MallocByte(static_cast<int>(bytes));
        if (b == nullptr) {
          ++corrupted[static_cast<std::size_t>(w)];
          continue;
        }
        stamp(b, bytes, static_cast<std::uint8_t>(w + 1));
        held.emplace_back(b, bytes);
        if (held.size() > 2 || (state & 1)) {
          const auto [old, oldBytes] = held.front();
          corrupted[static_cast<std::size_t>(w)] += !carries(old, oldBytes, static_cast<std::uint8_t>(w + 1));
          IIPP_Free(old);
          held.erase(held.begin());
        }
      }
      for (const auto& [b, bytes] : held) IIPP_Free(b);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(corrupted, std::vector<int>(2, 0));
}
