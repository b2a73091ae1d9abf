// The program's single block-move entry point. Every copy of sample or byte
// buffers in the program's own code goes through Move. It calls through a
// pointer that start-up sets once to the processor-specific variant; until
// then it is a correct default.
#pragma once

#include <cstdint>

namespace BlockMove {

// Copies Count bytes from Source to Dest; the ranges may overlap. A count of 0
// or less, or Source == Dest, moves nothing.
void Move(const void* Source, void* Dest, std::intptr_t Count);

}  // namespace BlockMove
