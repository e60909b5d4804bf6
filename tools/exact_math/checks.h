// The accuracy run's checks, counted per check. Unary checks take one float pattern each; the
// division checks take one divisor (or one hard case) per work item.
#pragma once

#include <mpfr.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/exact_math_avx2.h"
#include "kernels/float_bits.h"

namespace exact_math_check {

using pyrix::FloatBits;
using pyrix::FloatFromBits;

enum Check {
    kSin,
    kSinFloatFirst,
    kExp2,
    kLog2,
    kSqrt,
    kDivFixed,
    kDivNearPowers,
    kDivMidpoints,
    kSqrtLanes,
    kExp2Lanes,
    kLog2Lanes,
    kChecks
};
constexpr const char* kNames[kChecks] = {
    "sin",       "sin float path", "exp2",           "log2",
    "sqrt",      "div fixed b",    "div b near 2^k", "div midpoint",
    "sqrt avx2", "exp2 avx2",      "log2 avx2"};

// The name that --only gives the check's group: "sin" names both orders of the sine, "div" and
// "avx2" three checks each.
inline const char* GroupName(int check) {
    return check >= kSqrtLanes       ? "avx2"
           : check >= kDivFixed      ? "div"
           : check == kSinFloatFirst ? "sin"
                                     : kNames[check];
}

// The same float, or both NaN (no build promises a NaN's payload).
inline bool SameResult(float got, float want) {
    return (got != got && want != want) || FloatBits(got) == FloatBits(want);
}

struct Tally {
    uint64_t checked[kChecks] = {};
    uint64_t wrong[kChecks] = {};
    uint64_t mpfrCalls = 0;
    std::vector<uint32_t> examples[kChecks];  // the argument, or a and b for a division

    void Record(Check check, bool right, uint32_t a, uint32_t b = 0);
    void Add(const Tally& other);
};

// MPFR's variables of one thread.
struct Mpfr {
    mpfr_t x;
    mpfr_t y;
};

// sin, exp2, log2 and sqrt of one float pattern, each in the caller's float mode and again with
// denormals flushed, the kernels' mode (the exact operations must not depend on it); log2 and
// sqrt read a denormal as a zero, as the kernels do.
// `checks` has bit 1 << c set for each unary check c to run.
void CheckPattern(uint32_t bits, unsigned checks, Mpfr* mpfr, Tally* tally);

// The AVX2 build of sqrt, exp2 and log2 on the patterns (n a multiple of 8) against the scalar
// build, bit for bit (NaN as NaN).
void CheckLanes(const pyrix::ExactLaneFunctions& lanes, const uint32_t* patterns, size_t n,
                Tally* tally);

// The division work: DivisionItems(sample) items, each checked by CheckDivisionItem against the
// processor's division under FlushDenormals (IEEE, denormals read and written as zero).
uint32_t DivisionItems(bool sample);
void CheckDivisionItem(uint32_t item, bool sample, Tally* tally);

}  // namespace exact_math_check
