// The fire field's sine, exp2, log2, division and square root from operations that every
// device rounds alike (float add, subtract, multiply; comparisons, floor; 32-bit integers).
// exact_math.cpp and exact_math_lanes.h perform the same operations in the same order; keep
// them in step. Every float is precise, and the bytecode forbids refactoring, so that no
// driver fuses or reorders them.
#ifndef EXACT_MATH_HLSLI
#define EXACT_MATH_HLSLI

// Returns v through a one-pass loop. The compiler walks each value's operands as a tree, which
// takes exponential time on chains of these functions; a value from a loop ends that walk.
float Keep(float v)
{
    precise float kept = 0.0f;
    [loop]
    for (int once = 0; once < 1; ++once)
    {
        kept = v;
    }
    return kept;
}

// The two halves of a: hi holds its upper 12 significant bits, hi + lo = a exactly
// (Veltkamp's split).
void Split(float a, out float hi, out float lo)
{
    precise float c = 4097.0f * a;
    hi = c - (c - a);
    lo = a - hi;
}

// a * b - product exactly, without a fused multiply-add (Dekker).
float ProductError(float a, float b, float product)
{
    precise float ah;
    precise float al;
    precise float bh;
    precise float bl;
    Split(a, ah, al);
    Split(b, bh, bl);
    precise float e = ((ah * bh - product) + ah * bl) + al * bh;
    return e + al * bl;
}

float Reciprocal(float b)
{
    precise float y = asfloat(0x7EF311C3u - asuint(b));
    precise float one = 1.0f;
    [loop]
    for (int step = 0; step < 4; ++step)
    {
        precise float e = one - b * y;
        y = y + y * e;
    }
    return y;
}

float ExactDiv(float a, float b)
{
    precise float y = Reciprocal(b);
    precise float q = a * y;
    precise float p = q * b;
    precise float residual = (a - p) - ProductError(q, b, p);
    return Keep(q + residual * y);
}

float ExactSqrt(float v)
{
    precise float y = asfloat(0x5F3759DFu - (asuint(v) >> 1));
    precise float half = 0.5f * v;
    [loop]
    for (int step = 0; step < 3; ++step)
    {
        precise float t = (half * y) * y;
        y = y * (1.5f - t);
    }
    precise float s = v * y;
    precise float p = s * s;
    precise float residual = (v - p) - ProductError(s, s, p);
    return Keep(s + residual * (0.5f * y));
}

float ExactExp2(float y)
{
    precise float clamped = min(max(y, -200.0f), 200.0f);
    precise float n = floor(clamped + 0.5f);
    precise float f = clamped - n;
    precise float q = 1.535336188319500e-4f;
    q = q * f + 1.339887440266574e-3f;
    q = q * f + 9.618437357674640e-3f;
    q = q * f + 5.550332471162809e-2f;
    q = q * f + 2.402264791363012e-1f;
    precise float ln2High = 0.693147182464599609375f;
    precise float ln2Low = -1.904654323148236e-9f;
    precise float high = f * ln2High;
    precise float small = ProductError(f, ln2High, high) + f * (ln2Low + f * q);
    precise float one = 1.0f;
    precise float sum = one + high;
    precise float sumError = (one - sum) + high;
    precise float power = sum + (sumError + small);
    precise float exponent = min(max(n, -127.0f), 128.0f);
    const uint biased = uint(int(exponent)) + 127u;
    precise float result = power * asfloat(biased << 23);
    // Below 2^-126: +0 by a comparison, as some devices keep denormals.
    precise float smallestNormal = asfloat(0x00800000u);
    return Keep(smallestNormal > result ? 0.0f : result);
}

