// Every variant against the C library's memmove: every count up to 4096 at
// source and destination alignments 0…63, disjoint and overlapping both ways,
// with the bytes around the destination checked as canaries.
#include "blockmove/BlockMove.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "blockmove/CpuIdent.h"

using namespace BlockMove;

namespace {

using Bytes = std::vector<unsigned char>;

// Destination alignments tried per (count, source alignment) in the full
// sweep; every alignment pair is tried for the counts at the band edges.
#ifdef BLOCKMOVE_SPARSE_SWEEP
constexpr int DestAlignmentsPerSource = 1;
#else
constexpr int DestAlignmentsPerSource = 4;
#endif
constexpr size_t MaxCount = 4096;
constexpr size_t Margin = 64;  // canary bytes on each side of every region

Bytes randomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

// A buffer of distinct-looking bytes. check() moves count bytes from offset
// `from` to offset `to` and compares every byte of both regions and their
// margins with what memmove gives, then restores them.
class MoveChecker {
 public:
  explicit MoveChecker(size_t size) : pristine_(randomBytes(size, 7)), work_(pristine_) {}

  ::testing::AssertionResult check(TMoveDispatch move, size_t from, size_t to, size_t count) {
    move(work_.data() + from, work_.data() + to, static_cast<std::intptr_t>(count));
    const size_t lo = std::min(from, to) - Margin, hi = std::max(from, to) + count + Margin;
    const bool separate = hi - lo > 2 * (count + 2 * Margin);
    auto result = ::testing::AssertionSuccess();
    if (std::memcmp(work_.data() + to, pristine_.data() + from, count) != 0)
      result = ::testing::AssertionFailure() << "destination differs";
    else if (!unchanged(to - Margin, to) || !unchanged(to + count, to + count + Margin))
      result = ::testing::AssertionFailure() << "canary overwritten";
    else if (separate && !unchanged(from - Margin, from + count + Margin))
      result = ::testing::AssertionFailure() << "source changed";
    else if (!separate && !unchangedOutside(lo, hi, to, to + count))
      result = ::testing::AssertionFailure() << "bytes beside the move changed";
    if (!result) result << " (from " << from << " to " << to << ", count " << count << ")";
    restore(to - Margin, to + count + Margin);
    if (separate) restore(from - Margin, from + count + Margin);
    else restore(lo, hi);
    return result;
  }

 private:
  bool unchanged(size_t a, size_t b) const {
    return std::memcmp(work_.data() + a, pristine_.data() + a, b - a) == 0;
  }
  bool unchangedOutside(size_t a, size_t b, size_t skipA, size_t skipB) const {
    return unchanged(a, skipA) && unchanged(skipB, b);
  }
  void restore(size_t a, size_t b) { std::memcpy(work_.data() + a, pristine_.data() + a, b - a); }

  Bytes pristine_, work_;
};

// Where source and destination sit for one case, by alignment within 64.
enum class Layout { Disjoint, SourceAbove, SourceBelow };

struct Placement {
  size_t from, to;
};

constexpr size_t RegionSize = MaxCount + 4 * Margin;

Placement place(Layout layout, size_t sourceAlign, size_t destAlign) {
  switch (layout) {
    case Layout::Disjoint: return {2 * Margin + sourceAlign, RegionSize + 2 * Margin + destAlign};
    case Layout::SourceAbove: return {2 * Margin + Margin + sourceAlign, 2 * Margin + destAlign};  // 1…127 apart
    case Layout::SourceBelow: return {2 * Margin + sourceAlign, 2 * Margin + Margin + destAlign};
  }
  return {};
}

bool isBandEdge(size_t count) {
  for (const size_t edge : {36, 68, 71, 127, 1023, 2047, 2175, 4095})
    if (count + 2 >= edge && count <= edge + 3) return true;
  return count <= 8;
}

struct Variant {
  const char* name;
  TMoveDispatch move;
};
void PrintTo(const Variant& variant, std::ostream* out) { *out << variant.name; }

class EveryVariant : public ::testing::TestWithParam<Variant> {
 protected:
  void TearDown() override { PrefetchLimit = 0; }

