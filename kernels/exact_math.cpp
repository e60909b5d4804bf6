// The scalar build of the exact operations, the sine (scalar only: the fast kernel calls it once
// per lattice point) and the fixed-point rare cases of exp2 and log2. exact_math.hlsli mirrors
// every step.
#include "kernels/exact_math.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#include <xmmintrin.h>
#define PYRIX_HAS_MXCSR 1
#endif

namespace pyrix {

namespace {

struct ScalarOps {
    using F = float;
    using M = bool;
    using U = uint32_t;

    static F Set(float v) { return v; }
    static F Add(F a, F b) { return a + b; }
    static F Sub(F a, F b) { return a - b; }
    static F Mul(F a, F b) { return a * b; }
    static F Floor(F a) { return __builtin_floorf(a); }
    static F Max(F a, F b) { return (a < b) ? b : a; }
    static F Min(F a, F b) { return (b < a) ? b : a; }
    static M Greater(F a, F b) { return a > b; }
    static F Select(M m, F a, F b) { return m ? a : b; }
    static U AsBits(F v) {
        U bits;
        std::memcpy(&bits, &v, sizeof(bits));
        return bits;
    }
    static F FromBits(U bits) {
        F v;
        std::memcpy(&v, &bits, sizeof(v));
        return v;
    }
    static constexpr int kWidth = 1;
    static F Load(const float* p) { return *p; }
    static void Store(float* p, F v) { *p = v; }
    static M Less(F a, F b) { return a < b; }
    static M GreaterEqual(F a, F b) { return a >= b; }
    static M And(M a, M b) { return a && b; }
    static M AndNot(M a, M b) { return !a && b; }
    static int Bits(M m) { return m ? 1 : 0; }
    static F Gather(const float* table, U index) { return table[index]; }
    static U USet(uint32_t v) { return v; }
    static U UAdd(U a, U b) { return a + b; }
    static U USub(U a, U b) { return a - b; }
    static U UShiftLeft(U a, int n) { return a << n; }
    static U UShiftRight(U a, int n) { return a >> n; }
    static U UAnd(U a, U b) { return a & b; }
    static U UOr(U a, U b) { return a | b; }
    static F ToFloat(U a) { return static_cast<float>(static_cast<int32_t>(a)); }
    static U ToInt(F a) { return static_cast<U>(static_cast<int32_t>(a)); }
};

#include "kernels/exact_math_lanes.h"

using Exact = ExactLanes<ScalarOps>;

uint32_t Bits(float v) {
    return ScalarOps::AsBits(v);
}

float FromBits(uint32_t bits) {
    return ScalarOps::FromBits(bits);
}

// The full 64-bit product of two 32-bit words. (The HLSL, without a wide multiply, builds the
// same product from 16-bit halves.)
void Multiply(uint32_t a, uint32_t b, uint32_t* high, uint32_t* low) {
    const uint64_t product = static_cast<uint64_t>(a) * b;
    *low = static_cast<uint32_t>(product);
    *high = static_cast<uint32_t>(product >> 32);
}

// The bits of 2/pi, the bit of weight 2^-1 first, after two words of zeros that let the
// reduction window start before the binary point.
constexpr uint32_t kTwoOverPi[10] = {0,          0,          0xA2F9836E, 0x4E441529, 0xFC2757D1,
                                     0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB, 0xDEBBC561};

// pi/2 * 2^63, rounded to nearest.
constexpr uint32_t kHalfPiHigh = 0xC90FDAA2;
constexpr uint32_t kHalfPiLow = 0x2168C235;

// 2^64 / n! for n = 2 .. 21, rounded to nearest, high word first: the Taylor coefficients of
// sine (odd n) and cosine (even n) as 64-bit fractions.
constexpr uint32_t kInverseFactorials[40] = {
    0x80000000, 0x00000000, 0x2AAAAAAA, 0xAAAAAAAB, 0x0AAAAAAA, 0xAAAAAAAB, 0x02222222, 0x22222222,
    0x005B05B0, 0x5B05B05B, 0x000D00D0, 0x0D00D00D, 0x0001A01A, 0x01A01A02, 0x00002E3B, 0xC74AAD8E,
    0x0000049F, 0x93EDDE28, 0x0000006B, 0x99159FD5, 0x00000008, 0xF76C77FC, 0x00000000, 0xB092309D,
    0x00000000, 0x0C9CBA54, 0x00000000, 0x00D73F9F, 0x00000000, 0x000D73FA, 0x00000000, 0x0000CA96,
    0x00000000, 0x00000B41, 0x00000000, 0x00000098, 0x00000000, 0x00000008, 0x00000000, 0x00000000};

// The 32 bits of the table starting at bit `start` (0 = top bit of word 0).
uint32_t TableWord(uint32_t start) {
    const uint32_t word = start >> 5;
    const uint32_t shift = start & 31u;
    const uint32_t next = shift == 0 ? 0u : kTwoOverPi[word + 1] >> (32u - shift);
    return (kTwoOverPi[word] << shift) | next;
}

uint32_t LeadingZeros(uint32_t v) {
    return v == 0 ? 32u : static_cast<uint32_t>(__builtin_clz(v));
}

// An unsigned 64-bit value in two words.
struct Wide {
    uint32_t high;
    uint32_t low;
};

Wide WideSub(Wide a, Wide b) {
    const uint32_t borrow = a.low < b.low ? 1u : 0u;
    return Wide{a.high - b.high - borrow, a.low - b.low};
}

Wide WideAdd(Wide a, Wide b) {
    const uint32_t low = a.low + b.low;
    const uint32_t carry = low < a.low ? 1u : 0u;
    return Wide{a.high + b.high + carry, low};
}

bool WideGreater(Wide a, Wide b) {
    return a.high > b.high || (a.high == b.high && a.low > b.low);
}

// a << n mod 2^64 for n < 64.
Wide WideShiftLeft(Wide a, uint32_t n) {
    if (n >= 32u) {
        return Wide{a.low << (n - 32u), 0u};
    }
    if (n == 0u) {
        return a;
    }
    return Wide{(a.high << n) | (a.low >> (32u - n)), a.low << n};
}

// floor(a * b / 2^64), exactly. (One wide product where the compiler has it; the words are
// the same either way.)
Wide WideMulHigh(Wide a, Wide b) {
#ifdef __SIZEOF_INT128__
    __extension__ using Product = unsigned __int128;
    const Product product = static_cast<Product>((static_cast<uint64_t>(a.high) << 32) | a.low) *
                            ((static_cast<uint64_t>(b.high) << 32) | b.low);
    const uint64_t high = static_cast<uint64_t>(product >> 64);
    return Wide{static_cast<uint32_t>(high >> 32), static_cast<uint32_t>(high)};
#else
    uint32_t ll1, ll0, lh1, lh0, hl1, hl0, hh1, hh0;
    Multiply(a.low, b.low, &ll1, &ll0);
    Multiply(a.low, b.high, &lh1, &lh0);
    Multiply(a.high, b.low, &hl1, &hl0);
    Multiply(a.high, b.high, &hh1, &hh0);
    (void)ll0;
    uint32_t w1 = ll1 + lh0;
    uint32_t carry1 = w1 < ll1 ? 1u : 0u;
    w1 = w1 + hl0;
    carry1 = carry1 + (w1 < hl0 ? 1u : 0u);
    uint32_t w2 = lh1 + hl1;
    uint32_t carry2 = w2 < lh1 ? 1u : 0u;
    w2 = w2 + hh0;
    carry2 = carry2 + (w2 < hh0 ? 1u : 0u);
    w2 = w2 + carry1;
    carry2 = carry2 + (w2 < carry1 ? 1u : 0u);
    return Wide{hh1 + carry2, w2};
#endif
}

// a >> n for any n >= 0.
Wide WideShiftRight(Wide a, uint32_t n) {
    if (n >= 64u) {
        return Wide{0u, 0u};
    }
    if (n >= 32u) {
        return Wide{0u, a.high >> (n - 32u)};
    }
    if (n == 0u) {
        return a;
    }
    return Wide{a.high >> n, (a.low >> n) | (a.high << (32u - n))};
}

// The Taylor series of sin(r)/r - 1 (odd = 1) or cos(r) - 1 (odd = 0) without its sign: z times
// the alternating sum of z^k / n_k! from the last term that still weighs 2^-64 down to the
// first. Every partial sum is positive and below 1, as |r| <= pi/4.
Wide TaylorTail(Wide z, uint32_t odd) {
    uint32_t index = 36u + 2u * odd;  // 1/21! (0 as a fraction) or 1/20!
    Wide sum = Wide{kInverseFactorials[index], kInverseFactorials[index + 1u]};
    for (int term = 0; term < 9; ++term) {
        index = index - 4u;
        const Wide coefficient = Wide{kInverseFactorials[index], kInverseFactorials[index + 1u]};
        sum = WideSub(coefficient, WideMulHigh(z, sum));
    }
    return WideMulHigh(z, sum);
}

// ln 2 * 2^64, rounded to nearest.
constexpr uint32_t kLn2High = 0xB17217F7;
constexpr uint32_t kLn2Low = 0xD1CF79AC;

// 2^f - 1 for a 64-bit fraction f in [0, 1), as a 64-bit fraction: g = f ln2, and g + g^2 (1/2! +
// g/3! + ... + g^17/19!), whose next term is below 2^-66. Within about 20 units of 2^-64.
Wide Exp2Minus1(Wide f) {
    const Wide g = WideMulHigh(f, Wide{kLn2High, kLn2Low});
    uint32_t index = 34u;  // 1/19!
    Wide sum = Wide{kInverseFactorials[index], kInverseFactorials[index + 1u]};
    for (int term = 0; term < 17; ++term) {
        index = index - 2u;
        sum = WideAdd(Wide{kInverseFactorials[index], kInverseFactorials[index + 1u]},
                      WideMulHigh(g, sum));
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
    int32_t n = static_cast<int32_t>(whole);
    if (y < 0.0f) {
        n = -n;
        if (fraction.high != 0u || fraction.low != 0u) {
            n = n - 1;
            fraction = WideSub(Wide{0u, 0u}, fraction);
        }
    }
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
    Wide fraction;
    ToFixed(hi, &whole, &fraction);
    const Wide halfStep = WideShiftLeft(Wide{0u, 1u}, stepBit - 1u);
    if (towardsZero) {
        if (WideGreater(halfStep, fraction)) {
            whole = whole - 1u;
        }
        fraction = WideSub(fraction, halfStep);
    } else {
        const Wide sum = WideAdd(fraction, halfStep);
        if (WideGreater(fraction, sum)) {
            whole = whole + 1u;
        }
        fraction = sum;
    }
    int32_t n = static_cast<int32_t>(whole);
    if (hi < 0.0f) {
        n = -n;
        if (fraction.high != 0u || fraction.low != 0u) {
            n = n - 1;
            fraction = WideSub(Wide{0u, 0u}, fraction);
        }
    }
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

// Payne and Hanek's reduction in integers: |x| = m 2^E (m of 24 bits); x 2/pi mod 4 is m times
// the 128 bits of 2/pi from the weight 2^(1-E) on, mod 2^128, read as 2.126 fixed point (the
// bits before the window add multiples of 4, the ones after it less than 2^-102). The quadrant
// is the integer part rounded to nearest; the fraction |f| <= 1/2 is normalised and its top 64
// bits multiplied by pi/2, which gives r to about 2^-62 relatively as long as |f| stays above
// 2^-38 (no float comes closer to a multiple of pi/2 than |f| = 2^-31). sin r or cos r follows
// from the Taylor series in 64-bit fixed point, within a few units of 2^-62 relatively, and is
// rounded to nearest, ties to even. Only a sine within about 2^-57 of a rounding midpoint could
// round the wrong way; the exhaustive run finds none among the floats.
float ExactSin(float x) {
    const uint32_t bits = Bits(x);
    const uint32_t sign = bits & 0x80000000u;
    const uint32_t biased = (bits >> 23) & 0xFFu;
    if (biased < 115u) {
        return x;  // |x| < 2^-12: x - sin x < |x|^3 / 6 is below a quarter ulp of x
    }
    if (biased == 255u) {
        return x - x;
    }
    const uint32_t m = (bits & 0x007FFFFFu) | 0x00800000u;
    // The window starts at table bit E + 62 (E = biased - 150), at least 27, at most 166.
    const uint32_t start = biased - 88u;
    const uint32_t w0 = TableWord(start);
    const uint32_t w1 = TableWord(start + 32u);
    const uint32_t w2 = TableWord(start + 64u);
    const uint32_t w3 = TableWord(start + 96u);
    uint32_t h3, l3, h2, l2, h1, l1;
    Multiply(m, w3, &h3, &l3);
    Multiply(m, w2, &h2, &l2);
    Multiply(m, w1, &h1, &l1);
    const uint32_t q1 = h3 + l2;
    const uint32_t carry1 = q1 < h3 ? 1u : 0u;
    uint32_t q2 = h2 + l1;
    uint32_t carry2 = q2 < h2 ? 1u : 0u;
    q2 = q2 + carry1;
    carry2 = carry2 + (q2 < carry1 ? 1u : 0u);
    const uint32_t q3 = h1 + m * w0 + carry2;  // mod 2^32: only x 2/pi mod 4 matters
    uint32_t quadrant = q3 >> 30;
    uint32_t g3 = q3 & 0x3FFFFFFFu;
    uint32_t g2 = q2;
    uint32_t g1 = q1;
    uint32_t g0 = l3;
    uint32_t negative = 0u;
    if ((g3 & 0x20000000u) != 0u) {
        // A fraction of 1/2 or more: round the quadrant up, f = -(1 - fraction).
        quadrant = quadrant + 1u;
        negative = 0x80000000u;
        g0 = ~g0 + 1u;
        uint32_t carry = g0 == 0u ? 1u : 0u;
        g1 = ~g1 + carry;
        carry = (carry != 0u && g1 == 0u) ? 1u : 0u;
        g2 = ~g2 + carry;
        carry = (carry != 0u && g2 == 0u) ? 1u : 0u;
        g3 = (~g3 + carry) & 0x3FFFFFFFu;
    }
    // Normalise |f| = (g3:g2:g1:g0) 2^-126 so that its top bit is bit 31 of g3.
    int32_t scale = 0;
    for (int word = 0; word < 3; ++word) {
        if (g3 == 0u) {
            g3 = g2;
            g2 = g1;
            g1 = g0;
            g0 = 0u;
            scale = scale + 32;
        }
    }
    const uint32_t zeros = LeadingZeros(g3);
    if (zeros == 32u) {
        // Not reached by any float; kept so that no input can shift by 32.
        return FromBits(sign ^ ((quadrant & 1u) != 0u ? Bits(1.0f) : 0u) ^
                        ((quadrant & 2u) != 0u ? 0x80000000u : 0u));
    }
    if (zeros != 0u) {
        g3 = (g3 << zeros) | (g2 >> (32u - zeros));
        g2 = (g2 << zeros) | (g1 >> (32u - zeros));
    }
    scale = scale + static_cast<int32_t>(zeros);
    // |f| pi/2, both factors in [2^63, 2^64): r = (top 64 bits of the product) 2^(-61 - scale).
    Wide r = WideMulHigh(Wide{g3, g2}, Wide{kHalfPiHigh, kHalfPiLow});
    if ((r.high & 0x80000000u) == 0u) {
        r = Wide{(r.high << 1) | (r.low >> 31), r.low << 1};
        scale = scale + 1;
    }
    // z = r^2 as a 64-bit fraction (scale >= 3, as |f| <= 1/2 and pi/4 < 1).
    const Wide z = WideShiftRight(WideMulHigh(r, r), static_cast<uint32_t>(2 * scale - 6));
    const uint32_t odd = (quadrant & 1u) != 0u ? 0u : 1u;
    const Wide tail = TaylorTail(z, odd);
    Wide value;
    uint32_t exponent;
    if (odd != 0u) {
        // sin r = r - r tail, in [0.89 r, r].
        value = WideSub(r, WideMulHigh(r, tail));
        exponent = static_cast<uint32_t>(129 - scale);
    } else {
        // cos r = 1 - tail, in [0.70, 1]; tail = 0 leaves exactly 1.
        if (tail.high == 0u && tail.low == 0u) {
            value = Wide{0x80000000u, 0u};
            exponent = 127u;
        } else {
            value = WideSub(Wide{0u, 0u}, tail);
            exponent = 126u;
        }
    }
    if ((value.high & 0x80000000u) == 0u) {
        value = Wide{(value.high << 1) | (value.low >> 31), value.low << 1};
        exponent = exponent - 1u;
    }
    // value = 1.m 2^(exponent - 127) with 40 bits below the float's last one: round to nearest,
    // ties to even (a carry into the exponent field is the right result).
    const uint32_t significand = value.high >> 8;
    const uint32_t restHigh = value.high & 0xFFu;
    const bool above = restHigh > 0x80u || (restHigh == 0x80u && value.low != 0u);
    const bool tie = restHigh == 0x80u && value.low == 0u;
    const uint32_t up = (above || (tie && (significand & 1u) != 0u)) ? 1u : 0u;
    const uint32_t magnitude = ((exponent - 1u) << 23) + significand + up;
    // sin(q pi/2 + f pi/2): the sine's sign follows f, both change sign for q = 2, 3.
    uint32_t flip = sign;
    if ((quadrant & 1u) == 0u) {
        flip = flip ^ negative;
    }
    if ((quadrant & 2u) != 0u) {
        flip = flip ^ 0x80000000u;
    }
    return FromBits(magnitude ^ flip);
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

TablesBlock MakeTablesBlock() {
    TablesBlock block{};
    for (uint32_t j = 0; j < 128; ++j) {
        block.exp2[j][0] = kExp2High[j];
        block.exp2[j][1] = kExp2Low[j];
        block.log2[j][0] = kLog2Inverse[j];
        block.log2[j][1] = kLog2High[j];
        block.log2[j][2] = kLog2Low[j];
    }
    for (uint32_t i = 0; i < 10; ++i) {
        block.twoOverPi[i][0] = kTwoOverPi[i];
        block.twoOverPi[i][1] = i + 1 < 10 ? kTwoOverPi[i + 1] : 0u;
    }
    for (uint32_t i = 0; i < 20; ++i) {
        block.inverseFactorials[i][0] = kInverseFactorials[2 * i];
        block.inverseFactorials[i][1] = kInverseFactorials[2 * i + 1];
    }
    return block;
}

InFloatMode::InFloatMode(unsigned mode) : saved_(Current()) {
#ifdef PYRIX_HAS_MXCSR
    _mm_setcsr(mode);
#else
    (void)mode;
#endif
}

InFloatMode::~InFloatMode() {
#ifdef PYRIX_HAS_MXCSR
    _mm_setcsr(saved_);
#endif
}

// Flush to zero (bit 15) and denormals are zero (bit 6) on, and rounding (bits 13 and 14) to
// nearest: a host thread that rounds otherwise would change bits.
FlushDenormals::FlushDenormals() : saved_(InFloatMode::Current()) {
#ifdef PYRIX_HAS_MXCSR
    _mm_setcsr((saved_ & ~0x6000u) | 0x8040u);
#endif
}

FlushDenormals::~FlushDenormals() {
#ifdef PYRIX_HAS_MXCSR
    _mm_setcsr(saved_);
#endif
}

}  // namespace pyrix
