// ExactDiv and ExactSqrt, correctly rounded, in the steps of exact_math_lanes.h (which gives the
// argument); included by exact_math.hlsli after the float-float steps they use (Keep, Split,
// ProductError), under the same rules: every float precise, no fused operation.
#ifndef EXACT_DIV_SQRT_HLSLI
#define EXACT_DIV_SQRT_HLSLI

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

// An estimate q of x in [1, 2), its remainder taken exactly, a nudge by 2^-23.
float Significand(uint bits)
{
    return asfloat((bits & 0x007FFFFFu) | 0x3F800000u);
}

float Remainder(float n, float q, float d)
{
    precise float p = q * d;
    precise float r = (n - p) - ProductError(q, d, p);
    return r;
}

float Clamped(float q)
{
    precise float c = min(max(q, 1.0f), 1.99999988079071044921875f);
    return c;
}

float Nudge(float q, float r, float h)
{
    precise float zero = 0.0f;
    precise float u = 1.1920928955078125e-7f;
    precise float minusH = zero - h;
    precise float minusU = zero - u;
    precise float down = minusH >= r ? minusU : zero;
    precise float step = r > h ? u : down;
    precise float nudged = q + step;
    return nudged;
}

bool IsZero(float magnitude)
{
    return magnitude < 1.17549435082228750797e-38f;
}

bool IsInfinite(float magnitude)
{
    return magnitude > 3.40282346638528859812e+38f;
}

bool IsNumber(float magnitude)
{
    return magnitude >= 0.0f;
}

float Magnitude(uint bits)
{
    return asfloat(bits & 0x7FFFFFFFu);
}

float DivSpecial(uint aBits, uint bBits, uint sign, float field, float quotient)
{
    precise float a = Magnitude(aBits);
    precise float b = Magnitude(bBits);
    const bool zeroA = IsZero(a);
    const bool zeroB = IsZero(b);
    const bool infiniteA = IsInfinite(a);
    const bool infiniteB = IsInfinite(b);
    const bool toZero = (zeroA && !zeroB) || (infiniteB && !infiniteA) || field < 0.5f;
    const bool toInfinity = (infiniteA && !infiniteB) || (zeroB && !zeroA) || field > 254.5f;
    const bool toNan = (zeroA && zeroB) || (infiniteA && infiniteB);
    precise float nan = asfloat(0x7FC00000u);
    precise float result = toZero ? asfloat(sign) : quotient;
    result = toInfinity ? asfloat(sign | 0x7F800000u) : result;
    result = toNan ? nan : result;
    precise float special = (IsNumber(a) && IsNumber(b)) ? result : nan;
    return special;
}

float ExactDiv(float a, float b)
{
    const uint aBits = asuint(a);
    const uint bBits = asuint(b);
    precise float ma = Significand(aBits);
    precise float d = Significand(bBits);
    const bool small = ma < d;
    precise float doubled = 2.0f * ma;
    precise float n = small ? doubled : ma;
    precise float y = Reciprocal(d);
    precise float q0 = n * y;
    precise float q = Clamped(q0 + Remainder(n, q0, d) * y);
    precise float x = Nudge(q, Remainder(n, q, d), d * 5.9604644775390625e-8f);
    const uint biasedA = (aBits >> 23) & 0xFFu;
    const uint biasedB = (bBits >> 23) & 0xFFu;
    precise float field =
        (float(int(biasedA)) - float(int(biasedB))) + (small ? 126.0f : 127.0f);
    const uint sign = (aBits ^ bBits) & 0x80000000u;
    const uint magnitude = (asuint(x) & 0x007FFFFFu) | (uint(int(field)) << 23);
    return Keep(DivSpecial(aBits, bBits, sign, field, asfloat(sign | magnitude)));
}

float ExactSqrt(float v)
{
    const uint bits = asuint(v);
    const uint biased = (bits >> 23) & 0xFFu;
    const uint mField = 0x40000000u - ((biased & 1u) << 23);
    precise float m = asfloat((bits & 0x007FFFFFu) | mField);
    precise float y = asfloat(0x5F3759DFu - (asuint(m) >> 1));
    precise float half = 0.5f * m;
    [loop]
    for (int step = 0; step < 3; ++step)
    {
        precise float t = (half * y) * y;
        y = y * (1.5f - t);
    }
    precise float s0 = m * y;
    precise float s = Clamped(s0 + Remainder(m, s0, s0) * (0.5f * y));
    precise float x = Nudge(s, Remainder(m, s, s), s * 1.1920928955078125e-7f);
    const uint field = (biased + 127u) >> 1;
    precise float root = asfloat((asuint(x) & 0x007FFFFFu) | (field << 23));
    precise float magnitude = Magnitude(bits);
    precise float nan = asfloat(0x7FC00000u);
    precise float result = IsInfinite(magnitude) ? v : root;
    result = v < 0.0f ? nan : result;
    result = IsNumber(magnitude) ? result : nan;
    precise float signedZero = asfloat(bits & 0x80000000u);
    return Keep(IsZero(magnitude) ? signedZero : result);
}

#endif
