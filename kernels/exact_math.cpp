// The scalar build of the exact operations, and the sine (scalar only: the fast kernel calls it
// once per lattice point). fire_field.hlsli mirrors every step.
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

// The full 64-bit product of a and b from 16-bit halves (shader model 5 has no 64-bit integers).
void Multiply(uint32_t a, uint32_t b, uint32_t* high, uint32_t* low) {
    const uint32_t al = a & 0xFFFFu;
    const uint32_t ah = a >> 16;
    const uint32_t bl = b & 0xFFFFu;
    const uint32_t bh = b >> 16;
    const uint32_t ll = al * bl;
    const uint32_t lh = al * bh;
    const uint32_t hl = ah * bl;
    const uint32_t hh = ah * bh;
    const uint32_t middle = (ll >> 16) + (lh & 0xFFFFu) + (hl & 0xFFFFu);  // below 3 * 2^16
    *low = (middle << 16) | (ll & 0xFFFFu);
    *high = hh + (lh >> 16) + (hl >> 16) + (middle >> 16);
}

// The bits of 2/pi, the bit of weight 2^-1 first, after two words of zeros that let the
// reduction window start before the binary point.
constexpr uint32_t kTwoOverPi[10] = {0,          0,          0xA2F9836E, 0x4E441529, 0xFC2757D1,
                                     0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB, 0xDEBBC561};

// pi/2 * 2^63, truncated.
constexpr uint32_t kHalfPiHigh = 0xC90FDAA2;
constexpr uint32_t kHalfPiLow = 0x2168C234;

// The 32 bits of the table starting at bit `start` (0 = top bit of word 0).
uint32_t TableWord(uint32_t start) {
    const uint32_t word = start >> 5;
    const uint32_t shift = start & 31u;
    const uint32_t next = shift == 0 ? 0u : kTwoOverPi[word + 1] >> (32u - shift);
    return (kTwoOverPi[word] << shift) | next;
}

// Left shift of the 96-bit (w2:w1:w0) by `shift` < 32 bits.
void ShiftLeft96(uint32_t shift, uint32_t* w2, uint32_t* w1, uint32_t* w0) {
    if (shift == 0) {
        return;
    }
    *w2 = (*w2 << shift) | (*w1 >> (32u - shift));
    *w1 = (*w1 << shift) | (*w0 >> (32u - shift));
    *w0 = *w0 << shift;
}

uint32_t LeadingZeros(uint32_t v) {
    return v == 0 ? 32u : static_cast<uint32_t>(__builtin_clz(v));
}

// sin(rh + rl) and cos(rh + rl) for 0 <= rh <= pi/4, |rl| below half an ulp of rh.
float SinPolynomial(float rh, float rl) {
    const float z = rh * rh;
    float p = -1.9515295891e-4f;
    p = p * z + 8.3321608736e-3f;
    p = p * z + -1.6666654611e-1f;
    const float tail = (z * rh) * p;
    const float correction = rl * (1.0f - 0.5f * z);
    return rh + (tail + correction);
}

float CosPolynomial(float rh, float rl) {
    const float z = rh * rh;
    const float h = 0.5f * z;
    const float w = 1.0f - h;
    float p = 2.443315711809948e-5f;
    p = p * z + -1.388731625493765e-3f;
    p = p * z + 4.166664568298827e-2f;
    const float tail = (p * z) * z;
    return w + (((1.0f - w) - h) + (tail - rh * rl));
}

}  // namespace

