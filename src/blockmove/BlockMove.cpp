#include "blockmove/BlockMove.h"

#include <immintrin.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <utility>

#include "blockmove/CpuIdent.h"

namespace BlockMove {

std::int32_t PrefetchLimit = 0;

namespace {

using Byte = unsigned char;
using std::size_t;

// Unaligned, alias-free scalar access, the same way the SSE intrinsics reach
// memory: the typedefs carry alignment 1, so no access is misaligned.
typedef std::uint16_t U16 __attribute__((aligned(1), may_alias));
typedef std::uint32_t U32 __attribute__((aligned(1), may_alias));
typedef std::uint64_t U64 __attribute__((aligned(1), may_alias));

// (Plain functions: the attributes would be lost on a template argument.)
inline std::uint16_t load2(const Byte* p) { return *reinterpret_cast<const U16*>(p); }
inline std::uint32_t load4(const Byte* p) { return *reinterpret_cast<const U32*>(p); }
inline std::uint64_t load8(const Byte* p) { return *reinterpret_cast<const U64*>(p); }
inline void store2(Byte* p, std::uint16_t v) { *reinterpret_cast<U16*>(p) = v; }
inline void store4(Byte* p, std::uint32_t v) { *reinterpret_cast<U32*>(p) = v; }
inline void store8(Byte* p, std::uint64_t v) { *reinterpret_cast<U64*>(p) = v; }

inline __m128i loadu(const Byte* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i loada(const Byte* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
inline void storeu(Byte* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline void storea(Byte* p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
inline void stream(Byte* p, __m128i v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), v); }

// Keeps the compiler from interleaving the stores of neighbouring groups.
inline void compilerBarrier() { asm volatile("" ::: "memory"); }

// ---------------------------------------------------------------------------
// Small moves, 0…36 bytes: straight-line code per size, reached through a
// table. Every byte is loaded into registers before the first store, so one
// routine is correct for overlap in either direction.

template <size_t N>
void smallMove(const Byte* s, Byte* d) {
  if constexpr (N == 1) {
    *d = *s;
  } else if constexpr (N >= 2 && N < 4) {
    const auto a = load2(s), b = load2(s + N - 2);
    store2(d, a);
    store2(d + N - 2, b);
  } else if constexpr (N >= 4 && N < 8) {
    const auto a = load4(s), b = load4(s + N - 4);
    store4(d, a);
    store4(d + N - 4, b);
  } else if constexpr (N >= 8) {
    constexpr size_t Whole = (N - 1) / 8;  // 8-byte words before the last one
    std::uint64_t w[Whole + 1];
    for (size_t i = 0; i < Whole; ++i) w[i] = load8(s + 8 * i);
    w[Whole] = load8(s + N - 8);
    for (size_t i = 0; i < Whole; ++i) store8(d + 8 * i, w[i]);
    store8(d + N - 8, w[Whole]);
  }
}

constexpr size_t SmallLimit = 36;
using SmallMoveRoutine = void (*)(const Byte*, Byte*);

template <size_t... N>
constexpr std::array<SmallMoveRoutine, sizeof...(N)> makeSmallMoves(std::index_sequence<N...>) {
  return {&smallMove<N>...};
}
constexpr auto SmallMoves = makeSmallMoves(std::make_index_sequence<SmallLimit + 1>());

inline void SmallMove(const Byte* s, Byte* d, size_t n) { SmallMoves[n](s, d); }

// ---------------------------------------------------------------------------
// The forward and backward routines stay out of line, so a dispatcher is a
// short leaf that ends in a jump and small moves pay for no register saves.
//
// IA32: 8-byte integer moves, 16 bytes per step. Callers pass n >= 37.

[[gnu::noinline]] void ForwardMove_IA32(const Byte* s, Byte* d, size_t n) {
  const auto head = load8(s);
  size_t i = 8 - (reinterpret_cast<std::uintptr_t>(d) & 7);  // destination aligned up to 8
  for (; n - i >= 16; i += 16) {
    const auto a = load8(s + i), b = load8(s + i + 8);
    store8(d + i, a);
    store8(d + i + 8, b);
  }
  store8(d, head);
  SmallMove(s + i, d + i, n - i);
}

[[gnu::noinline]] void BackwardMove_IA32(const Byte* s, Byte* d, size_t n) {
  const auto tail = load8(s + n - 8);
  size_t e = n - (reinterpret_cast<std::uintptr_t>(d + n) & 7);  // end aligned down to 8
  for (; e >= 16; e -= 16) {
    const auto a = load8(s + e - 16), b = load8(s + e - 8);
    store8(d + e - 8, b);
    store8(d + e - 16, a);
  }
  store8(d + n - 8, tail);
  SmallMove(s, d, e);
}

// ---------------------------------------------------------------------------
// MMX: the loops run in MMX registers and leave the FPU state empty (emms).

void mmxForward32(const Byte* s, Byte* d, size_t steps) {
  asm volatile(
      "1:\n\t"
      "movq   (%[s]), %%mm0\n\t"
      "movq  8(%[s]), %%mm1\n\t"
      "movq 16(%[s]), %%mm2\n\t"
      "movq 24(%[s]), %%mm3\n\t"
      "movq %%mm0,   (%[d])\n\t"
      "movq %%mm1,  8(%[d])\n\t"
      "movq %%mm2, 16(%[d])\n\t"
      "movq %%mm3, 24(%[d])\n\t"
      "add $32, %[s]\n\t"
      "add $32, %[d]\n\t"
      "dec %[n]\n\t"
      "jnz 1b\n\t"
      "emms"
      : [s] "+r"(s), [d] "+r"(d), [n] "+r"(steps)
      :
      : "memory", "cc", "mm0", "mm1", "mm2", "mm3");
}

// Steps down from the block ending at s + 32 / d + 32 (pointers to the last block).
void mmxBackward32(const Byte* s, Byte* d, size_t steps) {
  asm volatile(
      "1:\n\t"
      "movq 24(%[s]), %%mm3\n\t"
      "movq 16(%[s]), %%mm2\n\t"
      "movq  8(%[s]), %%mm1\n\t"
      "movq   (%[s]), %%mm0\n\t"
      "movq %%mm3, 24(%[d])\n\t"
      "movq %%mm2, 16(%[d])\n\t"
      "movq %%mm1,  8(%[d])\n\t"
      "movq %%mm0,   (%[d])\n\t"
      "sub $32, %[s]\n\t"
      "sub $32, %[d]\n\t"
      "dec %[n]\n\t"
      "jnz 1b\n\t"
      "emms"
      : [s] "+r"(s), [d] "+r"(d), [n] "+r"(steps)
      :
      : "memory", "cc", "mm0", "mm1", "mm2", "mm3");
}

// 64-byte blocks through eight MMX registers, then the remaining 4-byte words
// and bytes with string moves (forward, which the direction flag guarantees).
void mmxForward64(const Byte* s, Byte* d, size_t n) {
  size_t blocks = n / 64, words = (n % 64) / 4, bytes = n % 4;
  asm volatile(
      "1:\n\t"
      "movq   (%[s]), %%mm0\n\t"
      "movq  8(%[s]), %%mm1\n\t"
      "movq 16(%[s]), %%mm2\n\t"
      "movq 24(%[s]), %%mm3\n\t"
      "movq 32(%[s]), %%mm4\n\t"
      "movq 40(%[s]), %%mm5\n\t"
      "movq 48(%[s]), %%mm6\n\t"
      "movq 56(%[s]), %%mm7\n\t"
      "movq %%mm0,   (%[d])\n\t"
      "movq %%mm1,  8(%[d])\n\t"
      "movq %%mm2, 16(%[d])\n\t"
      "movq %%mm3, 24(%[d])\n\t"
      "movq %%mm4, 32(%[d])\n\t"
      "movq %%mm5, 40(%[d])\n\t"
      "movq %%mm6, 48(%[d])\n\t"
      "movq %%mm7, 56(%[d])\n\t"
      "add $64, %[s]\n\t"
      "add $64, %[d]\n\t"
      "dec %[b]\n\t"
      "jnz 1b\n\t"
      "emms\n\t"
      "mov %[w], %%rcx\n\t"
      "rep movsl\n\t"
      "mov %[r], %%rcx\n\t"
      "rep movsb"
      : [s] "+S"(s), [d] "+D"(d), [b] "+r"(blocks)
      : [w] "r"(words), [r] "r"(bytes)
      : "memory", "cc", "rcx", "mm0", "mm1", "mm2", "mm3", "mm4", "mm5", "mm6", "mm7");
}

[[gnu::noinline]] void ForwardMove_MMX(const Byte* s, Byte* d, size_t n) {
  if (n < 72) return ForwardMove_IA32(s, d, n);
  if (n < 1024) {
    const auto head = load8(s);
    const size_t skip = 8 - (reinterpret_cast<std::uintptr_t>(d) & 7);
    const size_t steps = (n - skip) / 32;
    mmxForward32(s + skip, d + skip, steps);
    const size_t i = skip + 32 * steps;
    store8(d, head);
    return SmallMove(s + i, d + i, n - i);
  }
  const size_t skip = -reinterpret_cast<std::uintptr_t>(d) & 15;
  SmallMove(s, d, skip);
  mmxForward64(s + skip, d + skip, n - skip);
}

[[gnu::noinline]] void BackwardMove_MMX(const Byte* s, Byte* d, size_t n) {
  if (n < 72) return BackwardMove_IA32(s, d, n);
  const auto tail = load8(s + n - 8);
  const size_t end = n - (reinterpret_cast<std::uintptr_t>(d + n) & 7);
  const size_t steps = end / 32;
  const size_t rest = end - 32 * steps;
  mmxBackward32(s + end - 32, d + end - 32, steps);
  store8(d + n - 8, tail);
  SmallMove(s, d, rest);
}

// ---------------------------------------------------------------------------
// SSE

// The rules by which a forward SSE move picks its stores, shared with
// SseBlockStores. From this count on the move copies aligned 128-byte blocks.
constexpr size_t SseBlocksFrom = 2048;

// Bytes before the destination is 16-aligned.
inline size_t sseHead(const Byte* d) { return -reinterpret_cast<std::uintptr_t>(d) & 15; }

// The 16-aligned part of a move of n >= SseBlocksFrom bytes to d.
inline size_t sseAlignedPart(const Byte* d, size_t n) { return (n - sseHead(d)) & ~size_t{15}; }

// More than half the L2 cache: stream past it. In 64 bits the comparison
// cannot overflow.
inline bool streamsBlocks(size_t blocks) { return -static_cast<std::int64_t>(blocks * 128 / 8) < PrefetchLimit; }

template <bool AlignedSource>
inline __m128i load16(const Byte* p) {
  if constexpr (AlignedSource) return loada(p);
  else return loadu(p);
}

template <bool AlignedSource, bool NonTemporal>
void alignedBlocks(const Byte* s, Byte* d, size_t blocks) {
  for (; blocks > 0; --blocks, s += 128, d += 128) {
    if constexpr (NonTemporal) {
      // May point past the source's end: a prefetch never faults.
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(s) + 512), _MM_HINT_NTA);
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(s) + 576), _MM_HINT_NTA);
    }
    const __m128i r0 = load16<AlignedSource>(s), r1 = load16<AlignedSource>(s + 16),
                  r2 = load16<AlignedSource>(s + 32), r3 = load16<AlignedSource>(s + 48),
                  r4 = load16<AlignedSource>(s + 64), r5 = load16<AlignedSource>(s + 80),
                  r6 = load16<AlignedSource>(s + 96), r7 = load16<AlignedSource>(s + 112);
    if constexpr (NonTemporal) {
      // Each 64 bytes' four streaming stores stay together and in order, so
      // the write-combining buffers fill whole lines.
      stream(d, r0), stream(d + 16, r1), stream(d + 32, r2), stream(d + 48, r3);
      compilerBarrier();
      stream(d + 64, r4), stream(d + 80, r5), stream(d + 96, r6), stream(d + 112, r7);
      compilerBarrier();
    } else {
      storea(d, r0), storea(d + 16, r1), storea(d + 32, r2), storea(d + 48, r3);
      storea(d + 64, r4), storea(d + 80, r5), storea(d + 96, r6), storea(d + 112, r7);
    }
  }
}

