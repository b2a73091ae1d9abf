#include "CoreServices.h"

#include "ThreadRuntime.h"

#include <sys/mman.h>
#include <unistd.h>

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
};
static_assert(sizeof(BlockHeader) <= BlockAlignment);

BlockHeader* headerOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

std::uintptr_t alignUp(std::uintptr_t value, std::size_t alignment) {
  return (value + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
}

void* allocateSmall(std::size_t bytes) {
  // The header takes the first 64 bytes, so the block itself ends exactly at
  // the end of the allocation and overruns stay visible to memory checkers.
  void* base = nullptr;
  if (posix_memalign(&base, BlockAlignment, bytes + BlockAlignment) != 0) return nullptr;
  void* block = static_cast<char*>(base) + BlockAlignment;
  *headerOf(block) = {base, 0};
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
  *headerOf(block) = {keep, span + page};
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
  } else {
    std::free(header.base);
  }
}

void coreLock() { mpCriticalEnter(); }

void coreUnlock() { mpCriticalLeave(); }

int coreThreadCount() { return mpGetMaxThreads(); }
