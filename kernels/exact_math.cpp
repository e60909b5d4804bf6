// The scalar build of the exact operations and the fixed-point rare cases of exp2 and log2 (the
// sine is exact_sin.cpp). exact_math.hlsli mirrors every step.
#include "kernels/exact_math.h"

#include <cstdint>
#include <cstring>

#include "kernels/exact_fixed_point.h"
#include "kernels/exact_math_tables.h"
#include "kernels/float_bits.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#include <xmmintrin.h>
#define PYRIX_HAS_MXCSR 1
#endif

namespace pyrix {

namespace {

#include "kernels/exact_math_lanes.h"
#include "kernels/exact_scalar_ops.h"

using Exact = ExactLanes<ScalarOps>;

uint32_t Bits(float v) {
    return ScalarOps::AsBits(v);
}

float FromBits(uint32_t bits) {
    return ScalarOps::FromBits(bits);
}

// ln 2 * 2^64, rounded to nearest.
constexpr uint32_t kLn2High = 0xB17217F7;
constexpr uint32_t kLn2Low = 0xD1CF79AC;

// 2^f - 1 for a 64-bit fraction f in [0, 1), as a 64-bit fraction: g = f ln2, and g + g^2 (1/2! +
// g/3! + ... + g^17/19!), whose next term is below 2^-66. Within about 20 units of 2^-64.
Wide Exp2Minus1(Wide f) {
    const Wide g = WideMulHigh(f, Wide{kLn2High, kLn2Low});
    uint32_t index = 34u;  // 1/19!
    Wide sum = InverseFactorial(index);
    for (int term = 0; term < 17; ++term) {
        index = index - 2u;
        sum = WideAdd(InverseFactorial(index), WideMulHigh(g, sum));
    }
    return WideAdd(g, WideMulHigh(g, WideMulHigh(g, sum)));
}

// |v| = whole + fraction / 2^64 exactly, for |v| < 2^24 whose last bit weighs at least 2^-64.
void ToFixed(float v, uint32_t* whole, Wide* fraction) {
    const uint32_t bits = Bits(v);
    const uint32_t biased = (bits >> 23) & 0xFFu;
    const uint32_t m = (bits & 0x007FFFFFu) | 0x00800000u;
    if (biased >= 150u) {
        *whole = m << (biased - 150u);
        *fraction = Wide{0u, 0u};
        return;
    }
    const uint32_t shift = 150u - biased;
    *whole = shift >= 24u ? 0u : m >> shift;
    *fraction = WideShiftLeft(Wide{0u, m}, 64u - shift);  // the whole part leaves at the top
}

// n = floor(v) and v - n in 64-bit fixed point, for v = -+(whole + fraction) (negative: minus).
int32_t SignedFloor(uint32_t whole, bool negative, Wide* fraction) {
    int32_t n = static_cast<int32_t>(whole);
    if (negative) {
        n = -n;
        if (fraction->high != 0u || fraction->low != 0u) {
            n = n - 1;
            *fraction = WideSub(Wide{0u, 0u}, *fraction);
        }
    }
    return n;
}

// The neighbour of hi on lo's side (hi, lo nonzero; hi + lo within 2^-36 of log2 of a normal
// float), and their midpoint mu = n + fraction, n = floor(mu).
float Log2Midpoint(float hi, float lo, int32_t* n, Wide* fraction) {
    const uint32_t hiBits = Bits(hi);
    const uint32_t hiBiased = (hiBits >> 23) & 0xFFu;
    const bool towardsZero = (lo < 0.0f) != (hi < 0.0f);
    // The neighbour lies an ulp away, half of one below a power of two.
    uint32_t stepBit = hiBiased - 86u;  // the ulp 2^(hiBiased - 150) as the bit of 2^(bit - 64)
    if (towardsZero && (hiBits & 0x007FFFFFu) == 0u) {
        stepBit = stepBit - 1u;
    }
    const float step = FromBits((stepBit + 63u) << 23);
    const float neighbour = lo > 0.0f ? hi + step : hi - step;
    // |mu| = |hi| -+ step / 2 in fixed point.
    uint32_t whole;
    ToFixed(hi, &whole, fraction);
    const Wide halfStep = WideShiftLeft(Wide{0u, 1u}, stepBit - 1u);
    if (towardsZero) {
        if (WideGreater(halfStep, *fraction)) {
            whole = whole - 1u;
        }
        *fraction = WideSub(*fraction, halfStep);
    } else {
        const Wide sum = WideAdd(*fraction, halfStep);
        if (WideGreater(*fraction, sum)) {
            whole = whole + 1u;
        }
        *fraction = sum;
    }
    *n = SignedFloor(whole, hi < 0.0f, fraction);
    return neighbour;
}

}  // namespace

// 2^y = 2^n (1 + e) with n = floor(y) and the fraction f = y - n exact in 64-bit fixed point;
// 1 + e within about 2^-59, rounded to nearest, ties to even.
float ExactExp2Rare(float y) {
    if (!(y >= -126.0f)) {
        return y != y ? y : 0.0f;
    }
    if (!(y < 128.0f)) {
        return FromBits(0x7F800000u);
    }
    const uint32_t biased = (Bits(y) >> 23) & 0xFFu;
    if (biased < 102u) {
        return 1.0f;  // |y| < 2^-25: 2^y lies within half an ulp of 1 on either side
    }
    uint32_t whole;
    Wide fraction;
    ToFixed(y, &whole, &fraction);
    const int32_t n = SignedFloor(whole, y < 0.0f, &fraction);
    const Wide e = Exp2Minus1(fraction);
    // 1.e with 41 bits below the float's last one.
    const uint32_t significand = 0x00800000u | (e.high >> 9);
    const uint32_t rest = e.high & 0x1FFu;
    const bool above = rest > 0x100u || (rest == 0x100u && e.low != 0u);
    const bool tie = rest == 0x100u && e.low == 0u;
    const uint32_t up = (above || (tie && (significand & 1u) != 0u)) ? 1u : 0u;
    return FromBits((static_cast<uint32_t>(n + 126) << 23) + significand + up);
}

// The correct result is hi or its neighbour on lo's side, whichever lies on the same side of
// their midpoint mu as log2 x. With mu = n + f (n = floor(mu), f exact in 64-bit fixed point),
// log2 x > mu exactly when x > 2^n (1 + e), e = 2^f - 1 within about 2^-59.
float ExactLog2Rare(float x, float hi, float lo) {
    const uint32_t xBits = Bits(x);
    const uint32_t xBiased = (xBits >> 23) & 0xFFu;
    if (xBiased == 0u || xBiased == 255u || x < 0.0f || lo == 0.0f || hi == 0.0f) {
        return hi;
    }
    int32_t n;
    Wide fraction;
    const float neighbour = Log2Midpoint(hi, lo, &n, &fraction);
    const Wide e = Exp2Minus1(fraction);
    // x = s 2^k with s in [1, 2): above mu when k > n, below when k < n, else as s - 1 to e.
    const int32_t k = static_cast<int32_t>(xBiased) - 127;
    bool above = k > n;
    if (k == n) {
        const Wide s = WideShiftLeft(Wide{0u, xBits & 0x007FFFFFu}, 41u);
        above = WideGreater(s, e);
    }
    const float larger = hi < neighbour ? neighbour : hi;
    const float smaller = hi < neighbour ? hi : neighbour;
    return above ? larger : smaller;
}

float ExactExp2(float y) {
    return Exact::Exp2(y);
}

float ExactLog2(float x) {
    return Exact::Log2(x);
}

float ExactDiv(float a, float b) {
    return Exact::Div(a, b);
}

float ExactSqrt(float v) {
    return Exact::Sqrt(v);
}

unsigned InFloatMode::Current() {
#ifdef PYRIX_HAS_MXCSR
    return _mm_getcsr();
#else
    return 0;
#endif
}

void InFloatMode::Set(unsigned mode) {
#ifdef PYRIX_HAS_MXCSR
    _mm_setcsr(mode);
#else
    (void)mode;
#endif
}

InFloatMode::InFloatMode(unsigned mode) : saved_(Current()) {
    Set(mode);
}

InFloatMode::~InFloatMode() {
    Set(saved_);
}

// Flush to zero (bit 15) and denormals are zero (bit 6) on, and rounding (bits 13 and 14) to
// nearest: a host thread that rounds otherwise would change bits.
unsigned FlushDenormals::Mode(unsigned from) {
    return (from & ~0x6000u) | 0x8040u;
}

FlushDenormals::FlushDenormals() : saved_(InFloatMode::Current()) {
    InFloatMode::Set(Mode(saved_));
}

FlushDenormals::~FlushDenormals() {
    InFloatMode::Set(saved_);
}

}  // namespace pyrix
