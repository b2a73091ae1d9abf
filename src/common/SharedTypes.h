// Types and rounding helpers shared by every module of the editor.
#pragma once

#include <cmath>
#include <cstdint>

// A buffer of doubles from the signal-processing library's allocator. It does not
// know its length: the count always travels beside it.
using pDoubleArray = double*;

// Days since 1899-12-30, the time of day as the fraction.
using TDateTime = double;

// Nearest integer, ties to the even neighbour (1.5 -> 2, 2.5 -> 2, -0.5 -> 0).
// Relies on the default rounding mode, which the program never changes.
inline std::int64_t Round(long double x) { return std::llrint(x); }
inline std::int64_t Round(double x) { return std::llrint(x); }

// Toward zero.
inline std::int64_t Trunc(long double x) { return static_cast<std::int64_t>(x); }
inline std::int64_t Trunc(double x) { return static_cast<std::int64_t>(x); }
