// The correctly rounded sine, in named steps that exact_sin.hlsli repeats one for one: SinReduce
// and SinFold in integers, then (ExactSinFloatFirst, the kernels' order) SinFast in floats, which
// settles all but about one argument in 80,000, and for those, or for every argument (ExactSin),
// SinAngle, SinSeries and SinRound in integers.
//
// Payne and Hanek's reduction in integers: |x| = m 2^E (m of 24 bits); x 2/pi mod 4 is m times
// the 128 bits of 2/pi from the weight 2^(1-E) on, mod 2^128, read as 2.126 fixed point (the
// bits before the window add multiples of 4, the ones after it less than 2^-102). The quadrant
// is the integer part rounded to nearest; the fraction is |f| <= 1/2, and no float comes closer
// to a multiple of pi/2 than |f| = 2^-31.
//
// SinFast: r = |f| pi/2 and sin r or cos r as float pairs (float add, subtract, multiply; Dekker's
// products), within 2^-43 of the result relatively; Decided accepts the rounded pair unless the
// exact value may lie within 2^-41 of it from a rounding midpoint.
//
// The integer path: the top 64 bits of |f| times pi/2 give r to about 2^-62 relatively as long
// as |f| stays above 2^-38. sin r or cos r follows from the Taylor series in 64-bit fixed point,
// within a few units of 2^-62 relatively, and is rounded to nearest, ties to even. Only a sine
// within about 2^-57 of a rounding midpoint could round the wrong way; the exhaustive run finds
// none among the floats.
#include <cstdint>
#include <cstring>

#include "kernels/exact_fixed_point.h"
#include "kernels/exact_math.h"
#include "kernels/exact_math_tables.h"
#include "kernels/float_bits.h"