  // Every count 0…4096 at every source alignment with a spread of
  // destination alignments, every alignment pair at the band edges.
  void sweep(Layout layout) {
    MoveChecker checker(2 * RegionSize + 4 * Margin);
    std::mt19937 random(static_cast<unsigned>(layout) + 1);
    int failures = 0;
    for (size_t count = 0; count <= MaxCount && failures < 5; ++count) {
      // Odd counts from 2048 up take the SSE variant's ordinary stores, even ones its streaming stores.
      PrefetchLimit = count % 2 ? INT32_MIN : 0;
      const bool edge = isBandEdge(count);
      for (size_t sa = 0; sa < 64; ++sa) {
        for (int k = 0; k < (edge ? 64 : DestAlignmentsPerSource); ++k) {
          const size_t da = edge ? k : random() % 64;
          const Placement p = place(layout, sa, da);
          if (auto r = checker.check(GetParam().move, p.from, p.to, count); !r) {
            ADD_FAILURE() << r.message();
            ++failures;
          }
        }
      }
    }
  }
};

TEST_P(EveryVariant, DisjointMovesMatchMemmoveAtEveryCountAndAlignment) { sweep(Layout::Disjoint); }
TEST_P(EveryVariant, OverlapWithSourceAboveMatchesMemmove) { sweep(Layout::SourceAbove); }
TEST_P(EveryVariant, OverlapWithSourceBelowMatchesMemmove) { sweep(Layout::SourceBelow); }

TEST_P(EveryVariant, OverlapAtEveryDistanceMatchesMemmove) {
  MoveChecker checker(3 * 3000 + 4 * Margin);
  for (const size_t count : {40, 100, 1100, 2100, 2500}) {
    for (size_t distance = 1; distance <= count + 1; ++distance) {
      for (const size_t align : {0, 5}) {
        const size_t low = 2 * Margin + align;
        ASSERT_TRUE(checker.check(GetParam().move, low + distance, low, count));
        ASSERT_TRUE(checker.check(GetParam().move, low, low + distance, count));
      }
    }
  }
}

TEST_P(EveryVariant, LargeMovesMatchMemmoveOnBothStorePaths) {
  constexpr size_t Count = (8 << 20) + 77;
  MoveChecker checker(Count + 8192);
  for (const std::int32_t limit : {0, -1024 * 1024 * 1024}) {  // streaming stores, then ordinary ones
    PrefetchLimit = limit;
    const size_t base = 2 * Margin;
    EXPECT_TRUE(checker.check(GetParam().move, base + 3, base + 4096 + 16, Count - 4096));   // below, overlapping
    EXPECT_TRUE(checker.check(GetParam().move, base + 4096 + 5, base + 32, Count - 4096));   // above, overlapping
    EXPECT_TRUE(checker.check(GetParam().move, base + 48, base + 8, Count));                 // above by 40
    EXPECT_TRUE(checker.check(GetParam().move, base + 8, base + 9, Count));                  // below by 1
    EXPECT_TRUE(checker.check(GetParam().move, base, base + 64, Count));                     // both aligned
  }
}

TEST_P(EveryVariant, NegativeOrZeroCountsAndEqualAddressesMoveNothing) {
  Bytes buffer = randomBytes(10000, 3);
  const Bytes before = buffer;
  for (const std::intptr_t count : {std::intptr_t{0}, std::intptr_t{-1}, std::intptr_t{-37}, std::intptr_t{-5000},
                                    INTPTR_MIN, INTPTR_MIN + 1})
    GetParam().move(buffer.data() + 100, buffer.data() + 4000, count);
  for (const std::intptr_t count : {1, 36, 37, 500, 5000}) GetParam().move(buffer.data() + 7, buffer.data() + 7, count);
  EXPECT_EQ(buffer, before);
  GetParam().move(nullptr, nullptr, -1);
  GetParam().move(nullptr, nullptr, 0);
}

TEST_P(EveryVariant, TheFloatingPointUnitStillWorksAfterAMove) {
  Bytes buffer = randomBytes(8192, 4);
  for (const std::intptr_t count : {40, 100, 3000}) {
    GetParam().move(buffer.data(), buffer.data() + 4096, count);
    GetParam().move(buffer.data() + 4096, buffer.data() + 1, count);
    volatile long double x = 1.5L;
    x = x * 3.0L;
    EXPECT_EQ(x, 4.5L);
  }
}

INSTANTIATE_TEST_SUITE_P(BlockMove, EveryVariant,
                         ::testing::Values(Variant{"IA32", MoveDispatch_IA32}, Variant{"MMX", MoveDispatch_MMX},
                                           Variant{"SSE", MoveDispatch_SSE}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- which stores the SSE variant uses -------------------------------------

class BlockMoveSseStores : public ::testing::Test {
 protected:
  void TearDown() override { PrefetchLimit = 0; }

  // Moves and reports whether the aligned part took ordinary stores,
  // non-temporal stores, or neither, as the SSE variant decides it for the
  // very pointers and count of the move.
  using Path = TSseBlockStores;
  Path moveAndWatch(size_t from, size_t to, size_t count) {
    static Path seen;
    seen = Path::None;
    const TMoveDispatch watched = [](const void* source, void* dest, std::intptr_t n) {
      seen = SseBlockStores(source, dest, n);
      MoveDispatch_SSE(source, dest, n);
    };
    EXPECT_TRUE(checker_.check(watched, from, to, count));
    return seen;
  }

  static constexpr size_t Base = 4096;  // 16-aligned offset in the buffer
  MoveChecker checker_{(1 << 20) + 3 * 4096};
};

TEST_F(BlockMoveSseStores, WithoutAnL2SizeEveryForwardMoveFrom2048BytesStreams) {
  CpuIdent::CPU = {};
  Initialize();
  ASSERT_EQ(PrefetchLimit, 0);
  for (const size_t count : {2048, 2049, 2063, 4000, 65536 + 7, 1 << 19}) {
    for (const size_t align : {0, 1, 15}) {
      EXPECT_EQ(moveAndWatch(Base + 20, Base + align, count), Path::NonTemporal) << count;          // above
      EXPECT_EQ(moveAndWatch(Base + align, Base + count + 64, count), Path::NonTemporal) << count;  // disjoint
    }
  }
  EXPECT_EQ(moveAndWatch(Base, Base + 5000, 2047), Path::None);
}

TEST_F(BlockMoveSseStores, AtHalfTheL2CacheTheAlignedPartSwitchesToStreaming) {
  CpuIdent::CPU = {};
  CpuIdent::CPU.L2CacheSize = 512;
  Initialize();
  ASSERT_EQ(PrefetchLimit, -32768);
  const size_t far = Base + 300000;
  EXPECT_EQ(moveAndWatch(Base, far, 262144), Path::Ordinary);
  EXPECT_EQ(moveAndWatch(Base, far, 262144 + 127), Path::Ordinary);  // the 128-byte steps stay at 262144
  EXPECT_EQ(moveAndWatch(Base, far, 262272), Path::NonTemporal);
  EXPECT_EQ(moveAndWatch(Base + 1, far, 262272), Path::NonTemporal);  // unaligned source
  // A misaligned destination shortens the aligned part below 262272.
  EXPECT_EQ(moveAndWatch(Base, far + 1, 262272), Path::Ordinary);
}

TEST_F(BlockMoveSseStores, BackwardMovesNeverStream) {
  CpuIdent::CPU = {};
  Initialize();
  for (const size_t count : {2048, 4096 + 3, 1 << 19})
    for (const size_t distance : {1, 16, 1000})
      EXPECT_EQ(moveAndWatch(Base, Base + distance, count), Path::None) << count << " by " << distance;
}

// --- the entry point -------------------------------------------------------

TEST(BlockMoveEntry, IsCorrectBeforeStartUpAndUsesTheChosenVariantAfter) {
  // ctest runs every test in its own process; run together with the others,
  // an earlier test has already installed a variant.
  const TMoveDispatch before = InstalledMove();
  if (before == &MoveDispatch_SSE || before == &MoveDispatch_MMX || before == &MoveDispatch_IA32)
    GTEST_SKIP() << "a variant is already installed in this process";

  MoveChecker checker(20000);
  for (const size_t count : {0, 5, 37, 300, 5000}) {
    EXPECT_TRUE(checker.check(Move, 200, 6000, count));
    EXPECT_TRUE(checker.check(Move, 201, 210, count));
    EXPECT_TRUE(checker.check(Move, 210, 201, count));
  }
  Bytes buffer = randomBytes(100, 1);
  const Bytes copy = buffer;
  Move(buffer.data(), buffer.data() + 50, -1);
  EXPECT_EQ(buffer, copy);

  CpuIdent::GetCPUInfo();
  Initialize();
  EXPECT_EQ(InstalledMove(), &MoveDispatch_SSE);
  const Bytes layout(20000);  // addresses laid out as in the checker's buffer
  int blockMoves = 0;
  for (const size_t count : {0, 5, 37, 300, 5000}) {
    for (const auto& [from, to] : std::vector<std::pair<size_t, size_t>>{{200, 6000}, {201, 210}, {210, 201}}) {
      EXPECT_TRUE(checker.check(Move, from, to, count));
      blockMoves += SseBlockStores(layout.data() + from, layout.data() + to, static_cast<std::intptr_t>(count)) !=
                    TSseBlockStores::None;
    }
  }
  EXPECT_EQ(blockMoves, 2);  // the two forward 5000-byte moves
}

TEST(BlockMoveEntry, PrefetchLimitFollowsTheL2Size) {
  for (const auto& [l2, limit] : std::vector<std::pair<std::uint16_t, std::int32_t>>{
           {0, 0}, {15, 0}, {16, -1024}, {64, -4096}, {1024, -65536}, {1039, -65536}, {65535, -4095 * 1024}}) {
    CpuIdent::CPU = {};
    CpuIdent::CPU.L2CacheSize = l2;
    Initialize();
    EXPECT_EQ(PrefetchLimit, limit) << l2;
  }
}

}  // namespace
