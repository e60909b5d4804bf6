// The fire field's sine, correctly rounded, from 32-bit integer arithmetic; see exact_math.hlsli
// for the rules every function here keeps.
#ifndef EXACT_SIN_HLSLI
#define EXACT_SIN_HLSLI

#include "exact_math.hlsli"

// The sine in integers, correctly rounded, in the steps of exact_sin.cpp: SinReduce, SinFold,
// SinAngle, SinSeries, SinRound.
struct SinTurns
{
    uint quadrant;
    uint negative;
    uint g3;
    uint g2;
    uint g1;
    uint g0;
};

SinTurns SinReduce(uint biased, uint m)
{
    const uint start = biased - 88u;
    const uint w0 = TableWord(start);
    const uint w1 = TableWord(start + 32u);
    const uint w2 = TableWord(start + 64u);
    const uint w3 = TableWord(start + 96u);
    uint h3, l3, h2, l2, h1, l1;
    Multiply(m, w3, h3, l3);
    Multiply(m, w2, h2, l2);
    Multiply(m, w1, h1, l1);
    const uint q1 = h3 + l2;
    const uint carry1 = q1 < h3 ? 1u : 0u;
    uint q2 = h2 + l1;
    uint carry2 = q2 < h2 ? 1u : 0u;
    q2 = q2 + carry1;
    carry2 = carry2 + (q2 < carry1 ? 1u : 0u);
    const uint q3 = h1 + m * w0 + carry2;
    SinTurns t;
    t.quadrant = q3 >> 30;
    t.negative = 0u;
    t.g3 = q3 & 0x3FFFFFFFu;
    t.g2 = q2;
    t.g1 = q1;
    t.g0 = l3;
    return t;
}

SinTurns SinFold(SinTurns t)
{
    if ((t.g3 & 0x20000000u) == 0u)
    {
        return t;
    }
    t.quadrant = t.quadrant + 1u;
    t.negative = 0x80000000u;
    t.g0 = ~t.g0 + 1u;
    uint carry = t.g0 == 0u ? 1u : 0u;
    t.g1 = ~t.g1 + carry;
    carry = (carry != 0u && t.g1 == 0u) ? 1u : 0u;
    t.g2 = ~t.g2 + carry;
    carry = (carry != 0u && t.g2 == 0u) ? 1u : 0u;
    t.g3 = (~t.g3 + carry) & 0x3FFFFFFFu;
    return t;
}

bool SinAngle(SinTurns t, out uint2 r, out int scale)
{
    uint g3 = t.g3;
    uint g2 = t.g2;
    uint g1 = t.g1;
    uint g0 = t.g0;
    scale = 0;
    r = uint2(0u, 0u);
    [unroll]
    for (int word = 0; word < 3; ++word)
    {
        if (g3 == 0u)
        {
            g3 = g2;
            g2 = g1;
            g1 = g0;
            g0 = 0u;
            scale = scale + 32;
        }
    }
    if (g3 == 0u)
    {
        return false;
    }
    const uint zeros = 31u - firstbithigh(g3);
    if (zeros != 0u)
    {
        g3 = (g3 << zeros) | (g2 >> (32u - zeros));
        g2 = (g2 << zeros) | (g1 >> (32u - zeros));
    }
    scale = scale + int(zeros);
    r = WideMulHigh(uint2(g3, g2), uint2(kHalfPiHigh, kHalfPiLow));
    if ((r.x & 0x80000000u) == 0u)
    {
        r = uint2((r.x << 1) | (r.y >> 31), r.y << 1);
        scale = scale + 1;
    }
    return true;
}

uint2 SinSeries(uint2 r, int scale, uint odd, out uint exponent)
{
    const uint2 z = WideShiftRight(WideMulHigh(r, r), uint(2 * scale - 6));
    const uint2 tail = TaylorTail(z, odd);
    uint2 value;
    if (odd != 0u)
    {
        value = WideSub(r, WideMulHigh(r, tail));
        exponent = uint(129 - scale);
    }
    else if (tail.x == 0u && tail.y == 0u)
    {
        value = uint2(0x80000000u, 0u);
        exponent = 127u;
    }
    else
    {
        value = WideSub(uint2(0u, 0u), tail);
        exponent = 126u;
    }
    if ((value.x & 0x80000000u) == 0u)
    {
        value = uint2((value.x << 1) | (value.y >> 31), value.y << 1);
        exponent = exponent - 1u;
    }
    return value;
}

uint SinRound(uint2 value, uint exponent, uint sign, SinTurns t)
{
    const uint significand = value.x >> 8;
    const uint restHigh = value.x & 0xFFu;
    const bool above = restHigh > 0x80u || (restHigh == 0x80u && value.y != 0u);
    const bool tie = restHigh == 0x80u && value.y == 0u;
    const uint up = (above || (tie && (significand & 1u) != 0u)) ? 1u : 0u;
    const uint magnitude = ((exponent - 1u) << 23) + significand + up;
    uint flip = sign;
    if ((t.quadrant & 1u) == 0u)
    {
        flip = flip ^ t.negative;
    }
    if ((t.quadrant & 2u) != 0u)
    {
        flip = flip ^ 0x80000000u;
    }
    return magnitude ^ flip;
}

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
    const SinTurns turns = SinFold(SinReduce(biased, (bits & 0x007FFFFFu) | 0x00800000u));
    uint2 r;
    int scale;
    uint result;
    if (!SinAngle(turns, r, scale))
    {
        result = sign ^ ((turns.quadrant & 1u) != 0u ? 0x3F800000u : 0u) ^
                 ((turns.quadrant & 2u) != 0u ? 0x80000000u : 0u);
    }
    else
    {
        const uint odd = (turns.quadrant & 1u) != 0u ? 0u : 1u;
        uint exponent;
        const uint2 value = SinSeries(r, scale, odd, exponent);
        result = SinRound(value, exponent, sign, turns);
    }
    return asfloat(result);
}

#endif
