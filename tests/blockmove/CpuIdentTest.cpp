// Processor detection from recorded CPUID answers, so every vendor rule and
// descriptor table entry is exercised on any machine.
#include "blockmove/CpuIdent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "blockmove/BlockMove.h"

using namespace CpuIdent;

namespace {

// What one recorded processor answers. Function 2 may answer differently on
// each query; every other function always answers the same.
struct Recording {
  bool hasCpuid = true;
  bool sseWorks = true;
  std::map<std::uint32_t, TCpuidRegisters> answers;
  std::vector<TCpuidRegisters> function2;
  std::uint32_t failingFunction = 0xFFFFFFFF;  // CPUID of this function throws
  std::vector<std::uint32_t> asked;
  size_t function2Queries = 0;
};

Recording* playing = nullptr;

const TProcessorAccess recorded{
    [] { return playing->hasCpuid; },
    [](std::uint32_t function) {
      playing->asked.push_back(function);
      if (function == playing->failingFunction) throw std::runtime_error("CPUID failed");
      if (function == 2 && !playing->function2.empty())
        return playing->function2.at(std::min(playing->function2Queries++, playing->function2.size() - 1));
      const auto found = playing->answers.find(function);
      return found == playing->answers.end() ? TCpuidRegisters{} : found->second;
    },
    [] { return playing->sseWorks; }};

constexpr std::uint32_t MMX = 1u << 23, SSE = 1u << 25;

TCpuidRegisters vendor(std::string_view name, std::uint32_t maxStandard) {
  TCpuidRegisters r;
  r.EAX = maxStandard;
  std::memcpy(&r.EBX, name.data(), 4);
  std::memcpy(&r.EDX, name.data() + 4, 4);
  std::memcpy(&r.ECX, name.data() + 8, 4);
  return r;
}

// A processor of no maker the rules know, with MMX and SSE and no extended L2 answer.
Recording plainProcessor(std::uint32_t maxStandard, std::uint32_t maxExtended) {
  Recording r;
  r.answers[0] = vendor("SomeMakerInc", maxStandard);
  r.answers[1] = {0x00000695, 0, 0, MMX | SSE};
  r.answers[0x80000000] = {maxExtended, 0, 0, 0};
  return r;
}

TCpuInfo detect(Recording& recording) {
  playing = &recording;
  GetCPUInfo(recorded);
  playing = nullptr;
  return CPU;
}

}  // namespace

TEST(CpuIdent, AmdPart630ReportsL2Of64WhateverFunction80000006Says) {
  Recording r;
  r.answers[0] = vendor("AuthenticAMD", 1);
  r.answers[1] = {0x00000630, 0, 0, MMX};
  r.answers[0x80000000] = {0x80000008, 0, 0, 0};
  r.answers[0x80000006] = {0, 0, 0x01000000, 0};  // claims 256 KB
  const TCpuInfo cpu = detect(r);
  EXPECT_EQ(cpu.Vendor, cvAMD);
  EXPECT_EQ(cpu.Signature, 0x630u);
  EXPECT_EQ(cpu.EffFamily, 6);
  EXPECT_EQ(cpu.EffModel, 3);
  EXPECT_EQ(cpu.L2CacheSize, 64);
  EXPECT_TRUE(cpu.InstructionSupport.test(isMMX));
  EXPECT_FALSE(cpu.InstructionSupport.test(isSSE));

  BlockMove::Initialize();
  EXPECT_EQ(BlockMove::PrefetchLimit, -4096);
  EXPECT_EQ(BlockMove::InstalledMove(), &BlockMove::MoveDispatch_MMX);
}

TEST(CpuIdent, OtherAmdPartsTakeBits16To31) {
  Recording r;
  r.answers[0] = vendor("AuthenticAMD", 1);
  r.answers[1] = {0x00000631, 0, 0, MMX};  // a later stepping of the same part
  r.answers[0x80000000] = {0x80000006, 0, 0, 0};
  r.answers[0x80000006] = {0, 0, 0x01000140, 0};
  EXPECT_EQ(detect(r).L2CacheSize, 256);
}

