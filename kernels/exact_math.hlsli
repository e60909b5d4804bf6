// The fire field's exp2 and log2, and the sine's fixed-point arithmetic (division and square
// root are exact_div_sqrt.hlsli, the sine exact_sin.hlsli), from operations that every device
// rounds alike (float add, subtract, multiply; comparisons, floor; 32-bit integers).
// exact_math.cpp, exact_math_lanes.h and exact_sin.cpp perform the same operations in the same
// order; keep them in step. Every float is precise, and the bytecode forbids refactoring, so that no
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

// The bits of 2/pi after two words of zeros.
static const uint kTwoOverPi[10] = {0u, 0u, 0xA2F9836Eu, 0x4E441529u, 0xFC2757D1u,
                                    0xF534DDC0u, 0xDB629599u, 0x3C439041u, 0xFE5163ABu,
                                    0xDEBBC561u};
static const uint kHalfPiHigh = 0xC90FDAA2u;
static const uint kHalfPiLow = 0x2168C235u;

// 2^64 / n! for n = 2 .. 21, high word first.
static const uint kInverseFactorials[40] = {
    0x80000000u, 0x00000000u, 0x2AAAAAAAu, 0xAAAAAAABu, 0x0AAAAAAAu, 0xAAAAAAABu, 0x02222222u,
    0x22222222u, 0x005B05B0u, 0x5B05B05Bu, 0x000D00D0u, 0x0D00D00Du, 0x0001A01Au, 0x01A01A02u,
    0x00002E3Bu, 0xC74AAD8Eu, 0x0000049Fu, 0x93EDDE28u, 0x0000006Bu, 0x99159FD5u, 0x00000008u,
    0xF76C77FCu, 0x00000000u, 0xB092309Du, 0x00000000u, 0x0C9CBA54u, 0x00000000u, 0x00D73F9Fu,
    0x00000000u, 0x000D73FAu, 0x00000000u, 0x0000CA96u, 0x00000000u, 0x00000B41u, 0x00000000u,
    0x00000098u, 0x00000000u, 0x00000008u, 0x00000000u, 0x00000000u};

// kInverseFactorials[index] and [index + 1] for an even index, chosen by comparisons like
// TwoOverPiWord.
uint2 InverseFactorial(uint index)
{
    uint2 pair = uint2(0u, 0u);
    [unroll]
    for (uint i = 0u; i < 40u; i += 2u)
    {
        pair = index == i ? uint2(kInverseFactorials[i], kInverseFactorials[i + 1u]) : pair;
    }
    return pair;
}

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

