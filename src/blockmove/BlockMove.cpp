#include "BlockMove.h"

#include <cstring>

namespace BlockMove {
namespace {
void defaultMove(const void* source, void* dest, std::intptr_t count) {
  if (count > 0 && source != dest) std::memmove(dest, source, static_cast<std::size_t>(count));
}
}  // namespace

void Move(const void* Source, void* Dest, std::intptr_t Count) { defaultMove(Source, Dest, Count); }

}  // namespace BlockMove