TEST(CpuIdent, CentaurFamily6Models7And8TakeBits24To31) {
  for (const std::uint32_t signature : {0x673u, 0x688u, 0x698u}) {
    Recording r;
    r.answers[0] = vendor("CentaurHauls", 1);
    r.answers[1] = {signature, 0, 0, MMX};
    r.answers[0x80000000] = {0x80000006, 0, 0, 0};
    r.answers[0x80000006] = {0, 0, 0x40104040, 0};
    const TCpuInfo cpu = detect(r);
    EXPECT_EQ(cpu.Vendor, cvCentaur);
    const bool model7or8 = signature != 0x698u;
    EXPECT_EQ(cpu.L2CacheSize, model7or8 ? 0x40 : 0x4010) << std::hex << signature;
  }
}

TEST(CpuIdent, VendorStringIsTakenFromEbxEdxEcxInThatOrder) {
  Recording r;
  r.answers[0] = {1, 0x68747541, 0x444D4163, 0x69746E65};  // "Auth" "cAMD" "enti"
  EXPECT_EQ(detect(r).Vendor, cvAMD);
  r.answers[0] = {1, 0x68747541, 0x69746E65, 0x444D4163};  // ECX and EDX swapped
  EXPECT_EQ(detect(r).Vendor, cvUnknown);
}

TEST(CpuIdent, ExtendedFamilyAndModelCountOnlyForFamily15) {
  Recording r = plainProcessor(1, 0);
  r.answers[1].EAX = 0x00A20F10;  // family 15 + 0x0A, model 1 + 0x20
  TCpuInfo cpu = detect(r);
  EXPECT_EQ(cpu.EffFamily, 0x19);
  EXPECT_EQ(cpu.EffModel, 0x21);

  r.answers[1].EAX = 0x0FF906EA;  // family 6: the extended fields are ignored
  cpu = detect(r);
  EXPECT_EQ(cpu.EffFamily, 6);
  EXPECT_EQ(cpu.EffModel, 0x0E);
  EXPECT_EQ(cpu.Signature, 0x0FF906EAu);
}

TEST(CpuIdent, EveryDescriptorOfTheTableGivesItsL2Size) {
  const std::map<std::uint16_t, std::vector<std::uint8_t>> table = {
      {128, {0x39, 0x3B, 0x41, 0x79}},
      {256, {0x3C, 0x42, 0x7A, 0x82}},
      {512, {0x43, 0x7B, 0x7F, 0x83, 0x86}},
      {1024, {0x44, 0x78, 0x7C, 0x84, 0x87}},
      {2048, {0x45, 0x7D, 0x85}}};
  for (const auto& [size, descriptors] : table) {
    for (const std::uint8_t descriptor : descriptors) {
      for (int position = 1; position < 16; ++position) {
        Recording r = plainProcessor(2, 0);
        // One query whose other bytes hold descriptors of no L2 cache.
        std::uint32_t regs[4] = {0x2C2C2C01, 0xB0B0B0B0, 0xF0F0F0F0, 0x30303030};
        const int shift = 8 * (position % 4);
        regs[position / 4] = (regs[position / 4] & ~(0xFFu << shift)) | std::uint32_t{descriptor} << shift;
        r.answers[2] = {regs[0], regs[1], regs[2], regs[3]};
        EXPECT_EQ(detect(r).L2CacheSize, size) << std::hex << int(descriptor) << " at byte " << position;
      }
    }
  }
}

TEST(CpuIdent, LaterDescriptorsWinAndTheHighBitIsNotTested) {
  Recording r = plainProcessor(2, 0);
  // EAX byte 1 says 128, EBX 256, ECX 512, EDX (bit 31 set) 2048.
  r.answers[2] = {0x00003901, 0x0000003C, 0x00430000, 0x80000045};
  EXPECT_EQ(detect(r).L2CacheSize, 2048);
  r.answers[2] = {0x00003901, 0x0000003C, 0x00430000, 0x80000000};
  EXPECT_EQ(detect(r).L2CacheSize, 512);
}

TEST(CpuIdent, Function2IsQueriedAsOftenAsItsLowByteSays) {
  Recording r = plainProcessor(2, 0);
  r.function2 = {{0x00443903, 0, 0, 0}, {0x00004203, 0, 0, 0}, {0x00000003, 0, 0, 0}, {0x45000003, 0, 0, 0}};
  const TCpuInfo cpu = detect(r);
  EXPECT_EQ(r.function2Queries, 3u);  // the fourth answer is never asked for
  EXPECT_EQ(cpu.L2CacheSize, 256);    // the second query's descriptor stands

  Recording none = plainProcessor(2, 0);
  none.answers[2] = {0x00004400, 0, 0, 0};  // a count of 0: nothing is taken
  EXPECT_EQ(detect(none).L2CacheSize, 0);
}

