// The program's single block-move entry point. Every copy of sample or byte
// buffers in the program's own code goes through Move. It calls through a
// pointer that start-up sets once to the processor-specific variant; until
// then it is a correct default.
//
// Start-up order: CpuIdent::GetCPUInfo(), then BlockMove::Initialize(), both
// before any other thread exists.
#pragma once

#include <cstdint>

namespace BlockMove {

using TMoveDispatch = void (*)(const void* Source, void* Dest, std::intptr_t Count);

// Copies Count bytes from Source to Dest; the ranges may overlap. A count of 0
// or less, or Source == Dest, moves nothing.
void Move(const void* Source, void* Dest, std::intptr_t Count);

// (CpuIdent::CPU.L2CacheSize div 16) * -1024: a forward SSE move whose aligned
// part exceeds half the L2 cache streams past the cache. 0 when no L2 size was
// found, which makes every aligned part of 2048 bytes or more stream.
extern std::int32_t PrefetchLimit;

// Sets PrefetchLimit from CpuIdent::CPU and installs the variant. Call after
// CpuIdent::GetCPUInfo().
void Initialize();

// Installs MoveDispatch_SSE, _MMX or _IA32 behind Move, by the instruction
// groups in CpuIdent::CPU.
void ReplaceMove();

// The dispatcher Move currently calls.
TMoveDispatch InstalledMove();

// The three variants. Each has the same semantics as Move; they differ in
// the registers and step sizes they use.
void MoveDispatch_IA32(const void* Source, void* Dest, std::intptr_t Count);
void MoveDispatch_MMX(const void* Source, void* Dest, std::intptr_t Count);
void MoveDispatch_SSE(const void* Source, void* Dest, std::intptr_t Count);

// Which stores MoveDispatch_SSE uses for the aligned 128-byte blocks of a
// move: none (the move is small, under 2048 bytes, backward or empty),
// ordinary ones, or non-temporal ones that bypass the cache. Depends on the
// count, the destination's alignment, the direction and PrefetchLimit; the
// SSE move decides by the same rules.
enum class TSseBlockStores { None, Ordinary, NonTemporal };
TSseBlockStores SseBlockStores(const void* Source, const void* Dest, std::intptr_t Count);

}  // namespace BlockMove