// d is 16-aligned and n a multiple of 16.
void AlignedForwardMove_SSE(const Byte* s, Byte* d, size_t n) {
  const size_t blocks = n / 128;
  const bool alignedSource = (reinterpret_cast<std::uintptr_t>(s) & 15) == 0;
  if (streamsBlocks(blocks)) {
    if (alignedSource) alignedBlocks<true, true>(s, d, blocks);
    else alignedBlocks<false, true>(s, d, blocks);
    _mm_sfence();
  } else {
    if (alignedSource) alignedBlocks<true, false>(s, d, blocks);
    else alignedBlocks<false, false>(s, d, blocks);
  }
  for (size_t i = blocks * 128; i < n; i += 16) storea(d + i, loadu(s + i));
}

[[gnu::noinline]] void ForwardMove_SSE(const Byte* s, Byte* d, size_t n) {
  if (n <= 68) {
    const __m128i a = loadu(s), b = loadu(s + 16);
    storeu(d, a);
    storeu(d + 16, b);
    return SmallMove(s + 32, d + 32, n - 32);
  }
  if (n < SseBlocksFrom) {
    const __m128i head = loadu(s);
    size_t i = 16 - (reinterpret_cast<std::uintptr_t>(d) & 15);  // destination aligned up to 16
    // Two 32-byte steps per pass, as in the backward move.
    for (; n - i >= 64; i += 64) {
      const __m128i a = loadu(s + i), b = loadu(s + i + 16);
      storea(d + i, a);
      storea(d + i + 16, b);
      const __m128i c = loadu(s + i + 32), f = loadu(s + i + 48);
      storea(d + i + 32, c);
      storea(d + i + 48, f);
    }
    for (; n - i >= 32; i += 32) {
      const __m128i a = loadu(s + i), b = loadu(s + i + 16);
      storea(d + i, a);
      storea(d + i + 16, b);
    }
    storeu(d, head);
    return SmallMove(s + i, d + i, n - i);
  }
  const size_t skip = sseHead(d);
  SmallMove(s, d, skip);
  const size_t aligned = sseAlignedPart(d, n);
  AlignedForwardMove_SSE(s + skip, d + skip, aligned);
  const size_t done = skip + aligned;
  SmallMove(s + done, d + done, n - done);
}