// Payne and Hanek's reduction in integers: |x| = m 2^E (m of 24 bits); x 2/pi mod 4 is m times
// the 96 bits of 2/pi from the weight 2^(1-E) on, mod 2^96, read as 2.94 fixed point (the bits
// before the window add multiples of 4, the ones after it less than 2^-70). The quadrant is
// the integer part rounded to nearest, the fraction |f| <= 1/2 is normalised and multiplied by
// pi/2 in 64-bit fixed point, and its top 48 bits become r = rh + rl, exact to about 2^-60
// relatively. Floats come within 2^-32 or so of a multiple of pi/2 at the closest, so no
// cancellation eats those bits.
float ExactSin(float x) {
    const uint32_t bits = Bits(x);
    const uint32_t sign = bits & 0x80000000u;
    const uint32_t biased = (bits >> 23) & 0xFFu;
    if (biased < 115u) {
        return x;  // |x| < 2^-12: |sin x - x| < |x|^3 / 6 is below a quarter ulp of x
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
    uint32_t h2, l2, h1, l1;
    Multiply(m, w2, &h2, &l2);
    Multiply(m, w1, &h1, &l1);
    const uint32_t r0 = l2;
    const uint32_t r1 = h2 + l1;
    const uint32_t carry = r1 < h2 ? 1u : 0u;
    const uint32_t r2 = h1 + m * w0 + carry;  // mod 2^32: only x 2/pi mod 4 matters
    uint32_t quadrant = r2 >> 30;
    uint32_t g2 = r2 & 0x3FFFFFFFu;
    uint32_t g1 = r1;
    uint32_t g0 = r0;
    uint32_t negative = 0u;
    if ((g2 & 0x20000000u) != 0u) {
        // A fraction of 1/2 or more: round the quadrant up, f = -(1 - fraction).
        quadrant = quadrant + 1u;
        negative = 0x80000000u;
        g0 = ~g0 + 1u;
        const uint32_t carry0 = g0 == 0u ? 1u : 0u;
        g1 = ~g1 + carry0;
        const uint32_t carry1 = (carry0 != 0u && g1 == 0u) ? 1u : 0u;
        g2 = (~g2 + carry1) & 0x3FFFFFFFu;
    }
    // Normalise |f| = (g2:g1:g0) 2^-94 so that its top bit is bit 31 of g2.
    int32_t scale = 0;
    for (int word = 0; word < 2; ++word) {
        if (g2 == 0u) {
            g2 = g1;
            g1 = g0;
            g0 = 0u;
            scale = scale + 32;
        }
    }
    const uint32_t zeros = LeadingZeros(g2);
    if (zeros == 32u) {
        // Not reached by any float; kept so that no input can shift by 32.
        return FromBits(sign ^ ((quadrant & 1u) != 0u ? Bits(1.0f) : 0u) ^
                        ((quadrant & 2u) != 0u ? 0x80000000u : 0u));
    }
    ShiftLeft96(zeros, &g2, &g1, &g0);
    scale = scale + static_cast<int32_t>(zeros);
    // (g2:g1) times pi/2, both in [2^63, 2^64): the top 64 bits of the 128-bit product.
    uint32_t a1, a0, b1, b0, c1, c0, d1, d0;
    Multiply(g1, kHalfPiLow, &a1, &a0);
    Multiply(g1, kHalfPiHigh, &b1, &b0);
    Multiply(g2, kHalfPiLow, &c1, &c0);
    Multiply(g2, kHalfPiHigh, &d1, &d0);
    (void)a0;
    uint32_t s1 = a1 + b0;
    uint32_t carry1 = s1 < a1 ? 1u : 0u;
    s1 = s1 + c0;
    carry1 = carry1 + (s1 < c0 ? 1u : 0u);
    uint32_t s2 = b1 + c1;
    uint32_t carry2 = s2 < b1 ? 1u : 0u;
    s2 = s2 + d0;
    carry2 = carry2 + (s2 < d0 ? 1u : 0u);
    s2 = s2 + carry1;
    carry2 = carry2 + (s2 < carry1 ? 1u : 0u);
    uint32_t s3 = d1 + carry2;
    // The product lies in [2^126, 2^128): one more shift puts its top bit at 127.
    if ((s3 & 0x80000000u) == 0u) {
        s3 = (s3 << 1) | (s2 >> 31);
        s2 = (s2 << 1) | (s1 >> 31);
        scale = scale + 1;
    }
    // |r| = (s3:s2:..) 2^(-61 - scale): the top bit of s3 weighs 2^(2 - scale), so rh's biased
    // exponent is 129 - scale (scale >= 3, as |f| <= 1/2 and pi/4 < 1).
    const uint32_t exponent = static_cast<uint32_t>(129 - scale);
    const float rh = FromBits((exponent << 23) | ((s3 >> 8) & 0x007FFFFFu));
    const uint32_t lowBits = ((s3 & 0xFFu) << 16) | (s2 >> 16);
    const float rl =
        static_cast<float>(static_cast<int32_t>(lowBits)) * FromBits((exponent - 47u) << 23);
    const float value = (quadrant & 1u) != 0u ? CosPolynomial(rh, rl) : SinPolynomial(rh, rl);
    // sin(q pi/2 + f pi/2): the sine's sign follows f, both change sign for q = 2, 3.
    uint32_t flip = sign;
    if ((quadrant & 1u) == 0u) {
        flip = flip ^ negative;
    }
    if ((quadrant & 2u) != 0u) {
        flip = flip ^ 0x80000000u;
    }
    return FromBits(Bits(value) ^ flip);
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

#ifdef PYRIX_HAS_MXCSR
// Flush to zero (bit 15) and denormals are zero (bit 6).
FlushDenormals::FlushDenormals() : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | 0x8040u);
}
FlushDenormals::~FlushDenormals() {
    _mm_setcsr(saved_);
}
#else
FlushDenormals::FlushDenormals() : saved_(0) {}
FlushDenormals::~FlushDenormals() {}
#endif

}  // namespace pyrix