TEST(CpuIdent, Function2IsAskedOnlyWhenTheHighestStandardFunctionAllows) {
  Recording r = plainProcessor(1, 0);
  r.answers[2] = {0x00004401, 0, 0, 0};
  EXPECT_EQ(detect(r).L2CacheSize, 0);
  EXPECT_EQ(std::count(r.asked.begin(), r.asked.end(), 2u), 0);
}

TEST(CpuIdent, Function80000006OverridesTheDescriptors) {
  Recording r = plainProcessor(2, 0x80000006);
  r.answers[2] = {0x00004401, 0, 0, 0};
  r.answers[0x80000006] = {0, 0, 0x02000140, 0};
  EXPECT_EQ(detect(r).L2CacheSize, 512);

  r.answers[0x80000000].EAX = 0x80000005;  // too low: the descriptor stands
  EXPECT_EQ(detect(r).L2CacheSize, 1024);
}

TEST(CpuIdent, NoCpuidLeavesEverythingZeroAndChoosesIA32) {
  Recording r = plainProcessor(2, 0x80000006);
  r.hasCpuid = false;
  const TCpuInfo cpu = detect(r);
  EXPECT_TRUE(r.asked.empty());
  EXPECT_EQ(cpu.Vendor, cvUnknown);
  EXPECT_EQ(cpu.Signature, 0u);
  EXPECT_EQ(cpu.L2CacheSize, 0);
  EXPECT_TRUE(cpu.InstructionSupport.none());

  BlockMove::PrefetchLimit = 12345;
  BlockMove::Initialize();
  EXPECT_EQ(BlockMove::PrefetchLimit, 0);
  EXPECT_EQ(BlockMove::InstalledMove(), &BlockMove::MoveDispatch_IA32);
}

TEST(CpuIdent, FailedSseSelfTestRemovesSseAndChoosesMmx) {
  Recording r = plainProcessor(1, 0);
  r.sseWorks = false;
  const TCpuInfo cpu = detect(r);
  EXPECT_TRUE(cpu.InstructionSupport.test(isMMX));
  EXPECT_FALSE(cpu.InstructionSupport.test(isSSE));
  BlockMove::Initialize();
  EXPECT_EQ(BlockMove::InstalledMove(), &BlockMove::MoveDispatch_MMX);
}

TEST(CpuIdent, AFailureDuringDetectionKeepsWhatWasFound) {
  Recording r = plainProcessor(2, 0x80000006);
  r.failingFunction = 2;
  const TCpuInfo cpu = detect(r);
  EXPECT_EQ(cpu.Signature, 0x695u);
  EXPECT_TRUE(cpu.InstructionSupport.test(isSSE));
  EXPECT_EQ(cpu.L2CacheSize, 0);
  BlockMove::Initialize();
  EXPECT_EQ(BlockMove::InstalledMove(), &BlockMove::MoveDispatch_SSE);
}

TEST(CpuIdent, DetectionStartsFromAClearedRecord) {
  CPU.Vendor = cvCentaur;
  CPU.L2CacheSize = 999;
  CPU.InstructionSupport.set();
  Recording r = plainProcessor(0, 0);
  const TCpuInfo cpu = detect(r);
  EXPECT_EQ(cpu.Vendor, cvUnknown);
  EXPECT_EQ(cpu.L2CacheSize, 0);
  EXPECT_TRUE(cpu.InstructionSupport.none());
}

TEST(CpuIdent, ThisProcessorHasMmxAndSseAndGetsTheSseVariant) {
  GetCPUInfo();
  EXPECT_TRUE(CPU.InstructionSupport.test(isMMX));
  EXPECT_TRUE(CPU.InstructionSupport.test(isSSE));
  BlockMove::Initialize();
  EXPECT_EQ(BlockMove::InstalledMove(), &BlockMove::MoveDispatch_SSE);
  EXPECT_EQ(BlockMove::PrefetchLimit, CPU.L2CacheSize / 16 * -1024);
}
