// The tables of the exact operations (exact_math.cpp, exact_math_lanes.h) as plain arrays of
// fixed length, so that their words can be read, compared or uploaded as they are.
#pragma once

#include <cstdint>

#include "kernels/params_block.h"

namespace pyrix {

// The bits of 2/pi, the bit of weight 2^-1 first, after two words of zeros that let the sine's
// reduction window start before the binary point.
extern const uint32_t kTwoOverPi[10];

// 2^64 / n! for n = 2 .. 21, rounded to nearest, high word first: the Taylor coefficients of
// sine (odd n) and cosine (even n) as 64-bit fractions.
extern const uint32_t kInverseFactorials[40];

// 2^(j/128) = kExp2High[j] + kExp2Low[j], each rounded to nearest.
extern const float kExp2High[128];
extern const float kExp2Low[128];

// log2 of a float whose top 7 fraction bits are j: kLog2Inverse[j] brings its significand
// within 2^-7 of 1, and log2(1 / kLog2Inverse[j]) (less 1 from j = 53 on) is
// kLog2High[j] + kLog2Low[j]. See exact_math_tables.cpp.
extern const float kLog2Inverse[128];
extern const float kLog2High[128];
extern const float kLog2Low[128];

// The tables above as the kernels read them from their constant buffer b1.
TablesBlock MakeTablesBlock();

}  // namespace pyrix
