#include "blockmove/CpuIdent.h"

#include <cpuid.h>
#include <setjmp.h>
#include <signal.h>
#include <x86intrin.h>

#include <cstring>

namespace CpuIdent {

TCpuInfo CPU;

namespace {

constexpr std::uint32_t IdFlag = 1u << 21;
constexpr std::uint32_t MmxBit = 1u << 23;
constexpr std::uint32_t SseBit = 1u << 25;

bool realHasCpuid() {
  const auto flags = __readeflags();
  __writeeflags(flags ^ IdFlag);
  const bool toggled = ((__readeflags() ^ flags) & IdFlag) != 0;
  __writeeflags(flags);
  return toggled;
}

TCpuidRegisters realCpuid(std::uint32_t function) {
  TCpuidRegisters r;
  __cpuid(function, r.EAX, r.EBX, r.ECX, r.EDX);
  return r;
}

// Where a SIGILL raised by the self-test returns to; set only while it runs,
// which is at start-up before any other thread exists.
sigjmp_buf* sseFaultReturn = nullptr;

void onIllegalInstruction(int) { siglongjmp(*sseFaultReturn, 1); }

// One SSE instruction under a guard: on a system that does not save the SSE
// registers it raises an illegal-instruction signal instead of running.
bool realSseSelfTest() {
  struct sigaction guard {}, previous{};
  guard.sa_handler = onIllegalInstruction;
  sigemptyset(&guard.sa_mask);
  sigjmp_buf faultReturn;
  sseFaultReturn = &faultReturn;
  sigaction(SIGILL, &guard, &previous);
  volatile bool works = false;
  if (sigsetjmp(faultReturn, 1) == 0) {
    asm volatile("andps %%xmm0, %%xmm0" ::: "xmm0");
    works = true;
  }
  sigaction(SIGILL, &previous, nullptr);
  sseFaultReturn = nullptr;
  return works;
}

constexpr TProcessorAccess realProcessor{realHasCpuid, realCpuid, realSseSelfTest};

// L2 size in KB for one cache descriptor byte of CPUID function 2, 0 when the
// byte says nothing about the L2 cache.
std::uint16_t l2SizeOfDescriptor(std::uint8_t descriptor) {
  switch (descriptor) {
    case 0x39: case 0x3B: case 0x41: case 0x79: return 128;
    case 0x3C: case 0x42: case 0x7A: case 0x82: return 256;
    case 0x43: case 0x7B: case 0x7F: case 0x83: case 0x86: return 512;
    case 0x44: case 0x78: case 0x7C: case 0x84: case 0x87: return 1024;
    case 0x45: case 0x7D: case 0x85: return 2048;
    default: return 0;
  }
}

// Bytes 1…15 of EAX, EBX, ECX, EDX in register order; byte 0 of EAX is the
// query count. A later descriptor overrides an earlier one.
void takeCacheDescriptors(const TCpuidRegisters& r) {
  const std::uint32_t regs[4] = {r.EAX, r.EBX, r.ECX, r.EDX};
  for (int i = 1; i < 16; ++i) {
    const auto descriptor = static_cast<std::uint8_t>(regs[i / 4] >> (8 * (i % 4)));
    if (const auto size = l2SizeOfDescriptor(descriptor)) CPU.L2CacheSize = size;
  }
}

void readCacheDescriptors(const TProcessorAccess& processor) {
  TCpuidRegisters r = processor.Cpuid(2);
  const int queries = r.EAX & 0xFF;
  for (int q = 1; q <= queries; ++q) {
    takeCacheDescriptors(r);
    if (q < queries) r = processor.Cpuid(2);
  }
}

TVendor vendorOf(const TCpuidRegisters& r) {
  char name[12];
  std::memcpy(name, &r.EBX, 4);
  std::memcpy(name + 4, &r.EDX, 4);
  std::memcpy(name + 8, &r.ECX, 4);
  if (std::memcmp(name, "AuthenticAMD", 12) == 0) return cvAMD;
  if (std::memcmp(name, "CentaurHauls", 12) == 0) return cvCentaur;
  return cvUnknown;
}

void setSignature(std::uint32_t signature) {
  CPU.Signature = signature;
  const std::uint32_t family = (signature >> 8) & 0xF;
  std::uint32_t model = (signature >> 4) & 0xF;
  std::uint32_t effFamily = family;
  if (family == 15) {
    effFamily += (signature >> 20) & 0xFF;
    model += ((signature >> 16) & 0xF) << 4;
  }
  CPU.EffFamily = static_cast<std::uint8_t>(effFamily);
  CPU.EffModel = static_cast<std::uint8_t>(model);
}

void detect(const TProcessorAccess& processor) {
  if (!processor.HasCpuid()) return;

  const TCpuidRegisters f0 = processor.Cpuid(0);
  const std::uint32_t maxStandard = f0.EAX;
  CPU.Vendor = vendorOf(f0);

  if (maxStandard >= 1) {
    const TCpuidRegisters f1 = processor.Cpuid(1);
    setSignature(f1.EAX);
    if (f1.EDX & MmxBit) CPU.InstructionSupport.set(isMMX);
    if (f1.EDX & SseBit) CPU.InstructionSupport.set(isSSE);
  }
  if (maxStandard >= 2) readCacheDescriptors(processor);

  const std::uint32_t maxExtended = processor.Cpuid(0x80000000).EAX;

  if (CPU.InstructionSupport.test(isSSE) && !processor.SseSelfTest())
    CPU.InstructionSupport.reset(isSSE);

  if (maxExtended >= 0x80000006) {
    const std::uint32_t ecx = processor.Cpuid(0x80000006).ECX;
    if (CPU.Vendor == cvAMD && (CPU.Signature & 0xFFF) == 0x630)
      CPU.L2CacheSize = 64;  // this part misreports its L2 size
    else if (CPU.Vendor == cvCentaur && CPU.EffFamily == 6 && (CPU.EffModel == 7 || CPU.EffModel == 8))
      CPU.L2CacheSize = static_cast<std::uint16_t>(ecx >> 24);
    else
      CPU.L2CacheSize = static_cast<std::uint16_t>(ecx >> 16);
  }
}

}  // namespace

const TProcessorAccess& RealProcessor() { return realProcessor; }

void GetCPUInfo(const TProcessorAccess& Processor) {
  CPU = TCpuInfo{};
  try {
    detect(Processor);
  } catch (...) {
    // Detection is best effort: what was found until the failure stands.
  }
}

}  // namespace CpuIdent