[[gnu::noinline]] void BackwardMove_SSE(const Byte* s, Byte* d, size_t n) {
  if (n <= 68) {
    const __m128i a = loadu(s + n - 32), b = loadu(s + n - 16);
    storeu(d + n - 16, b);
    storeu(d + n - 32, a);
    return SmallMove(s, d, n - 32);
  }
  const __m128i tail = loadu(s + n - 16);
  size_t e = n - (reinterpret_cast<std::uintptr_t>(d + n) & 15);  // end aligned down to 16
  // Two 32-byte steps per pass keep more loads in flight while walking down.
  for (; e >= 64; e -= 64) {
    const __m128i a = loadu(s + e - 32), b = loadu(s + e - 16);
    storea(d + e - 16, b);
    storea(d + e - 32, a);
    const __m128i c = loadu(s + e - 64), f = loadu(s + e - 48);
    storea(d + e - 48, f);
    storea(d + e - 64, c);
  }
  for (; e >= 32; e -= 32) {
    const __m128i a = loadu(s + e - 32), b = loadu(s + e - 16);
    storea(d + e - 16, b);
    storea(d + e - 32, a);
  }
  storeu(d + n - 16, tail);
  SmallMove(s, d, e);
}

// ---------------------------------------------------------------------------
// The dispatcher shape shared by all variants. Addresses compare unsigned.

