// ExactDiv against the processor's division under FlushDenormals, over three sets:
// - every significand of a (2^23, either sign) against fixed divisors, with exponents in the
//   middle of the range and where the quotient crosses 2^128 or 2^-126;
// - the same against divisors next to a power of two (1 + i 2^-23 and 2 - i 2^-23);
// - quotients as near a rounding midpoint as floats come: a = A 2^-23, b = B 2^-23 with
//   A 2^s = Q B + t for an odd 25-bit Q and |t| <= 3, so that a / b lies t / (B 2^s) from the
//   midpoint Q 2^-s. A follows from t times the inverse of 2^s modulo B, for every odd B (the
//   sample: every 64th).
#include <iterator>

#include "kernels/exact_math.h"
#include "kernels/float_bits.h"
#include "tools/exact_math/checks.h"

namespace exact_math_check {

namespace {

// Divisors, of which only the significand counts: the two of a review (0x1.bb872ep+0 gave a
// misrounded quotient, 0x1.e50fb8p-7 a NaN), round numbers, and some from a fixed generator.
constexpr float kNamedDivisors[] = {0x1.bb872ep+0f, 0x1.e50fb8p-7f, 1.0f, 3.0f, 10.0f,
                                    1e-4f,          0.1f,           7.0f, 1.5f, 0x1.fffffep+0f};
constexpr uint32_t kGeneratedDivisors = 22;
constexpr uint32_t kFixedDivisors = std::size(kNamedDivisors) + kGeneratedDivisors;
constexpr uint32_t kNearPowerDivisors = 32;

// Biased exponents of a and b: the middle; a / b crossing 2^128; crossing 2^-126; b at the ends.
constexpr uint32_t kExponents[][2] = {{127, 127}, {254, 126}, {1, 127}, {127, 254}, {127, 1}};
constexpr uint32_t kSettings = std::size(kExponents);

constexpr uint32_t kMidpointItems = 256;
constexpr uint32_t kOddDivisors = 1u << 22;  // B = 2^23 + 1, 2^23 + 3, ..., 2^24 - 1

uint32_t FixedSignificand(uint32_t index) {
    if (index < std::size(kNamedDivisors)) {
        return FloatBits(kNamedDivisors[index]) & 0x007FFFFFu;
    }
    return (index * 0x9E3779B1u + 0x7F4A7C15u) >> 9;
}

uint32_t NearPowerSignificand(uint32_t index) {
    return index < 16 ? index : 0x007FFFFFu - (index - 16);
}

[[gnu::noinline]] float HardwareDiv(float a, float b) {
    return a / b;
}

void CheckOne(Check check, uint32_t aBits, uint32_t bBits, Tally* tally) {
    const float a = FloatFromBits(aBits);
    const float b = FloatFromBits(bBits);
    tally->Record(check, SameResult(pyrix::ExactDiv(a, b), HardwareDiv(a, b)), aBits, bBits);
}

// Every significand of a (its sign from its last bit) against one divisor significand.
void CheckAllNumerators(Check check, uint32_t divisor, uint32_t setting, uint32_t stride,
                        Tally* tally) {
    const uint32_t bBits = (kExponents[setting][1] << 23) | divisor | ((setting & 1u) << 31);
    for (uint32_t m = 0; m < (1u << 23); m += stride) {
        const uint32_t aBits = (kExponents[setting][0] << 23) | m | ((m & 1u) << 31);
        CheckOne(check, aBits, bBits, tally);
    }
}

uint64_t PowerModulo(uint64_t base, uint32_t exponent, uint64_t modulus) {
    uint64_t result = 1;
    for (uint32_t e = 0; e < exponent; ++e) {
        result = result * base % modulus;
    }
    return result;
}

// The hard cases of one odd B, with exponents and signs spread by B.
void CheckMidpoints(uint64_t divisor, Tally* tally) {
    const uint32_t aBiased = 64u + static_cast<uint32_t>(divisor % 128u);
    const uint32_t bBiased = 64u + static_cast<uint32_t>((divisor >> 7) % 128u);
    const uint32_t sign = static_cast<uint32_t>(divisor >> 2) << 31;
    for (uint32_t shift = 24; shift <= 25; ++shift) {
        const uint64_t inverse = PowerModulo((divisor + 1) / 2, shift, divisor);  // of 2^shift
        for (int64_t t = -3; t <= 3; ++t) {
            const uint64_t residue = static_cast<uint64_t>(t + 3 * static_cast<int64_t>(divisor));
            uint64_t a = residue % divisor * inverse % divisor;
            a = a + (a < (1u << 23) ? ((1u << 23) - a + divisor - 1) / divisor * divisor : 0);
            for (; a < (1u << 24); a += divisor) {
                const int64_t numerator = static_cast<int64_t>(a << shift) - t;
                const int64_t quotient = numerator / static_cast<int64_t>(divisor);
                if (t == 0 || (quotient & 1) == 0 || quotient < (1 << 24) ||
                    quotient >= (1 << 25)) {
                    continue;
                }
                const uint32_t aBits = (aBiased << 23) | (static_cast<uint32_t>(a) & 0x007FFFFFu);
                const uint32_t bBits =
                    sign | (bBiased << 23) | (static_cast<uint32_t>(divisor) & 0x007FFFFFu);
                CheckOne(kDivMidpoints, aBits, bBits, tally);
            }
        }
    }
}

}  // namespace

uint32_t DivisionItems(bool) {
    return (kFixedDivisors + kNearPowerDivisors) * kSettings + kMidpointItems;
}

void CheckDivisionItem(uint32_t item, bool sample, Tally* tally) {
    const pyrix::FlushDenormals flush;
    const uint32_t stride = sample ? 1024u : 1u;
    if (item < kFixedDivisors * kSettings) {
        CheckAllNumerators(kDivFixed, FixedSignificand(item / kSettings), item % kSettings, stride,
                           tally);
        return;
    }
    item -= kFixedDivisors * kSettings;
    if (item < kNearPowerDivisors * kSettings) {
        CheckAllNumerators(kDivNearPowers, NearPowerSignificand(item / kSettings), item % kSettings,
                           stride, tally);
        return;
    }
    item -= kNearPowerDivisors * kSettings;
    const uint32_t perItem = kOddDivisors / kMidpointItems;
    const uint32_t step = sample ? 64u : 1u;
    for (uint32_t i = item * perItem; i < (item + 1) * perItem; i += step) {
        CheckMidpoints((1u << 23) + 1u + 2u * i, tally);
    }
}

}  // namespace exact_math_check
