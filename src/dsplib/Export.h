// Symbol visibility and status values shared by the four library files.
// Everything is hidden unless marked DSPLIB_EXPORT.
#pragma once

#define DSPLIB_EXPORT extern "C" __attribute__((visibility("default")))

namespace dsplib {

// Status results of the entry points. Zero is success, negative values are errors.
enum Status : int {
  StsNoErr = 0,
  StsSizeErr = -6,
  StsNullPtrErr = -8,
  StsMemAllocErr = -9,
  StsDivByZeroErr = -10,
  StsFftOrderErr = -15,
  StsFftFlagErr = -16,
  StsContextMatchErr = -17,
};

}  // namespace dsplib
