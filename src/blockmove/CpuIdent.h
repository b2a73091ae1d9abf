// Processor identification. GetCPUInfo fills the global record CPU once at
// start-up; the block move reads its instruction groups and L2 cache size to
// choose and tune its variant.
#pragma once

#include <bitset>
#include <cstdint>

namespace CpuIdent {

// Only AMD and Centaur change any result; every other maker is cvUnknown.
enum TVendor : std::uint8_t { cvUnknown, cvAMD, cvCentaur };

enum TCpuInstruction { isMMX, isSSE, InstructionGroupCount };
using TCpuInstructions = std::bitset<InstructionGroupCount>;

struct TCpuInfo {
  TVendor Vendor = cvUnknown;
  std::uint32_t Signature = 0;  // EAX of CPUID function 1
  std::uint8_t EffFamily = 0;
  std::uint8_t EffModel = 0;
  std::uint16_t L2CacheSize = 0;  // KB, 0 when none was found
  TCpuInstructions InstructionSupport;
};

extern TCpuInfo CPU;

struct TCpuidRegisters {
  std::uint32_t EAX = 0, EBX = 0, ECX = 0, EDX = 0;
};

// Everything detection asks of the processor. The real one executes CPUID;
// tests pass recorded answers so every vendor rule can be checked anywhere.
struct TProcessorAccess {
  bool (*HasCpuid)();                              // EFLAGS bit 21 can be toggled
  TCpuidRegisters (*Cpuid)(std::uint32_t Function);
  bool (*SseSelfTest)();                           // false when an SSE instruction faults
};

const TProcessorAccess& RealProcessor();

// Clears CPU and fills it. An exception from the processor access ends
// detection quietly; whatever was found until then stands.
void GetCPUInfo(const TProcessorAccess& Processor = RealProcessor());

}  // namespace CpuIdent
