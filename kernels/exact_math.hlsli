// The fire field's exp2 and log2, and the sine's fixed-point arithmetic (division and square
// root are exact_div_sqrt.hlsli, the sine exact_sin.hlsli), from operations that every device
// rounds alike (float add, subtract, multiply; comparisons, floor; 32-bit integers).
// exact_math.cpp, exact_math_lanes.h and exact_sin.cpp perform the same operations in the same
// order; keep them in step. Every float is precise, and the bytecode forbids refactoring, so that no
// driver fuses or reorders them.
#ifndef EXACT_MATH_HLSLI
#define EXACT_MATH_HLSLI

#include "kernel_interface.hlsli"

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
    precise float high = c - (c - a);
    precise float low = a - high;
    hi = high;
    lo = low;
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
    precise float error = e + al * bl;
    return error;
}

#include "exact_div_sqrt.hlsli"

// log2 of what is not a positive normal float; see exact_math_lanes.h.
float Log2Special(float x, float magnitude)
{
    precise float nan = asfloat(0x7FC00000u);
    precise float beyond = IsInfinite(x) ? x : nan;
    precise float minusInfinity = asfloat(0xFF800000u);
    precise float special = IsZero(magnitude) ? minusInfinity : beyond;
    return special;
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

// 2^64 / n! for an even index = 2 (n - 2), high word first.
uint2 InverseFactorial(uint index)
{
    return inverseFactorialTable[index >> 1].xy;
}

uint TableWord(uint start)
{
    const uint word = start >> 5;
    const uint shift = start & 31u;
    const uint2 words = twoOverPiTable[word].xy;
    const uint next = shift == 0u ? 0u : words.y >> (32u - shift);
    return (words.x << shift) | next;
}

// 64-bit values as uint2(high, low).
uint2 WideSub(uint2 a, uint2 b)
{
    const uint borrow = a.y < b.y ? 1u : 0u;
    return uint2(a.x - b.x - borrow, a.y - b.y);
}

// floor(a * b / 2^64), exactly.
uint2 WideMulHigh(uint2 a, uint2 b)
{
    uint ll1, ll0, lh1, lh0, hl1, hl0, hh1, hh0;
    Multiply(a.y, b.y, ll1, ll0);
    Multiply(a.y, b.x, lh1, lh0);
    Multiply(a.x, b.y, hl1, hl0);
    Multiply(a.x, b.x, hh1, hh0);
    uint w1 = ll1 + lh0;
    uint carry1 = w1 < ll1 ? 1u : 0u;
    w1 = w1 + hl0;
    carry1 = carry1 + (w1 < hl0 ? 1u : 0u);
    uint w2 = lh1 + hl1;
    uint carry2 = w2 < lh1 ? 1u : 0u;
    w2 = w2 + hh0;
    carry2 = carry2 + (w2 < hh0 ? 1u : 0u);
    w2 = w2 + carry1;
    carry2 = carry2 + (w2 < carry1 ? 1u : 0u);
    return uint2(hh1 + carry2, w2);
}

uint2 WideShiftRight(uint2 a, uint n)
{
    if (n >= 64u)
    {
        return uint2(0u, 0u);
    }
    if (n >= 32u)
    {
        return uint2(0u, a.x >> (n - 32u));
    }
    if (n == 0u)
    {
        return a;
    }
    return uint2(a.x >> n, (a.y >> n) | (a.x << (32u - n)));
}

// sin(r)/r - 1 (odd = 1) or cos(r) - 1 (odd = 0) without its sign; see exact_math.cpp.
uint2 TaylorTail(uint2 z, uint odd)
{
    uint index = 36u + 2u * odd;
    uint2 sum = InverseFactorial(index);
    [loop]
    for (int term = 0; term < 9; ++term)
    {
        index = index - 4u;
        const uint2 coefficient = InverseFactorial(index);
        sum = WideSub(coefficient, WideMulHigh(z, sum));
    }
    return WideMulHigh(z, sum);
}

uint2 WideAdd(uint2 a, uint2 b)
{
    const uint low = a.y + b.y;
    const uint carry = low < a.y ? 1u : 0u;
    return uint2(a.x + b.x + carry, low);
}

bool WideGreater(uint2 a, uint2 b)
{
    return a.x > b.x || (a.x == b.x && a.y > b.y);
}

uint2 WideShiftLeft(uint2 a, uint n)
{
    if (n >= 32u)
    {
        return uint2(a.y << (n - 32u), 0u);
    }
    if (n == 0u)
    {
        return a;
    }
    return uint2((a.x << n) | (a.y >> (32u - n)), a.y << n);
}

static const uint kLn2High = 0xB17217F7u;
static const uint kLn2Low = 0xD1CF79ACu;

// 2^f - 1 in 64-bit fixed point; see exact_math.cpp.
uint2 Exp2Minus1(uint2 f)
{
    const uint2 g = WideMulHigh(f, uint2(kLn2High, kLn2Low));
    uint index = 34u;
    uint2 sum = InverseFactorial(index);
    [loop]
    for (int term = 0; term < 17; ++term)
    {
        index = index - 2u;
        sum = WideAdd(InverseFactorial(index),
                      WideMulHigh(g, sum));
    }
    return WideAdd(g, WideMulHigh(g, WideMulHigh(g, sum)));
}

void ToFixed(float v, out uint whole, out uint2 fraction)
{
    const uint bits = asuint(v);
    const uint biased = (bits >> 23) & 0xFFu;
    const uint m = (bits & 0x007FFFFFu) | 0x00800000u;
    if (biased >= 150u)
    {
        whole = m << (biased - 150u);
        fraction = uint2(0u, 0u);
        return;
    }
    const uint shift = 150u - biased;
    whole = shift >= 24u ? 0u : m >> shift;
    fraction = WideShiftLeft(uint2(0u, m), 64u - shift);
}

// n = floor(v) for v = -+(whole + fraction), fraction becoming v - n; see exact_math.cpp.
int SignedFloor(uint whole, bool negative, inout uint2 fraction)
{
    int n = int(whole);
    if (negative)
    {
        n = -n;
        if (fraction.x != 0u || fraction.y != 0u)
        {
            n = n - 1;
            fraction = WideSub(uint2(0u, 0u), fraction);
        }
    }
    return n;
}

// The neighbour of hi on lo's side and their midpoint n + fraction; see exact_math.cpp.
float Log2Midpoint(float hi, float lo, out int n, out uint2 fraction)
{
    const uint hiBits = asuint(hi);
    const uint hiBiased = (hiBits >> 23) & 0xFFu;
    const bool towardsZero = (lo < 0.0f) != (hi < 0.0f);
    uint stepBit = hiBiased - 86u;
    if (towardsZero && (hiBits & 0x007FFFFFu) == 0u)
    {
        stepBit = stepBit - 1u;
    }
    precise float step = asfloat((stepBit + 63u) << 23);
    precise float neighbour = lo > 0.0f ? hi + step : hi - step;
    uint whole;
    ToFixed(hi, whole, fraction);
    const uint2 halfStep = WideShiftLeft(uint2(0u, 1u), stepBit - 1u);
    if (towardsZero)
    {
        if (WideGreater(halfStep, fraction))
        {
            whole = whole - 1u;
        }
        fraction = WideSub(fraction, halfStep);
    }
    else
    {
        const uint2 sum = WideAdd(fraction, halfStep);
        if (WideGreater(fraction, sum))
        {
            whole = whole + 1u;
        }
        fraction = sum;
    }
    n = SignedFloor(whole, hi < 0.0f, fraction);
    return neighbour;
}

// The rare cases of ExactExp2 and ExactLog2, in 64-bit fixed point; see exact_math.cpp.
float ExactExp2Rare(float y)
{
    if (!(y >= -126.0f))
    {
        precise float kept = y != y ? y : 0.0f;
        return kept;
    }
    if (!(y < 128.0f))
    {
        return asfloat(0x7F800000u);
    }
    const uint biased = (asuint(y) >> 23) & 0xFFu;
    if (biased < 102u)
    {
        return 1.0f;
    }
    uint whole;
    uint2 fraction;
    ToFixed(y, whole, fraction);
    const int n = SignedFloor(whole, y < 0.0f, fraction);
    const uint2 e = Exp2Minus1(fraction);
    const uint significand = 0x00800000u | (e.x >> 9);
    const uint rest = e.x & 0x1FFu;
    const bool above = rest > 0x100u || (rest == 0x100u && e.y != 0u);
    const bool tie = rest == 0x100u && e.y == 0u;
    const uint up = (above || (tie && (significand & 1u) != 0u)) ? 1u : 0u;
    return asfloat((uint(n + 126) << 23) + significand + up);
}

float ExactLog2Rare(float x, float hi, float lo)
{
    const uint xBits = asuint(x);
    const uint xBiased = (xBits >> 23) & 0xFFu;
    if (xBiased == 0u || xBiased == 255u || x < 0.0f || lo == 0.0f || hi == 0.0f)
    {
        return hi;
    }
    int n;
    uint2 fraction;
    precise float neighbour = Log2Midpoint(hi, lo, n, fraction);
    const uint2 e = Exp2Minus1(fraction);
    const int k = int(xBiased) - 127;
    bool above = k > n;
    if (k == n)
    {
        above = WideGreater(WideShiftLeft(uint2(0u, xBits & 0x007FFFFFu), 41u), e);
    }
    precise float larger = hi < neighbour ? neighbour : hi;
    precise float smaller = hi < neighbour ? hi : neighbour;
    precise float result = above ? larger : smaller;
    return result;
}

// Whether hi is the correctly rounded value of hi + lo known to within `error`; see
// exact_math_lanes.h.
bool Decided(float hi, float lo, float error)
{
    const uint hiBits = asuint(hi);
    precise float halfUlp = asfloat(hiBits & 0x7F800000u) * 5.9604644775390625e-8f;
    const uint mantissa = hiBits & 0x007FFFFFu;
    const bool powerOfTwo = float(int(mantissa)) < 0.5f;
    precise float sign = lo * hi;
    const bool towardsZero = sign < 0.0f;
    precise float quarter = 0.5f * halfUlp;
    precise float half = (powerOfTwo && towardsZero) ? quarter : halfUlp;
    precise float distance = Magnitude(asuint(lo));
    precise float reach = distance + error;
    return reach < half;
}

float ExactExp2(float y)
{
    precise float clamped = min(max(y, -200.0f), 200.0f);
    precise float k = floor(clamped * 128.0f + 0.5f);
    precise float u = clamped - k * 0.0078125f;
    precise float n = floor(k * 0.0078125f);
    precise float index = k - n * 128.0f;
    const uint j = uint(int(index)) & 127u;
    const float4 entry = exp2Table[j];
    precise float tableHigh = entry.x;
    precise float tableLow = entry.y;
    precise float ln2High = 0.6931471824645996f;
    precise float ln2Low = -1.9046542121259336e-09f;
    precise float product = u * ln2High;
    precise float q = 0.009618128649890423f;
    q = q * u + 0.05550410971045494f;
    q = q * u + 0.24022650718688965f;
    precise float small = (ProductError(u, ln2High, product) + u * ln2Low) + (u * u) * q;
    precise float scaled = tableHigh * product;
    precise float rest = ((tableLow + ProductError(tableHigh, product, scaled)) +
                          tableHigh * small) +
                         tableLow * (product + small);
    precise float sum = tableHigh + scaled;
    precise float tail = (scaled - (sum - tableHigh)) + rest;
    precise float hi = sum + tail;
    precise float lo = tail - (hi - sum);
    precise float exponent = min(max(n, -127.0f), 128.0f);
    const uint biased = uint(int(exponent)) + 127u;
    precise float result = hi * asfloat(biased << 23);
    const bool inRange = y >= -126.0f && y < 128.0f;
    if (inRange && !(Decided(hi, lo, 3.637978807091713e-12f) && n < 127.5f))
    {
        result = ExactExp2Rare(y);
    }
    // Below 2^-126: +0 by a comparison, as some devices keep denormals.
    return Keep(y < -126.0f ? 0.0f : result);
}

float ExactLog2(float x)
{
    const uint bits = asuint(x);
    precise float significand = Significand(bits);
    precise float e0 = float(int((bits >> 23) - 127u));
    const uint j = (bits >> 16) & 127u;
    const float4 entry = log2Table[j];
    precise float inverse = entry.x;
    precise float tableHigh = entry.y;
    precise float tableLow = entry.z;
    precise float e = e0 + (float(int(j)) > 52.5f ? 1.0f : 0.0f);
    precise float sh;
    precise float sl;
    Split(significand, sh, sl);
    precise float a = sh * inverse - 1.0f;
    precise float b = sl * inverse;
    precise float t = a + b;
    precise float tb = t - a;
    precise float tLow = (a - (t - tb)) + (b - tb);
    precise float k1High = 1.4426950216293335f;
    precise float k1Low = 1.925963033500011e-08f;
    precise float product = t * k1High;
    precise float q = -0.24044917523860931f;
    q = q * t + 0.28853902220726013f;
    q = q * t + -0.3606737554073334f;
    q = q * t + 0.48089835047721863f;
    q = q * t + -0.7213475108146667f;
    precise float small =
        (((tableLow + ProductError(t, k1High, product)) + t * k1Low) + tLow * k1High) +
        (t * t) * q;
    precise float s1 = e + tableHigh;
    precise float s1b = s1 - e;
    precise float s1Error = (e - (s1 - s1b)) + (tableHigh - s1b);
    precise float s2 = s1 + product;
    precise float s2b = s2 - s1;
    precise float s2Error = (s1 - (s2 - s2b)) + (product - s2b);
    precise float tail = (s1Error + s2Error) + small;
    precise float hi = s2 + tail;
    precise float lo = tail - (hi - s2);
    precise float result = hi;
    const bool positive = !IsInfinite(x) && x >= 1.17549435082228750797e-38f;
    if (positive && !Decided(hi, lo, 7.275957614183426e-12f))
    {
        result = ExactLog2Rare(x, hi, lo);
    }
    return Keep(positive ? result : Log2Special(x, Magnitude(bits)));
}

#endif
