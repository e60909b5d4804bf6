// The fire field's sine, correctly rounded, from 32-bit integer arithmetic; see exact_math.hlsli
// for the rules every function here keeps.
#ifndef EXACT_SIN_HLSLI
#define EXACT_SIN_HLSLI

#include "exact_math.hlsli"

// pi/2 * 2^63, rounded to nearest.
static const uint kHalfPiHigh = 0xC90FDAA2u;
static const uint kHalfPiLow = 0x2168C235u;

// The sine, correctly rounded, in the steps of exact_sin.cpp: SinReduce and SinFold, the fast
// path in floats (SinFast), and SinAngle, SinSeries, SinRound in integers where it cannot decide.
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

// The fast path of exact_sin.cpp, step for step.
bool SinFraction(SinTurns t, out float high, out float low)
{
    uint g3 = t.g3;
    uint g2 = t.g2;
    uint g1 = t.g1;
    uint scale = 0u;
    high = 0.0f;
    low = 0.0f;
    if (g3 == 0u)
    {
        g3 = g2;
        g2 = g1;
        g1 = t.g0;
        scale = 32u;
    }
    const uint zeros = g3 == 0u ? 32u : 31u - firstbithigh(g3);
    scale = scale + zeros;
    if (scale > 34u)
    {
        return false;
    }
    if (zeros != 0u)
    {
        g3 = (g3 << zeros) | (g2 >> (32u - zeros));
        g2 = (g2 << zeros) | (g1 >> (32u - zeros));
    }
    precise float top = float(int(g3 >> 8));
    precise float next = float(int(((g3 & 0xFFu) << 16) | (g2 >> 16)));
    precise float h = top * asfloat((105u - scale) << 23);
    precise float l = next * asfloat((81u - scale) << 23);
    high = h;
    low = l;
    return true;
}

void SinProduct(float ah, float al, float bh, float bl, out float high, out float low)
{
    precise float p = ah * bh;
    precise float l = ProductError(ah, bh, p) + (ah * bl + al * bh);
    high = p;
    low = l;
}

void SinHornerStep(float ch, float cl, float sh, float sl, float bh, float bl, out float high,
                   out float low)
{
    precise float ph;
    precise float pl;
    SinProduct(sh, sl, bh, bl, ph, pl);
    precise float sum = ch + ph;
    precise float tail = ((ch - sum) + ph) + (cl + pl);
    high = sum;
    low = tail;
}

void SinPolynomial(float sh, float sl, uint odd, out float high, out float low)
{
    const bool sine = odd != 0u;
    precise float h = sine ? -7.6471636098127127e-13f : -1.147074536050896e-11f;
    h = (sine ? 1.6059044372074283e-10f : 2.0876755879584152e-09f) + sh * h;
    h = (sine ? -2.5052107943679403e-08f : -2.755731998149713e-07f) + sh * h;
    precise float c4 = sine ? 2.7557318844628753e-06f : 2.4801587642286904e-05f;
    precise float p4 = sh * h;
    precise float h4 = c4 + p4;
    precise float l4 =
        ((c4 - h4) + p4) + (sine ? 3.7935712242972291e-14f : -3.4069960936668198e-13f);
    precise float h3;
    precise float l3;
    precise float h2;
    precise float l2;
    SinHornerStep(sine ? -0.00019841270113829523f : -0.0013888889225199819f,
                  sine ? 2.7255968749334558e-12f : 3.3631094437103215e-11f, sh, sl, h4, l4,
                  h3, l3);
    SinHornerStep(sine ? 0.0083333337679505348f : 0.041666667908430099f,
                  sine ? -4.3461720333759502e-10f : -1.2417634698280722e-09f, sh, sl, h3, l3,
                  h2, l2);
    SinHornerStep(sine ? -0.1666666716337204f : -0.5f, sine ? 4.9670538793122887e-09f : 0.0f,
                  sh, sl, h2, l2, high, low);
}

bool SinFast(SinTurns t, uint odd, out float hi, out float lo)
{
    precise float fh;
    precise float fl;
    hi = 0.0f;
    lo = 0.0f;
    if (!SinFraction(t, fh, fl))
    {
        return false;
    }
    precise float rh = fh * 1.5707963705062866f;
    precise float rl = (ProductError(fh, 1.5707963705062866f, rh) +
                        fh * -4.371138828673793e-08f) +
                       fl * 1.5707963705062866f;
    precise float sh = rh * rh;
    precise float sl = ProductError(rh, rh, sh) + rh * (rl + rl);
    precise float hh;
    precise float hl;
    precise float wh;
    precise float wl;
    SinPolynomial(sh, sl, odd, hh, hl);
    SinProduct(sh, sl, hh, hl, wh, wl);
    precise float bh = odd != 0u ? rh : 1.0f;
    precise float bl = odd != 0u ? rl : 0.0f;
    precise float ph;
    precise float pl;
    SinProduct(bh, bl, wh, wl, ph, pl);
    precise float sum = bh + ph;
    precise float tail = ((bh - sum) + ph) + (bl + pl);
    precise float h = sum + tail;
    precise float l = tail - (h - sum);
    hi = h;
    lo = l;
    return true;
}

uint SinSign(uint magnitude, uint sign, SinTurns t)
{
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
    return SinSign(((exponent - 1u) << 23) + significand + up, sign, t);
}

uint SinInIntegers(SinTurns turns, uint sign, uint odd)
{
    uint2 r;
    int scale;
    if (!SinAngle(turns, r, scale))
    {
        return sign ^ ((turns.quadrant & 1u) != 0u ? 0x3F800000u : 0u) ^
               ((turns.quadrant & 2u) != 0u ? 0x80000000u : 0u);
    }
    uint exponent;
    const uint2 value = SinSeries(r, scale, odd, exponent);
    return SinRound(value, exponent, sign, turns);
}

// The sine in the kernels' order: the float path first (ExactSinFloatFirst in exact_math.h).
// Where it cannot decide (about one argument in 80,000) the integer path does; without it
// (integerPath false, a literal at every call) `undecided` is set instead, and the result is not
// the sine.
float Sine(float x, bool integerPath, inout bool undecided)
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
    const uint odd = (turns.quadrant & 1u) != 0u ? 0u : 1u;
    precise float hi;
    precise float lo;
    const bool fast = SinFast(turns, odd, hi, lo);
    precise float error = hi * 4.547473508864641e-13f;
    uint result = SinSign(asuint(hi), sign, turns);
    if (!(fast && Decided(hi, lo, error)))
    {
        if (integerPath)
        {
            result = SinInIntegers(turns, sign, odd);
        }
        else
        {
            undecided = true;
        }
    }
    return asfloat(result);
}

float ExactSin(float x)
{
    bool undecided = false;
    return Sine(x, true, undecided);
}

#endif
