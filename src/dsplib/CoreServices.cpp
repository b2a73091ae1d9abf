#include "dsplib/CoreServices.h"

#include "dsplib/ThreadRuntime.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

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

// Bytes the caller must not touch: a parked block, and the slack between the
// end of a request and the end of its block. The address checker reports any
// touch of them as it would a use after free or an overrun; in other builds
// these do nothing.
#if defined(__SANITIZE_ADDRESS__)
void poisonBytes(const void* at, std::size_t count) { ASAN_POISON_MEMORY_REGION(at, count); }
void unpoisonBytes(const void* at, std::size_t count) { ASAN_UNPOISON_MEMORY_REGION(at, count); }
#else
void poisonBytes(const void*, std::size_t) {}
void unpoisonBytes(const void*, std::size_t) {}
#endif

// Hands out a block whose first `bytes` are the caller's and whose bytes from
// there up to `end` are not.
void* handOut(void* block, std::size_t bytes, const void* end) {
  char* const used = static_cast<char*>(block) + bytes;
  poisonBytes(used, static_cast<std::size_t>(static_cast<const char*>(end) - used));
  return block;
}

// malloc's per-thread cache stops at about 1 KiB, and a 64-point spectrum
// needs a 1 KiB block plus the header. Blocks of 1 … 64 KiB are therefore
// rounded up to a power of two and, when freed, parked in a few lock-free
// slots per size, to be handed out again. A parked block, header and all, is
// poisoned for the address checker, so a use after free is still reported.
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

// Makes a block that left its slot the allocator's again, header and all.
void* unpark(void* block, int sizeClass) {
  unpoisonBytes(headerOf(block), sizeof(BlockHeader));
  unpoisonBytes(headerOf(block)->base, std::size_t{1} << sizeClass);
  return block;
}

void* takeParked(int sizeClass) {
  for (auto& slot : parkedBlocks[sizeClass - FirstCachedClass]) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    if (void* block = slot.exchange(nullptr, std::memory_order_acquire)) return unpark(block, sizeClass);
  }
  return nullptr;
}

// Poisoned before it is published: once in a slot, another thread may take it.
bool park(void* block, int sizeClass) {
  void* const base = headerOf(block)->base;
  poisonBytes(base, std::size_t{1} << sizeClass);
  for (auto& slot : parkedBlocks[sizeClass - FirstCachedClass]) {
    void* empty = nullptr;
    if (slot.load(std::memory_order_relaxed) == nullptr &&
        slot.compare_exchange_strong(empty, block, std::memory_order_release, std::memory_order_relaxed)) {
      return true;
    }
  }
  unpoisonBytes(base, std::size_t{1} << sizeClass);
  return false;
}

__attribute__((destructor)) void releaseParked() {
  for (int c = FirstCachedClass; c <= LastCachedClass; ++c) {
    for (auto& slot : parkedBlocks[c - FirstCachedClass]) {
      if (void* block = slot.exchange(nullptr)) std::free(headerOf(unpark(block, c))->base);
    }
  }
}

void* allocateSmall(std::size_t bytes) {
  if (bytes > SIZE_MAX - 2 * BlockAlignment) return nullptr;
  // Plain malloc stays on the allocator's fast per-thread path, which aligned
  // allocation does not; the spectra allocate five blocks per transform.
  std::size_t total = bytes + BlockAlignment + sizeof(BlockHeader);
  const int sizeClass = cachedSizeClass(total);
  if (sizeClass >= 0) {
    total = std::size_t{1} << sizeClass;
    if (void* block = takeParked(sizeClass)) return handOut(block, bytes, static_cast<char*>(headerOf(block)->base) + total);
  }
  void* base = std::malloc(total);
  if (base == nullptr) return nullptr;
  void* block = reinterpret_cast<void*>(alignUp(reinterpret_cast<std::uintptr_t>(base) + sizeof(BlockHeader), BlockAlignment));
  *headerOf(block) = {base, 0, sizeClass};
  return handOut(block, bytes, static_cast<char*>(base) + total);
}

// The usable bytes of a mapped block (the header page sits in front of them).
std::size_t spanOf(void* block) {
  return headerOf(block)->mapLength - static_cast<std::size_t>(static_cast<char*>(block) - static_cast<char*>(headerOf(block)->base));
}

// The whole mapping, header page included, is poisoned while the block is kept.
void poisonMapping(void* block) {
  poisonBytes(headerOf(block)->base, headerOf(block)->mapLength);
}

void unpoisonMapping(void* block) {
  unpoisonBytes(headerOf(block), sizeof(BlockHeader));
  unpoisonBytes(headerOf(block)->base, headerOf(block)->mapLength);
}