// Forward when the source lies above, or the destination starts past the
// source's end (d - s cannot wrap because s < d).
inline bool movesForward(std::uintptr_t s, std::uintptr_t d, size_t n) { return s > d || d - s >= n; }

using MoveRoutine = void (*)(const Byte*, Byte*, size_t);

template <MoveRoutine Forward, MoveRoutine Backward>
inline void dispatch(const void* Source, void* Dest, std::intptr_t Count) {
  const auto s = reinterpret_cast<std::uintptr_t>(Source);
  const auto d = reinterpret_cast<std::uintptr_t>(Dest);
  const auto src = static_cast<const Byte*>(Source);
  const auto dst = static_cast<Byte*>(Dest);
  const auto n = static_cast<size_t>(Count);  // a negative count becomes huge
  if (n <= SmallLimit) {
    if (s != d) SmallMove(src, dst, n);
    return;
  }
  if (Count < 0 || s == d) return;
  if (movesForward(s, d, n)) Forward(src, dst, n);
  else Backward(src, dst, n);
}

void defaultMove(const void* source, void* dest, std::intptr_t count) {
  if (count > 0 && source != dest) std::memmove(dest, source, static_cast<size_t>(count));
}

// Set once at start-up before other threads exist; atomic only so that a
// late reader never sees a torn pointer.
std::atomic<TMoveDispatch> installedMove{defaultMove};

}  // namespace