// 2^(j/128) = kExp2High[j] + kExp2Low[j], each rounded to nearest.
static const float4 kExp2High[32] = {
    float4(1.0f, 1.0054299f, 1.0108893f, 1.0163783f),
    float4(1.0218972f, 1.0274459f, 1.0330249f, 1.0386341f),
    float4(1.0442737f, 1.049944f, 1.0556452f, 1.0613772f),
    float4(1.0671405f, 1.0729349f, 1.0787607f, 1.0846183f),
    float4(1.0905077f, 1.0964291f, 1.1023825f, 1.1083684f),
    float4(1.1143868f, 1.1204377f, 1.1265216f, 1.1326386f),
    float4(1.1387886f, 1.1449721f, 1.1511892f, 1.1574401f),
    float4(1.1637249f, 1.1700438f, 1.176397f, 1.1827847f),
    float4(1.1892071f, 1.1956644f, 1.2021568f, 1.2086843f),
    float4(1.2152474f, 1.221846f, 1.2284806f, 1.235151f),
    float4(1.2418578f, 1.248601f, 1.2553807f, 1.2621974f),
    float4(1.269051f, 1.2759417f, 1.28287f, 1.2898359f),
    float4(1.2968396f, 1.3038813f, 1.3109612f, 1.3180796f),
    float4(1.3252367f, 1.3324325f, 1.3396676f, 1.3469418f),
    float4(1.3542556f, 1.361609f, 1.3690025f, 1.376436f),
    float4(1.38391f, 1.3914244f, 1.3989797f, 1.406576f),
    float4(1.4142135f, 1.4218926f, 1.4296134f, 1.437376f),
    float4(1.4451808f, 1.453028f, 1.4609178f, 1.4688504f),
    float4(1.4768262f, 1.4848452f, 1.4929078f, 1.5010141f),
    float4(1.5091645f, 1.517359f, 1.5255982f, 1.533882f),
    float4(1.5422108f, 1.5505849f, 1.5590044f, 1.5674696f),
    float4(1.5759809f, 1.5845382f, 1.5931422f, 1.6017928f),
    float4(1.6104903f, 1.6192352f, 1.6280274f, 1.6368674f),
    float4(1.6457555f, 1.6546918f, 1.6636766f, 1.6727102f),
    float4(1.6817929f, 1.6909248f, 1.7001064f, 1.7093377f),
    float4(1.7186193f, 1.7279513f, 1.7373339f, 1.7467674f),
    float4(1.7562522f, 1.7657884f, 1.7753764f, 1.7850167f),
    float4(1.7947091f, 1.8044542f, 1.8142521f, 1.8241034f),
    float4(1.8340081f, 1.8439666f, 1.8539791f, 1.8640461f),
    float4(1.8741677f, 1.8843442f, 1.894576f, 1.9048634f),
    float4(1.9152066f, 1.9256059f, 1.9360617f, 1.9465744f),
    float4(1.9571441f, 1.9677712f, 1.978456f, 1.9891988f)
};
static const float4 kExp2Low[32] = {
    float4(0.0f, 3.7183053e-08f, -5.7116054e-09f, 3.141028e-08f),
    float4(-4.81156e-08f, 3.675762e-08f, -2.8090893e-08f, 4.0148024e-08f),
    float4(4.83347e-08f, 4.26412e-08f, -4.9071694e-08f, 5.9587542e-08f),
    float4(-5.933752e-08f, 1.5744375e-09f, 5.4615946e-08f, 3.2211478e-08f),
    float4(-1.307754e-08f, -2.7756988e-08f, 4.260502e-08f, 1.4964645e-08f),
    float4(-5.43554e-08f, 1.11300045e-08f, 3.1236414e-08f, -5.4047828e-08f),
    float4(5.3862223e-08f, 5.8479046e-08f, 2.1922283e-08f, 7.2961654e-09f),
    float4(-4.0514415e-08f, -5.641996e-08f, 2.566975e-08f, 3.443252e-08f),
    float4(3.7976353e-08f, -1.3782927e-08f, -5.0697565e-08f, -1.5916191e-09f),
    float4(-3.267395e-08f, 4.8513833e-08f, -4.1362004e-08f, 1.1461958e-08f),
    float4(4.496838e-08f, 1.7411372e-08f, 7.3222375e-09f, -2.4903295e-08f),
    float4(1.4193333e-09f, 4.8850797e-08f, -3.8166217e-08f, -5.646394e-08f),
    float4(-4.0189995e-08f, -2.2382832e-08f, -3.4965716e-08f, 1.0468639e-08f),
    float4(-3.4963733e-08f, 3.8614534e-08f, -3.461674e-08f, -4.2494776e-08f),
    float4(-1.0123349e-08f, 3.855204e-08f, -3.845882e-08f, -2.4347399e-08f),
    float4(-5.8755774e-08f, -4.17238e-08f, 8.689434e-09f, -4.3587907e-08f),
    float4(2.4203235e-08f, -4.0805688e-08f, -1.3429929e-08f, -2.4889886e-08f),
    float4(3.3242e-08f, 3.2210746e-08f, -3.6286576e-08f, 5.911518e-08f),
    float4(-4.500899e-08f, 4.434764e-09f, -3.42362e-08f, -4.3799783e-08f),
    float4(-2.4959373e-08f, 2.287241e-08f, -1.7628569e-08f, -2.4063036e-08f),
    float4(8.070905e-09f, -3.461511e-08f, -2.5764665e-08f, 4.310276e-08f),
    float4(-5.6610254e-08f, 4.389324e-08f, -4.903137e-10f, -5.6664717e-08f),
    float4(9.836217e-09f, -2.277175e-08f, -1.7260083e-08f, 4.5782894e-08f),
    float4(-5.124972e-08f, -4.7720086e-08f, -3.9202988e-08f, -6.409962e-10f),
    float4(-2.4755327e-08f, 3.55898e-08f, -2.8651472e-08f, 5.1766236e-08f),
    float4(-4.8496176e-08f, -5.7261428e-08f, -5.8502234e-08f, -1.5496083e-08f),
    float4(-9.23577e-09f, -2.7013001e-12f, 5.343198e-08f, -4.4603002e-08f),
    float4(-1.1415045e-08f, -3.9613724e-08f, 3.7362582e-08f, 2.9999338e-08f),
    float4(-1.1239278e-08f, -3.432049e-08f, 1.4365612e-08f, -4.840397e-08f),
    float4(-4.6630056e-08f, -4.1129102e-08f, 2.8103385e-08f, -1.5726272e-08f),
    float4(9.845328e-09f, 5.0501054e-08f, 5.3570723e-08f, -3.1959953e-08f),
    float4(-1.7021804e-08f, 5.0709676e-08f, 6.0327263e-09f, 4.3065594e-08f)
};
// log2 of a float whose top 7 fraction bits are j: kLog2Inverse[j] (12 significant bits) brings
// its significand within 2^-7 of 1; log2(1 / kLog2Inverse[j]), less 1 from j = 53 on
// (significands above sqrt 2 count in the next binade), is kLog2High[j] + kLog2Low[j]. The ends
// are exact (1 and 1/2, log 0), so that results near log2 1 = 0 keep their relative accuracy.
static const float4 kLog2Inverse[32] = {
    float4(1.0f, 0.9885254f, 0.98095703f, 0.9733887f),
    float4(0.96606445f, 0.95874023f, 0.95166016f, 0.9445801f),
    float4(0.93774414f, 0.9309082f, 0.92407227f, 0.91748047f),
    float4(0.9111328f, 0.904541f, 0.89819336f, 0.89208984f),
    float4(0.8857422f, 0.8796387f, 0.8737793f, 0.8676758f),
    float4(0.86206055f, 0.8562012f, 0.85058594f, 0.8449707f),
    float4(0.83935547f, 0.8339844f, 0.82836914f, 0.8232422f),
    float4(0.8178711f, 0.81274414f, 0.8076172f, 0.80249023f),
    float4(0.7976074f, 0.79248047f, 0.78759766f, 0.782959f),
    float4(0.7780762f, 0.7734375f, 0.7687988f, 0.76416016f),
    float4(0.7597656f, 0.75512695f, 0.7507324f, 0.7463379f),
    float4(0.74194336f, 0.73779297f, 0.7336426f, 0.72924805f),
    float4(0.72509766f, 0.7211914f, 0.717041f, 0.71313477f),
    float4(0.7092285f, 0.70532227f, 0.701416f, 0.69750977f),
    float4(0.69384766f, 0.6899414f, 0.6862793f, 0.6826172f),
    float4(0.6789551f, 0.6755371f, 0.671875f, 0.66845703f),
    float4(0.66503906f, 0.66137695f, 0.6582031f, 0.65478516f),
    float4(0.6513672f, 0.64819336f, 0.6447754f, 0.64160156f),
    float4(0.63842773f, 0.6352539f, 0.6320801f, 0.62890625f),
    float4(0.62597656f, 0.62280273f, 0.61987305f, 0.61694336f),
    float4(0.6140137f, 0.611084f, 0.6081543f, 0.6052246f),
    float4(0.6022949f, 0.5996094f, 0.5966797f, 0.59399414f),
    float4(0.5913086f, 0.58862305f, 0.58569336f, 0.58325195f),
    float4(0.5805664f, 0.57788086f, 0.5751953f, 0.5727539f),
    float4(0.57006836f, 0.56762695f, 0.56518555f, 0.56274414f),
    float4(0.5600586f, 0.5576172f, 0.5554199f, 0.5529785f),
    float4(0.5505371f, 0.5480957f, 0.54589844f, 0.54345703f),
    float4(0.54125977f, 0.5390625f, 0.5366211f, 0.5344238f),
    float4(0.53222656f, 0.5300293f, 0.52783203f, 0.52563477f),
    float4(0.5234375f, 0.5214844f, 0.5192871f, 0.51708984f),
    float4(0.5151367f, 0.51293945f, 0.5109863f, 0.5090332f),
    float4(0.50683594f, 0.5048828f, 0.5029297f, 0.5f)
};
static const float4 kLog2High[32] = {
    float4(0.0f, 0.016650073f, 0.027738152f, 0.03891211f),
    float4(0.04980865f, 0.060788117f, 0.07148162f, 0.08225498f),
    float4(0.09273375f, 0.10328919f, 0.11392242f, 0.12425065f),
    float4(0.13426673f, 0.14474218f, 0.15490204f, 0.16473909f),
    float4(0.17504126f, 0.18501706f, 0.19465917f, 0.20477204f),
    float4(0.2141389f, 0.22397828f, 0.2334711f, 0.24302678f),
    float4(0.25264618f, 0.26190773f, 0.27165428f, 0.2806112f),
    float4(0.29005462f, 0.29912683f, 0.30825648f, 0.31744426f),
    float4(0.32624927f, 0.33555272f, 0.34446928f, 0.35299137f),
    float4(0.3620167f, 0.37064338f, 0.37932196f, 0.38805306f),
    float4(0.39637366f, 0.4052089f, 0.4136293f, 0.42209917f),
    float4(0.43061903f, 0.43871206f, 0.44685072f, 0.45551848f),
    float4(0.46375278f, 0.47154588f, 0.47987244f, 0.48775336f),
    float4(0.49567756f, -0.4963545f, -0.4883423f, -0.48028532f),
    float4(-0.47269085f, -0.46454576f, -0.45686772f, -0.44914865f),
    float4(-0.44138804f, -0.43410692f, -0.42626476f, -0.41890672f),
    float4(-0.41151097f, -0.40354466f, -0.39660478f, -0.38909352f),
    float4(-0.38154295f, -0.37449613f, -0.3668686f, -0.35974956f),
    float4(-0.35259524f, -0.34540525f, -0.33817926f, -0.33091688f),
    float4(-0.32418054f, -0.31684718f, -0.31004468f, -0.30320996f),
    float4(-0.29634267f, -0.28944257f, -0.2825093f, -0.27554256f),
    float4(-0.268542f, -0.26209486f, -0.25502858f, -0.2485206f),
    float4(-0.24198315f, -0.23541594f, -0.22821744f, -0.22219114f),
    float4(-0.215533f, -0.20884399f, -0.20212382f, -0.1959873f),
    float4(-0.18920684f, -0.183015f, -0.17679648f, -0.17055103f),
    float4(-0.16364968f, -0.15734693f, -0.15165083f, -0.14529534f),
    float4(-0.13891172f, -0.13249972f, -0.12670447f, -0.12023788f),
    float4(-0.114393055f, -0.10852446f, -0.10197567f, -0.09605624f),
    float4(-0.09011242f, -0.08414401f, -0.07815081f, -0.0721326f),
    float4(-0.06608919f, -0.06069593f, -0.054604318f, -0.048486874f),
    float4(-0.04302728f, -0.036860447f, -0.031356595f, -0.025831668f),
    float4(-0.019590728f, -0.01402047f, -0.008428622f, 0.0f)
};
static const float4 kLog2Low[32] = {
    float4(0.0f, -9.067242e-10f, -8.051255e-10f, -2.7981763e-11f),
    float4(-1.1815785e-09f, -1.554475e-11f, 1.9865825e-09f, 3.0720386e-09f),
    float4(3.2117746e-09f, -2.6806133e-09f, -2.0369428e-09f, -1.8259393e-09f),
    float4(-4.974989e-09f, -3.129895e-09f, -1.931379e-09f, -5.8514953e-09f),
    float4(1.136364e-09f, -6.40543e-10f, -1.905001e-09f, -6.2765952e-09f),
    float4(-1.032809e-09f, 3.7260692e-09f, -4.160846e-09f, -4.2673687e-09f),
    float4(-7.485187e-09f, 1.3853249e-08f, 7.249091e-09f, -8.161702e-09f),
    float4(4.552165e-10f, 1.1182445e-08f, 3.711187e-09f, -5.9690737e-09f),
    float4(-1.1069304e-08f, -6.763624e-09f, -2.2064697e-09f, -1.0788525e-08f),
    float4(-1.14366205e-08f, 2.6163132e-09f, -4.7303956e-09f, -1.3979226e-09f),
    float4(-4.3585215e-09f, -3.7589727e-09f, 1.1444263e-08f, -9.95597e-09f),
    float4(9.2868335e-09f, -5.6163367e-09f, 7.3337336e-09f, -6.426391e-09f),
    float4(7.927518e-09f, 1.4162731e-08f, 1.4343804e-08f, -4.2927253e-09f),
    float4(-8.859747e-09f, 1.9539546e-09f, 7.6237265e-09f, -4.2306683e-09f),
    float4(1.1253512e-08f, 6.2445062e-09f, -1.3723285e-08f, 9.562307e-09f),
    float4(1.1434334e-08f, -1.2420761e-08f, 8.17632e-09f, -1.2765391e-08f),
    float4(-1.3843294e-08f, -1.381908e-08f, -4.799412e-09f, -3.6473329e-09f),
    float4(-3.1597844e-10f, -1.3556125e-08f, -8.189637e-10f, -4.734561e-09f),
    float4(8.743397e-09f, 4.0699395e-09f, 1.0592213e-08f, 3.4466623e-09f),
    float4(-3.196042e-09f, -8.242746e-09f, -3.5820606e-09f, 1.1515888e-08f),
    float4(-1.3775378e-08f, -6.6709216e-09f, -9.108344e-09f, 1.1528103e-09f),
    float4(-8.58946e-09f, 9.938353e-09f, 5.840069e-09f, -7.1229156e-09f),
    float4(-4.218941e-09f, -8.6168725e-11f, -4.4300847e-09f, 1.5993242e-09f),
    float4(3.4653656e-09f, 4.2577805e-10f, -3.048753e-09f, 1.0561549e-09f),
    float4(4.0107637e-09f, 2.9176361e-09f, 2.8656992e-09f, -3.4887737e-09f),
    float4(2.2144606e-09f, -1.2827189e-09f, 1.129904e-09f, 1.9089395e-09f),
    float4(5.947833e-09f, -5.001968e-09f, -3.5200318e-09f, 2.1131301e-09f),
    float4(5.7168825e-10f, -1.5795268e-10f, 9.977713e-10f, -1.3641355e-09f),
    float4(-1.7279637e-09f, 5.247253e-10f, 1.0765375e-09f, -1.8332112e-09f),
    float4(8.4925476e-11f, -3.7213188e-10f, 3.2253346e-11f, -4.848368e-10f),
    float4(-1.833378e-09f, 7.0392053e-10f, -7.9910895e-10f, -6.256556e-10f),
    float4(-3.7297557e-10f, -3.439335e-10f, -3.340841e-11f, 0.0f)
};

