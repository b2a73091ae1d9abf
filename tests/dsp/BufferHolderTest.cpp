// The holder of the library's buffers gives each block back exactly once, and
// only while it owns it. A block given back is parked and handed out again to
// the next request of its size, which is how these tests see it go.
#include "DspTestSupport.h"

#include <utility>
#include <vector>

using namespace IPPDynamic;

namespace {

using BufferHolder = LibraryTest;

constexpr int Bytes = 3000;  // parked with the blocks of 2 … 4 KiB

// Empties the parking slots of that size by taking every block parked there.
std::vector<IppBuffer<std::uint8_t>> drainParked() {
  std::vector<IppBuffer<std::uint8_t>> taken;
  for (int k = 0; k < 8; ++k) taken.emplace_back(IIPP_MallocByte(Bytes));
  return taken;
}

// Whether the next request of that size gets `block` again; it stays held.
bool handedOutAgain(const std::uint8_t* block, std::vector<IppBuffer<std::uint8_t>>& held) {
  held.emplace_back(IIPP_MallocByte(Bytes));
  return held.back().get() == block;
}

}  // namespace

TEST_F(BufferHolder, ResetAndTheEndOfTheHolderGiveTheBlockBack) {
  auto held = drainParked();
  const std::uint8_t* first = nullptr;
  {
    IppBuffer<std::uint8_t> buffer(IIPP_MallocByte(Bytes));
    ASSERT_NE(buffer.get(), nullptr);
    first = buffer.get();
    buffer.reset(IIPP_MallocByte(Bytes));
    ASSERT_NE(buffer.get(), first);
    EXPECT_TRUE(handedOutAgain(first, held));
    first = buffer.get();
  }
  EXPECT_TRUE(handedOutAgain(first, held));
}

TEST_F(BufferHolder, ReleaseHandsTheBlockOnWithoutGivingItBack) {
  auto held = drainParked();
  IppBuffer<std::uint8_t> buffer(IIPP_MallocByte(Bytes));
  std::uint8_t* const block = buffer.release();
  EXPECT_EQ(buffer.get(), nullptr);
  buffer.reset();
  block[Bytes - 1] = 1;  // still the caller's: the address checker would report a freed block
  EXPECT_FALSE(handedOutAgain(block, held));
  IIPP_Free(block);
}

TEST_F(BufferHolder, AMovedBlockHasOneOwnerAndGoesBackOnce) {
  auto held = drainParked();
  IppBuffer<std::uint8_t> from(IIPP_MallocByte(Bytes));
  std::uint8_t* const block = from.get();
  IppBuffer<std::uint8_t> to(std::move(from));
  EXPECT_EQ(from.get(), nullptr);
  EXPECT_EQ(to.get(), block);
  from.reset();
  block[0] = 1;
  EXPECT_FALSE(handedOutAgain(block, held));

  IppBuffer<std::uint8_t> other;
  other = std::move(to);
  to.reset();
  EXPECT_EQ(other.get(), block);
  other.reset();
  // Given back once: it is parked once, so only one of the next two requests gets it.
  EXPECT_TRUE(handedOutAgain(block, held));
  EXPECT_FALSE(handedOutAgain(block, held));
}