void MoveDispatch_IA32(const void* Source, void* Dest, std::intptr_t Count) {
  dispatch<ForwardMove_IA32, BackwardMove_IA32>(Source, Dest, Count);
}
void MoveDispatch_MMX(const void* Source, void* Dest, std::intptr_t Count) {
  dispatch<ForwardMove_MMX, BackwardMove_MMX>(Source, Dest, Count);
}
void MoveDispatch_SSE(const void* Source, void* Dest, std::intptr_t Count) {
  dispatch<ForwardMove_SSE, BackwardMove_SSE>(Source, Dest, Count);
}

void ReplaceMove() {
  const auto& support = CpuIdent::CPU.InstructionSupport;
  TMoveDispatch chosen = MoveDispatch_IA32;
  if (support.test(CpuIdent::isSSE)) chosen = MoveDispatch_SSE;
  else if (support.test(CpuIdent::isMMX)) chosen = MoveDispatch_MMX;
  installedMove.store(chosen, std::memory_order_relaxed);
}

void Initialize() {
  PrefetchLimit = (CpuIdent::CPU.L2CacheSize / 16) * -1024;
  ReplaceMove();
}

TMoveDispatch InstalledMove() { return installedMove.load(std::memory_order_relaxed); }

TSseBlockStores SseBlockStores(const void* Source, const void* Dest, std::intptr_t Count) {
  const auto s = reinterpret_cast<std::uintptr_t>(Source);
  const auto d = reinterpret_cast<std::uintptr_t>(Dest);
  // Small, negative and empty moves, backward moves and forward ones under
  // SseBlocksFrom bytes copy no aligned blocks.
  if (Count < static_cast<std::intptr_t>(SseBlocksFrom) || s == d) return TSseBlockStores::None;
  const auto n = static_cast<size_t>(Count);
  if (!movesForward(s, d, n)) return TSseBlockStores::None;
  const size_t blocks = sseAlignedPart(static_cast<const Byte*>(Dest), n) / 128;
  return streamsBlocks(blocks) ? TSseBlockStores::NonTemporal : TSseBlockStores::Ordinary;
}

void Move(const void* Source, void* Dest, std::intptr_t Count) {
  installedMove.load(std::memory_order_relaxed)(Source, Dest, Count);
}

}  // namespace BlockMove