// The address range goes back to the system unpoisoned, since anyone may map it next.
void unmapBlock(void* block) {
  unpoisonMapping(block);
  const BlockHeader header = *headerOf(block);
  munmap(header.base, header.mapLength);
}

// Loading a recording frees large blocks and asks for blocks of the same sizes
// again at once; a fresh mapping pays a page fault per page on first touch,
// which costs far more than the work on the data. So a few recently freed
// mappings are kept, already backed by memory, and handed out again to a
// request that fits with little to spare. The cache is bounded in blocks and
// bytes, the oldest block going first; whatever does not fit is unmapped, so
// freed memory beyond the bound goes back to the system at once. A kept block
// is poisoned for the address checker, so a use after free is still reported;
// the cache therefore notes each block's span beside it rather than reading
// the header.
constexpr int CachedMappings = 4;
constexpr std::size_t CachedBytesLimit = std::size_t{1} << 30;

struct CachedMapping {
  void* block;
  std::size_t span;
};

struct MappingCache {
  std::mutex lock;
  CachedMapping blocks[CachedMappings] = {};  // blocks[0 … count), oldest first
  int count = 0;
  std::size_t bytes = 0;
};
MappingCache mappingCache;

// At most 1 GiB, and no more than an eighth of the machine's memory.
std::size_t cachedBytesLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return CachedBytesLimit;
  return std::min(CachedBytesLimit, static_cast<std::size_t>(pages) / 8 * static_cast<std::size_t>(pageSize));
}

void dropCached(int index) {
  mappingCache.bytes -= mappingCache.blocks[index].span;
  for (int i = index + 1; i < mappingCache.count; ++i) mappingCache.blocks[i - 1] = mappingCache.blocks[i];
  mappingCache.blocks[--mappingCache.count] = {};
}

// The smallest cached block of at least span bytes and at most a quarter more.
void* takeCachedMapping(std::size_t span) {
  void* block = nullptr;
  {
    std::lock_guard<std::mutex> guard(mappingCache.lock);
    int best = -1;
    for (int i = 0; i < mappingCache.count; ++i) {
      const std::size_t have = mappingCache.blocks[i].span;
      if (have < span || have - span > span / 4) continue;
      if (best < 0 || have < mappingCache.blocks[best].span) best = i;
    }
    if (best < 0) return nullptr;
    block = mappingCache.blocks[best].block;
    dropCached(best);
  }
  unpoisonMapping(block);
  return block;
}

// Keeps a freed block, evicting the oldest ones to stay within the bounds.
// The evicted blocks (or the given one, when it alone exceeds the byte bound)
// are unmapped outside the lock.
void cacheMapping(void* block) {
  static_assert(CachedMappings > 0);
  const std::size_t span = spanOf(block);
  const std::size_t limit = cachedBytesLimit();
  if (span > limit) {
    unmapBlock(block);
    return;
  }
  // Poisoned before it is published: once cached, another thread may take it.
  poisonMapping(block);
  void* evicted[CachedMappings] = {};
  int evictedCount = 0;
  {
    std::lock_guard<std::mutex> guard(mappingCache.lock);
    while (mappingCache.count == CachedMappings || mappingCache.bytes + span > limit) {
      evicted[evictedCount++] = mappingCache.blocks[0].block;
      dropCached(0);
    }
    mappingCache.blocks[mappingCache.count++] = {block, span};
    mappingCache.bytes += span;
  }
  for (int i = 0; i < evictedCount; ++i) unmapBlock(evicted[i]);
}

__attribute__((destructor)) void releaseCachedMappings() {
  std::lock_guard<std::mutex> guard(mappingCache.lock);
  while (mappingCache.count > 0) {
    void* block = mappingCache.blocks[0].block;
    dropCached(0);
    unmapBlock(block);
  }
}

// Large blocks are mapped directly: 2 MiB-aligned so the kernel can back them
// with huge pages, which saves a page fault per 4 KiB on first touch. One
// ordinary page in front of the block holds the header.
void* allocateLarge(std::size_t bytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t span = alignUp(bytes, HugePage);
  if (span < bytes || span > SIZE_MAX - HugePage) return nullptr;
  if (void* block = takeCachedMapping(span)) return handOut(block, bytes, static_cast<char*>(block) + spanOf(block));
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
  return handOut(block, bytes, end);
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
    cacheMapping(block);
    return;
  }
  if (header.sizeClass >= 0 && park(block, header.sizeClass)) return;
  std::free(header.base);
}

void coreLock() { mpCriticalEnter(); }

void coreUnlock() { mpCriticalLeave(); }

int coreThreadCount() { return mpGetMaxThreads(); }