float ExactLog2(float x)
{
    const uint bits = asuint(x);
    precise float mantissa = asfloat((bits & 0x007FFFFFu) | 0x3F800000u);
    precise float e0 = float(int((bits >> 23) - 127u));
    const bool upper = mantissa > 1.41421356f;
    precise float m = upper ? 0.5f * mantissa : mantissa;
    precise float e = upper ? e0 + 1.0f : e0;
    precise float t = m - 1.0f;
    precise float z = t * t;
    precise float p = 7.0376836292e-2f;
    p = p * t + -1.1514610310e-1f;
    p = p * t + 1.1676998740e-1f;
    p = p * t + -1.2420140846e-1f;
    p = p * t + 1.4249322787e-1f;
    p = p * t + -1.6668057665e-1f;
    p = p * t + 2.0000714765e-1f;
    p = p * t + -2.4999993993e-1f;
    p = p * t + 3.3333331174e-1f;
    precise float r = t * (z * p);
    r = r - 0.5f * z;
    precise float log2eMinusOne = 0.44269504088896340736f;
    precise float result = t * log2eMinusOne;
    result = result + r * log2eMinusOne;
    result = result + r;
    result = result + t;
    result = result + e;
    // A zero or denormal exponent field is a zero: flushed, as Direct3D reads it.
    precise float minusInfinity = asfloat(0xFF800000u);
    return Keep(e0 > -127.0f ? result : minusInfinity);
}

// The full 64-bit product of a and b from 16-bit halves.
void Multiply(uint a, uint b, out uint high, out uint low)
{
    const uint al = a & 0xFFFFu;
    const uint ah = a >> 16;
    const uint bl = b & 0xFFFFu;
    const uint bh = b >> 16;
    const uint ll = al * bl;
    const uint lh = al * bh;
    const uint hl = ah * bl;
    const uint hh = ah * bh;
    const uint middle = (ll >> 16) + (lh & 0xFFFFu) + (hl & 0xFFFFu);
    low = (middle << 16) | (ll & 0xFFFFu);
    high = hh + (lh >> 16) + (hl >> 16) + (middle >> 16);
}

// The bits of 2/pi after two words of zeros.
static const uint kTwoOverPi[10] = {0u, 0u, 0xA2F9836Eu, 0x4E441529u, 0xFC2757D1u,
                                    0xF534DDC0u, 0xDB629599u, 0x3C439041u, 0xFE5163ABu,
                                    0xDEBBC561u};
static const uint kHalfPiHigh = 0xC90FDAA2u;
static const uint kHalfPiLow = 0x2168C234u;

// kTwoOverPi[index], chosen by comparisons: an array indexed at run time would be copied into
// indexable memory rather than stay in registers.
uint TwoOverPiWord(uint index)
{
    uint word = 0u;
    [unroll]
    for (uint i = 2u; i < 10u; ++i)
    {
        word = index == i ? kTwoOverPi[i] : word;
    }
    return word;
}

uint TableWord(uint start)
{
    const uint word = start >> 5;
    const uint shift = start & 31u;
    const uint next = shift == 0u ? 0u : TwoOverPiWord(word + 1u) >> (32u - shift);
    return (TwoOverPiWord(word) << shift) | next;
}

float SinPolynomial(float rh, float rl)
{
    precise float z = rh * rh;
    precise float p = -1.9515295891e-4f;
    p = p * z + 8.3321608736e-3f;
    p = p * z + -1.6666654611e-1f;
    precise float tail = (z * rh) * p;
    precise float correction = rl * (1.0f - 0.5f * z);
    return rh + (tail + correction);
}

float CosPolynomial(float rh, float rl)
{
    precise float z = rh * rh;
    precise float h = 0.5f * z;
    precise float w = 1.0f - h;
    precise float p = 2.443315711809948e-5f;
    p = p * z + -1.388731625493765e-3f;
    p = p * z + 4.166664568298827e-2f;
    precise float tail = (p * z) * z;
    return w + (((1.0f - w) - h) + (tail - rh * rl));
}

