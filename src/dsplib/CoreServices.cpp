#include "CoreServices.h"

#include "ThreadRuntime.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t BlockAlignment = 64;
constexpr std::size_t HugePage = std::size_t{2} << 20;

// Sits in the bytes right before every block, so that one free routine can
// release a block whatever way it was obtained.
struct BlockHeader {
  void* base;             // what malloc or mmap returned
  std::size_t mapLength;  // length of the mapping; 0 for a malloc'd block
  int sizeClass;          // log2 of the malloc'd size when the block may be reused, else -1
};
static_assert(sizeof(BlockHeader) <= BlockAlignment);

BlockHeader* headerOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

std::uintptr_t alignUp(std::uintptr_t value, std::size_t alignment) {
  return (value + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
}

#if !defined(__SANITIZE_ADDRESS__)
// malloc's per-thread cache stops at about 1 KiB, and a 64-point spectrum
// needs a 1 KiB block plus the header. Blocks of 1 … 64 KiB are therefore
// rounded up to a power of two and, when freed, parked in a few lock-free
// slots per size, to be handed out again. (Not in the address-checking build,
// where reuse would hide use after free.)
constexpr int FirstCachedClass = 11;
constexpr int LastCachedClass = 16;
constexpr int SlotsPerClass = 4;
constexpr std::size_t MallocCacheLimit = 1024;
std::atomic<void*> parkedBlocks[LastCachedClass - FirstCachedClass + 1][SlotsPerClass];

int cachedSizeClass(std::size_t total) {
  if (total <= MallocCacheLimit) return -1;
  for (int c = FirstCachedClass; c <= LastCachedClass; ++c) {
    if (total <= (std::size_t{1} << c)) return c;
  }
  return -1;
}

void* takeParked(int sizeClass) {
  for (auto& slot : parkedBlocks[sizeClass - FirstCachedClass]) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    if (void* block = slot.exchange(nullptr, std::memory_order_acquire)) return block;
  }
  return nullptr;
}

bool park(void* block, int sizeClass) {
  for (auto& slot : parkedBlocks[sizeClass - FirstCachedClass]) {
    void* empty = nullptr;
    if (slot.load(std::memory_order_relaxed) == nullptr &&
        slot.compare_exchange_strong(empty, block, std::memory_order_release, std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

__attribute__((destructor)) void releaseParked() {
  for (auto& slots : parkedBlocks) {
    for (auto& slot : slots) {
      if (void* block = slot.exchange(nullptr)) std::free(headerOf(block)->base);
    }
  }
}
#endif

void* allocateSmall(std::size_t bytes) {
  if (bytes > SIZE_MAX - 2 * BlockAlignment) return nullptr;
#if defined(__SANITIZE_ADDRESS__)
  // The header takes the first 64 bytes, so the block ends exactly where the
  // allocation ends and the address checker sees every overrun.
  void* base = nullptr;
  if (posix_memalign(&base, BlockAlignment, bytes + BlockAlignment) != 0) return nullptr;
  void* block = static_cast<char*>(base) + BlockAlignment;
  const int sizeClass = -1;
#else
  // Plain malloc stays on the allocator's fast per-thread path, which aligned
  // allocation does not; the spectra allocate five blocks per transform.
  std::size_t total = bytes + BlockAlignment + sizeof(BlockHeader);
  const int sizeClass = cachedSizeClass(total);
  if (sizeClass >= 0) {
    if (void* block = takeParked(sizeClass)) return block;
    total = std::size_t{1} << sizeClass;
  }
  void* base = std::malloc(total);
  if (base == nullptr) return nullptr;
  void* block = reinterpret_cast<void*>(alignUp(reinterpret_cast<std::uintptr_t>(base) + sizeof(BlockHeader), BlockAlignment));
#endif
  *headerOf(block) = {base, 0, sizeClass};
  return block;
}

// Large blocks are mapped directly: 2 MiB-aligned so the kernel can back them
// with huge pages, which saves a page fault per 4 KiB on first touch. One
// ordinary page in front of the block holds the header.
void* allocateLarge(std::size_t bytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t span = alignUp(bytes, HugePage);
  if (span < bytes || span > SIZE_MAX - HugePage) return nullptr;
  const std::size_t mapLength = span + HugePage;
  void* mapped = mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;

  char* const base = static_cast<char*>(mapped);
  char* const block = reinterpret_cast<char*>(alignUp(reinterpret_cast<std::uintptr_t>(base) + page, HugePage));
  char* const keep = block - page;
  char* const end = block + span;
  if (keep > base) munmap(base, static_cast<std::size_t>(keep - base));
  if (base + mapLength > end) munmap(end, static_cast<std::size_t>(base + mapLength - end));
  madvise(block, span, MADV_HUGEPAGE);
  *headerOf(block) = {keep, span + page, -1};
  return block;
}

}  // namespace

void* coreMalloc(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  if (bytes >= HugePage) return allocateLarge(bytes);
  return allocateSmall(bytes);
}

void coreFree(void* block) {
  if (block == nullptr) return;
  const BlockHeader header = *headerOf(block);
  if (header.mapLength != 0) {
    munmap(header.base, header.mapLength);
    return;
  }
#if !defined(__SANITIZE_ADDRESS__)
  if (header.sizeClass >= 0 && park(block, header.sizeClass)) return;
#endif
  std::free(header.base);
}

void coreLock() { mpCriticalEnter(); }

void coreUnlock() { mpCriticalLeave(); }

int coreThreadCount() { return mpGetMaxThreads(); }