// table[j] of a 128-entry table stored four to a float4, chosen by a tree of selections on the
// bits of j: indexed at run time, the table would be copied into indexable memory, and a chain
// of 32 comparisons takes the compiler far longer than a tree five selections deep.
#define EXACT_MATH_PICK(w, bit, a, b) (((w) & (bit)) != 0u ? (b) : (a))
#define EXACT_MATH_PICK4(w, t, o)                                                            \
    EXACT_MATH_PICK(w, 2u, EXACT_MATH_PICK(w, 1u, t[(o)], t[(o) + 1]),                        \
                    EXACT_MATH_PICK(w, 1u, t[(o) + 2], t[(o) + 3]))
#define EXACT_MATH_PICK8(w, t, o) \
    EXACT_MATH_PICK(w, 4u, EXACT_MATH_PICK4(w, t, o), EXACT_MATH_PICK4(w, t, (o) + 4))
#define EXACT_MATH_PICK16(w, t, o) \
    EXACT_MATH_PICK(w, 8u, EXACT_MATH_PICK8(w, t, o), EXACT_MATH_PICK8(w, t, (o) + 8))
#define EXACT_MATH_TABLE_ENTRY(Name, table)                                                   \
    float Name(uint j)                                                                       \
    {                                                                                        \
        const uint w = j >> 2;                                                               \
        const float4 row =                                                                   \
            EXACT_MATH_PICK(w, 16u, EXACT_MATH_PICK16(w, table, 0), EXACT_MATH_PICK16(w, table, 16)); \
        return EXACT_MATH_PICK(j, 2u, EXACT_MATH_PICK(j, 1u, row.x, row.y),                   \
                               EXACT_MATH_PICK(j, 1u, row.z, row.w));                         \
    }

EXACT_MATH_TABLE_ENTRY(Exp2High, kExp2High)
EXACT_MATH_TABLE_ENTRY(Exp2Low, kExp2Low)
EXACT_MATH_TABLE_ENTRY(Log2Inverse, kLog2Inverse)
EXACT_MATH_TABLE_ENTRY(Log2High, kLog2High)
EXACT_MATH_TABLE_ENTRY(Log2Low, kLog2Low)

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
    precise float distance = asfloat(asuint(lo) & 0x7FFFFFFFu);
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
    precise float tableHigh = Exp2High(j);
    precise float tableLow = Exp2Low(j);
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
    precise float significand = asfloat((bits & 0x007FFFFFu) | 0x3F800000u);
    precise float e0 = float(int((bits >> 23) - 127u));
    const uint j = (bits >> 16) & 127u;
    precise float inverse = Log2Inverse(j);
    precise float tableHigh = Log2High(j);
    precise float tableLow = Log2Low(j);
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