// Payne and Hanek's reduction in integers; see ExactSin in exact_math.cpp.
float ExactSin(float x)
{
    const uint bits = asuint(x);
    const uint sign = bits & 0x80000000u;
    const uint biased = (bits >> 23) & 0xFFu;
    if (biased < 115u)
    {
        return x;
    }
    if (biased == 255u)
    {
        precise float nan = x - x;
        return nan;
    }
    const uint m = (bits & 0x007FFFFFu) | 0x00800000u;
    const uint start = biased - 88u;
    const uint w0 = TableWord(start);
    const uint w1 = TableWord(start + 32u);
    const uint w2 = TableWord(start + 64u);
    uint h2, l2, h1, l1;
    Multiply(m, w2, h2, l2);
    Multiply(m, w1, h1, l1);
    const uint r1 = h2 + l1;
    const uint carry = r1 < h2 ? 1u : 0u;
    const uint r2 = h1 + m * w0 + carry;
    uint quadrant = r2 >> 30;
    uint g2 = r2 & 0x3FFFFFFFu;
    uint g1 = r1;
    uint g0 = l2;
    uint negative = 0u;
    if ((g2 & 0x20000000u) != 0u)
    {
        quadrant = quadrant + 1u;
        negative = 0x80000000u;
        g0 = ~g0 + 1u;
        const uint carry0 = g0 == 0u ? 1u : 0u;
        g1 = ~g1 + carry0;
        const uint carry1 = (carry0 != 0u && g1 == 0u) ? 1u : 0u;
        g2 = (~g2 + carry1) & 0x3FFFFFFFu;
    }
    int scale = 0;
    [unroll]
    for (int word = 0; word < 2; ++word)
    {
        if (g2 == 0u)
        {
            g2 = g1;
            g1 = g0;
            g0 = 0u;
            scale = scale + 32;
        }
    }
    if (g2 == 0u)
    {
        return asfloat(sign ^ ((quadrant & 1u) != 0u ? asuint(1.0f) : 0u) ^
                       ((quadrant & 2u) != 0u ? 0x80000000u : 0u));
    }
    const uint zeros = 31u - firstbithigh(g2);
    if (zeros != 0u)
    {
        g2 = (g2 << zeros) | (g1 >> (32u - zeros));
        g1 = (g1 << zeros) | (g0 >> (32u - zeros));
    }
    scale = scale + int(zeros);
    uint a1, a0, b1, b0, c1, c0, d1, d0;
    Multiply(g1, kHalfPiLow, a1, a0);
    Multiply(g1, kHalfPiHigh, b1, b0);
    Multiply(g2, kHalfPiLow, c1, c0);
    Multiply(g2, kHalfPiHigh, d1, d0);
    uint s1 = a1 + b0;
    uint carry1 = s1 < a1 ? 1u : 0u;
    s1 = s1 + c0;
    carry1 = carry1 + (s1 < c0 ? 1u : 0u);
    uint s2 = b1 + c1;
    uint carry2 = s2 < b1 ? 1u : 0u;
    s2 = s2 + d0;
    carry2 = carry2 + (s2 < d0 ? 1u : 0u);
    s2 = s2 + carry1;
    carry2 = carry2 + (s2 < carry1 ? 1u : 0u);
    uint s3 = d1 + carry2;
    if ((s3 & 0x80000000u) == 0u)
    {
        s3 = (s3 << 1) | (s2 >> 31);
        s2 = (s2 << 1) | (s1 >> 31);
        scale = scale + 1;
    }
    const uint exponent = uint(129 - scale);
    precise float rh = asfloat((exponent << 23) | ((s3 >> 8) & 0x007FFFFFu));
    const uint lowBits = ((s3 & 0xFFu) << 16) | (s2 >> 16);
    precise float rl = float(int(lowBits)) * asfloat((exponent - 47u) << 23);
    precise float value = (quadrant & 1u) != 0u ? CosPolynomial(rh, rl) : SinPolynomial(rh, rl);
    uint flip = sign;
    if ((quadrant & 1u) == 0u)
    {
        flip = flip ^ negative;
    }
    if ((quadrant & 2u) != 0u)
    {
        flip = flip ^ 0x80000000u;
    }
    return asfloat(asuint(value) ^ flip);
}

#endif