namespace pyrix {

namespace {

#include "kernels/exact_math_lanes.h"
#include "kernels/exact_scalar_ops.h"

using Exact = ExactLanes<ScalarOps>;

// pi/2 * 2^63, rounded to nearest.
constexpr uint32_t kHalfPiHigh = 0xC90FDAA2;
constexpr uint32_t kHalfPiLow = 0x2168C235;

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

// The Taylor series of sin(r)/r - 1 (odd = 1) or cos(r) - 1 (odd = 0) without its sign: z times
// the alternating sum of z^k / n_k! from the last term that still weighs 2^-64 down to the
// first. Every partial sum is positive and below 1, as |r| <= pi/4.
Wide TaylorTail(Wide z, uint32_t odd) {
    uint32_t index = 36u + 2u * odd;  // 1/21! (0 as a fraction) or 1/20!
    Wide sum = InverseFactorial(index);
    for (int term = 0; term < 9; ++term) {
        index = index - 4u;
        const Wide coefficient = InverseFactorial(index);
        sum = WideSub(coefficient, WideMulHigh(z, sum));
    }
    return WideMulHigh(z, sum);
}

// x 2/pi mod 4 as the quadrant and the fraction g3:g2:g1:g0 (g3 of 30 bits, 2^-126 the last),
// and whether the fraction was folded to its negative.
struct SinTurns {
    uint32_t quadrant;
    uint32_t negative;
    uint32_t g3;
    uint32_t g2;
    uint32_t g1;
    uint32_t g0;
};

// m times the 128-bit window of 2/pi for the biased exponent, mod 2^128.
SinTurns SinReduce(uint32_t biased, uint32_t m) {
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
    return SinTurns{q3 >> 30, 0u, q3 & 0x3FFFFFFFu, q2, q1, l3};
}

// A fraction of 1/2 or more: round the quadrant up, f = -(1 - fraction).
SinTurns SinFold(SinTurns t) {
    if ((t.g3 & 0x20000000u) == 0u) {
        return t;
    }
    t.quadrant = t.quadrant + 1u;
    t.negative = 0x80000000u;
    t.g0 = ~t.g0 + 1u;
    uint32_t carry = t.g0 == 0u ? 1u : 0u;
    t.g1 = ~t.g1 + carry;
    carry = (carry != 0u && t.g1 == 0u) ? 1u : 0u;
    t.g2 = ~t.g2 + carry;
    carry = (carry != 0u && t.g2 == 0u) ? 1u : 0u;
    t.g3 = (~t.g3 + carry) & 0x3FFFFFFFu;
    return t;
}

// r = |f| pi/2 with its top bit at bit 31 of r.high: r 2^(-61 - scale). False for f = 0, which
// no float reaches.
bool SinAngle(SinTurns t, Wide* r, int32_t* scale) {
    uint32_t g3 = t.g3, g2 = t.g2, g1 = t.g1, g0 = t.g0;
    *scale = 0;
    for (int word = 0; word < 3; ++word) {
        if (g3 == 0u) {
            g3 = g2;
            g2 = g1;
            g1 = g0;
            g0 = 0u;
            *scale = *scale + 32;
        }
    }
    const uint32_t zeros = LeadingZeros(g3);
    if (zeros == 32u) {
        return false;
    }
    if (zeros != 0u) {
        g3 = (g3 << zeros) | (g2 >> (32u - zeros));
        g2 = (g2 << zeros) | (g1 >> (32u - zeros));
    }
    *scale = *scale + static_cast<int32_t>(zeros);
    // |f| pi/2, both factors in [2^63, 2^64).
    *r = WideMulHigh(Wide{g3, g2}, Wide{kHalfPiHigh, kHalfPiLow});
    if ((r->high & 0x80000000u) == 0u) {
        *r = Wide{(r->high << 1) | (r->low >> 31), r->low << 1};
        *scale = *scale + 1;
    }
    return true;
}

// |f| as high + low, its top 48 bits (within 2^-47 relatively), each half a 24-bit integer
// scaled by a power of two built from exponent bits. False where |f| < 2^-33 (no float: none
// comes closer to a multiple of pi/2 than |f| = 2^-31): above it every leading term stays far
// from the denormals, so a low part that falls among them only meets far larger addends, and
// flushing it or not gives the same bits.
bool SinFraction(SinTurns t, float* high, float* low) {
    uint32_t g3 = t.g3, g2 = t.g2, g1 = t.g1;
    uint32_t scale = 0u;
    *high = 0.0f;
    *low = 0.0f;
    if (g3 == 0u) {
        g3 = g2;
        g2 = g1;
        g1 = t.g0;
        scale = 32u;
    }
    const uint32_t zeros = LeadingZeros(g3);
    scale = scale + zeros;
    if (scale > 34u) {
        return false;
    }
    if (zeros != 0u) {
        g3 = (g3 << zeros) | (g2 >> (32u - zeros));
        g2 = (g2 << zeros) | (g1 >> (32u - zeros));
    }
    // |f| = g3:g2 2^(-62 - scale) and the bits below it.
    const float top = static_cast<float>(static_cast<int32_t>(g3 >> 8));
    const float next = static_cast<float>(static_cast<int32_t>(((g3 & 0xFFu) << 16) | (g2 >> 16)));
    *high = top * ScalarOps::FromBits((105u - scale) << 23);
    *low = next * ScalarOps::FromBits((81u - scale) << 23);
    return true;
}

// a b for a = ah + al, b = bh + bl (al, bl within 2^-22 of ah, bh), within about 2^-44
// relatively; the low parts' product is left out.
void SinProduct(float ah, float al, float bh, float bl, float* high, float* low) {
    const float p = ah * bh;
    *high = p;
    *low = Exact::ProductError(ah, bh, p) + (ah * bl + al * bh);
}

// c + s b as a float pair, for |s b| below |c|: the sum and its error.
void SinHornerStep(float ch, float cl, float sh, float sl, float bh, float bl, float* high,
                   float* low) {
    float ph, pl;
    SinProduct(sh, sl, bh, bl, &ph, &pl);
    const float sum = ch + ph;
    *high = sum;
    *low = ((ch - sum) + ph) + (cl + pl);  // not renormalised: |low| stays below 2^-22 |sum|
}

// The Taylor polynomial h(s) of sin r = r (1 + s h(s)) (odd = 1) or cos r = 1 + s h(s) (odd = 0)
// to s^7 (the next term is below 2^-45 of the value for |r| <= pi/4). Each term's share of h
// sets its precision: the last three in floats, the fourth with its coefficient's low part, the
// first three as float pairs with Dekker's products; every rounding weighs below 2^-44 of h.
void SinPolynomial(float sh, float sl, uint32_t odd, float* high, float* low) {
    const bool sine = odd != 0u;
    float h = sine ? -7.6471636098127127e-13f : -1.147074536050896e-11f;
    h = (sine ? 1.6059044372074283e-10f : 2.0876755879584152e-09f) + sh * h;
    h = (sine ? -2.5052107943679403e-08f : -2.755731998149713e-07f) + sh * h;
    const float c4 = sine ? 2.7557318844628753e-06f : 2.4801587642286904e-05f;
    const float p4 = sh * h;
    const float h4 = c4 + p4;
    const float l4 = ((c4 - h4) + p4) + (sine ? 3.7935712242972291e-14f : -3.4069960936668198e-13f);
    float h3, l3, h2, l2;
    SinHornerStep(sine ? -0.00019841270113829523f : -0.0013888889225199819f,
                  sine ? 2.7255968749334558e-12f : 3.3631094437103215e-11f, sh, sl, h4, l4, &h3,
                  &l3);
    SinHornerStep(sine ? 0.0083333337679505348f : 0.041666667908430099f,
                  sine ? -4.3461720333759502e-10f : -1.2417634698280722e-09f, sh, sl, h3, l3, &h2,
                  &l2);
    SinHornerStep(sine ? -0.1666666716337204f : -0.5f, sine ? 4.9670538793122887e-09f : 0.0f, sh,
                  sl, h2, l2, high, low);
}

// sin r (odd = 1) or cos r (odd = 0) for r = |f| pi/2 as hi + lo (hi = hi + lo rounded); false
// where SinFraction declines. Within 2^-43 of the value relatively, the steps' bounds added up:
// r to 2^-44.3 (|f|'s 48 bits, pi/2 as a pair, the roundings of r's low part), which the value
// inherits; s = r^2, h (SinPolynomial) and the products s h and base (s h) each within 2^-43,
// weighing at most 0.31 of the value; the last sum's rounding 2^-46. (The largest error seen
// over 5 10^6 arguments against MPFR is 2^-45.5.)
bool SinFast(SinTurns t, uint32_t odd, float* hi, float* lo) {
    float fh, fl;
    *hi = 0.0f;
    *lo = 0.0f;
    if (!SinFraction(t, &fh, &fl)) {
        return false;
    }
    // pi/2 = 1.5707963705062866 - 4.371138828673793e-08 within 2^-49 relatively.
    const float rh = fh * 1.5707963705062866f;
    const float rl =
        (Exact::ProductError(fh, 1.5707963705062866f, rh) + fh * -4.371138828673793e-08f) +
        fl * 1.5707963705062866f;
    const float sh = rh * rh;
    const float sl = Exact::ProductError(rh, rh, sh) + rh * (rl + rl);
    float hh, hl, wh, wl;
    SinPolynomial(sh, sl, odd, &hh, &hl);
    SinProduct(sh, sl, hh, hl, &wh, &wl);
    // The value is base (1 + w): base + base w, base = r or 1.
    const float bh = odd != 0u ? rh : 1.0f;
    const float bl = odd != 0u ? rl : 0.0f;
    float ph, pl;
    SinProduct(bh, bl, wh, wl, &ph, &pl);
    const float sum = bh + ph;
    const float tail = ((bh - sum) + ph) + (bl + pl);
    *hi = sum + tail;
    *lo = tail - (*hi - sum);
    return true;
}

// sin r (odd = 1) or cos r (odd = 0) as value 2^(exponent - 127 - 63), value's top bit set.
Wide SinSeries(Wide r, int32_t scale, uint32_t odd, uint32_t* exponent) {
    // z = r^2 as a 64-bit fraction (scale >= 3, as |f| <= 1/2 and pi/4 < 1).
    const Wide z = WideShiftRight(WideMulHigh(r, r), static_cast<uint32_t>(2 * scale - 6));
    const Wide tail = TaylorTail(z, odd);
    Wide value;
    if (odd != 0u) {
        // sin r = r - r tail, in [0.89 r, r].
        value = WideSub(r, WideMulHigh(r, tail));
        *exponent = static_cast<uint32_t>(129 - scale);
    } else if (tail.high == 0u && tail.low == 0u) {
        // cos r = 1 - tail, in [0.70, 1]; tail = 0 leaves exactly 1.
        value = Wide{0x80000000u, 0u};
        *exponent = 127u;
    } else {
        value = WideSub(Wide{0u, 0u}, tail);
        *exponent = 126u;
    }
    if ((value.high & 0x80000000u) == 0u) {
        value = Wide{(value.high << 1) | (value.low >> 31), value.low << 1};
        *exponent = *exponent - 1u;
    }
    return value;
}

// The magnitude given the sign of sin(q pi/2 + f pi/2): it follows f for even q, and both
// change sign for q = 2, 3.
uint32_t SinSign(uint32_t magnitude, uint32_t sign, SinTurns t) {
    uint32_t flip = sign;
    if ((t.quadrant & 1u) == 0u) {
        flip = flip ^ t.negative;
    }
    if ((t.quadrant & 2u) != 0u) {
        flip = flip ^ 0x80000000u;
    }
    return magnitude ^ flip;
}

// value = 1.m 2^(exponent - 127) with 40 bits below the float's last one, rounded to nearest,
// ties to even (a carry into the exponent field is the right result), with its sign.
uint32_t SinRound(Wide value, uint32_t exponent, uint32_t sign, SinTurns t) {
    const uint32_t significand = value.high >> 8;
    const uint32_t restHigh = value.high & 0xFFu;
    const bool above = restHigh > 0x80u || (restHigh == 0x80u && value.low != 0u);
    const bool tie = restHigh == 0x80u && value.low == 0u;
    const uint32_t up = (above || (tie && (significand & 1u) != 0u)) ? 1u : 0u;
    return SinSign(((exponent - 1u) << 23) + significand + up, sign, t);
}

// The integer path from the turns on: SinAngle, SinSeries, SinRound.
uint32_t SinInIntegers(SinTurns turns, uint32_t sign, uint32_t odd) {
    Wide r;
    int32_t scale;
    if (!SinAngle(turns, &r, &scale)) {
        // Not reached by any float; kept so that no input can shift by 32.
        return sign ^ ((turns.quadrant & 1u) != 0u ? 0x3F800000u : 0u) ^
               ((turns.quadrant & 2u) != 0u ? 0x80000000u : 0u);
    }
    uint32_t exponent;
    const Wide value = SinSeries(r, scale, odd, &exponent);
    return SinRound(value, exponent, sign, turns);
}

// How far Sine goes: the integer path alone (ExactSin), the float path first (the kernels'
// order), or the float path alone, as the fire kernel's first pass takes it.
enum class SinePath { kIntegers, kFloatFirst, kFloatOnly };

// ExactSin by `path`; *undecided tells where the float path left the argument undecided (its
// answer then is the float pair's rounding, or a signed zero where SinFast declines).
float Sine(float x, SinePath path, bool* undecided) {
    *undecided = false;
    const uint32_t bits = ScalarOps::AsBits(x);
    const uint32_t sign = bits & 0x80000000u;
    const uint32_t biased = (bits >> 23) & 0xFFu;
    if (biased < 115u) {
        return x;  // |x| < 2^-12: x - sin x < |x|^3 / 6 is below a quarter ulp of x
    }
    if (biased == 255u) {
        return x - x;
    }
    const SinTurns turns = SinFold(SinReduce(biased, (bits & 0x007FFFFFu) | 0x00800000u));
    const uint32_t odd = (turns.quadrant & 1u) != 0u ? 0u : 1u;
    if (path == SinePath::kIntegers) {
        return ScalarOps::FromBits(SinInIntegers(turns, sign, odd));
    }
    float hi, lo;
    const bool fast = SinFast(turns, odd, &hi, &lo);
    // 2^-41 |hi|: four times SinFast's bound.
    *undecided = !(fast && Exact::Decided(hi, lo, hi * 4.547473508864641e-13f));
    if (*undecided && path == SinePath::kFloatFirst) {
        return ScalarOps::FromBits(SinInIntegers(turns, sign, odd));
    }
    return ScalarOps::FromBits(SinSign(ScalarOps::AsBits(hi), sign, turns));
}

}  // namespace

float ExactSin(float x) {
    bool undecided;
    return Sine(x, SinePath::kIntegers, &undecided);
}

float ExactSinFloatFirst(float x) {
    bool undecided;
    return Sine(x, SinePath::kFloatFirst, &undecided);
}

float FirstPassSin(float x, bool* undecided) {
    return Sine(x, SinePath::kFloatOnly, undecided);
}

}  // namespace pyrix
