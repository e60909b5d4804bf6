// The exact operations against correctly rounded references (MPFR), and the flushing of
// denormals the kernels rely on. The run over every float is `make exhaustive`
// (tools/exact_math).
#include "kernels/exact_math.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kernels/float_bits.h"

namespace pyrix {

namespace {

enum class Function { kSin, kExp2, kLog2 };

float CorrectlyRounded(Function function, float v) {
    mpfr_t x, y;
    mpfr_init2(x, 24);
    mpfr_init2(y, 24);
    mpfr_set_flt(x, v, MPFR_RNDN);
    if (function == Function::kSin) {
        mpfr_sin(y, x, MPFR_RNDN);
    } else if (function == Function::kExp2) {
        mpfr_exp2(y, x, MPFR_RNDN);
    } else {
        mpfr_log2(y, x, MPFR_RNDN);
    }
    const float result = mpfr_get_flt(y, MPFR_RNDN);
    mpfr_clear(x);
    mpfr_clear(y);
    return result;
}

// The whole-range check is tools/exact_math (make exhaustive; make test runs a sample). Here:
// arguments a sine within an ulp gets wrong, and the edges of each range.
TEST(ExactMath, CorrectlyRoundedAtHardCasesAndEdges) {
    // sin(311.7f), the hash's, lies 0.033 ulp from a rounding midpoint; sin(0x1.e7061ep-2f)
    // lies 4e-9 ulp below one, so a float path that settles it under a looser margin than 2^-41
    // rounds it up.
    for (auto sine : {&ExactSin, &ExactSinFloatFirst}) {
        for (float v : {311.7f, 127.1f, 269.5f, 183.3f, -0x1.6c0808p-3f, 0x1.fffffep+127f, 1e-3f,
                        0x1.e7061ep-2f}) {
            EXPECT_EQ(FloatBits(sine(v)), FloatBits(CorrectlyRounded(Function::kSin, v))) << v;
        }
        EXPECT_EQ(FloatBits(sine(-0.0f)), FloatBits(-0.0f));
        EXPECT_TRUE(std::isnan(sine(INFINITY)));
        EXPECT_TRUE(std::isnan(sine(NAN)));
    }
    for (float y :
         {-126.0f, -125.99999f, 127.99999f, 0x1p-26f, -0x1p-26f, 0x1.9a39c8p+0f, -0x1.379478p-2f}) {
        EXPECT_EQ(FloatBits(ExactExp2(y)), FloatBits(CorrectlyRounded(Function::kExp2, y))) << y;
    }
    EXPECT_EQ(FloatBits(ExactExp2(-126.00002f)), 0u);  // +0 below the range, never a denormal
    EXPECT_EQ(FloatBits(ExactExp2(-INFINITY)), 0u);    // d = 0: c = 1 - 16 * 0 exactly
    EXPECT_EQ(ExactExp2(128.0f), INFINITY);
    EXPECT_TRUE(std::isnan(ExactExp2(NAN)));
    for (float x : {0x1p-126f, 0x1.fffffep-1f, 0x1.000002p+0f, 0x1.9a39c8p+0f, 0x1.7730c2p+116f,
                    0x1.fffffep+127f, 0.0625f}) {
        EXPECT_EQ(FloatBits(ExactLog2(x)), FloatBits(CorrectlyRounded(Function::kLog2, x))) << x;
    }
    EXPECT_EQ(FloatBits(ExactLog2(1.0f)), 0u);
    EXPECT_EQ(ExactLog2(0.0f), -INFINITY);
    EXPECT_EQ(ExactLog2(0x1p-130f), -INFINITY);  // denormals read as 0
}

// Arguments whose float-float result rounds the wrong way, so that only the hand-over to
// ExactLog2Rare and ExactExp2Rare gets them right (found by scanning every float with the
// hand-over removed: 415 such logarithms, 684 such powers), and sines that only
// ExactSinFloatFirst's integer path gets right (17 among the floats from 2^-12 to 2^25 and from
// 2^97 to 2^117; the 4th, 6th, 8th and 10th below take the cosine).
TEST(ExactMath, HardCasesNeedTheRarePaths) {
    for (float v :
         {0x1.250bfep-11f, 0x1.e64002p-2f, 0x1.3e42p+1f, 0x1.ce1026p+2f, -0x1.a88a5p+6f,
          0x1.0b638ep+13f, 0x1.cf9736p+19f, 0x1.30f266p+22f, -0x1.0193d8p+105f, 0x1.e14f3ap+115f}) {
        EXPECT_EQ(FloatBits(ExactSinFloatFirst(v)), FloatBits(CorrectlyRounded(Function::kSin, v)))
            << v;
    }
    for (float x : {0x1.00fc6ap+1f, 0x1.119b46p+1f, 0x1.4853aap-32f, 0x1.0dad2ep-1f, 0x1.fe168ap-1f,
                    0x1.ea1f18p-29f}) {
        EXPECT_EQ(FloatBits(ExactLog2(x)), FloatBits(CorrectlyRounded(Function::kLog2, x))) << x;
    }
    for (float y : {0x1.715476p-24f, 0x1.35e33ap-6f, 0x1.b6128ep-3f, 0x1.4b4baep+0f, 0x1.aa7cd6p+1f,
                    0x1.fffc0ep+6f, 0x1.db0c08p-10f}) {
        EXPECT_EQ(FloatBits(ExactExp2(y)), FloatBits(CorrectlyRounded(Function::kExp2, y))) << y;
    }
}

// The fixed-point paths decide only about one argument in 10^4 in use: run them on their own.
TEST(ExactMath, RarePathsCorrectlyRoundedOnTheirOwn) {
    for (uint32_t i = 0; i < (1u << 14); ++i) {
        const float y = -126.0f + 254.0f * static_cast<float>(i) / static_cast<float>(1u << 14) +
                        static_cast<float>(i % 97) * 0x1p-12f;
        ASSERT_EQ(FloatBits(ExactExp2Rare(y)), FloatBits(CorrectlyRounded(Function::kExp2, y)))
            << y;
        // Given either float next to log2 x and the distance to it, the other is chosen when
        // log2 x lies beyond their midpoint.
        const float x = FloatFromBits(0x00800000u + i * 129001u);
        const float want = CorrectlyRounded(Function::kLog2, x);
        const double exact = std::log2(static_cast<double>(x));
        const double rounded = static_cast<double>(want);
        const float other = std::nextafter(want, exact > rounded ? INFINITY : -INFINITY);
        ASSERT_EQ(FloatBits(ExactLog2Rare(x, want, static_cast<float>(exact - rounded))),
                  FloatBits(want));
        if (exact != rounded) {
            const float distance = static_cast<float>(exact - static_cast<double>(other));
            ASSERT_EQ(FloatBits(ExactLog2Rare(x, other, distance)), FloatBits(want)) << x;
        }
    }
}

// IEEE division and square root as the kernels read and write floats (denormals as zero).
[[gnu::noinline]] float Divided(float a, float b) {
    const FlushDenormals flush;
    return a / b;
}

[[gnu::noinline]] float Root(float v) {
    const FlushDenormals flush;
    return std::sqrt(v);
}

bool SameResult(float got, float want) {
    return (std::isnan(got) && std::isnan(want)) || FloatBits(got) == FloatBits(want);
}

// The whole-range check is tools/exact_math. Here: inputs a review found misrounded (a NaN, a
// negative root, -inf), the ends of the exponent range, IEEE's special values, and a grid in
// the field's own range, against IEEE.
TEST(ExactMath, DivisionAndSquareRootCorrectlyRounded) {
    EXPECT_EQ(FloatBits(ExactDiv(0x1.6e7f6p+1f, 0x1.bb872ep+0f)), FloatBits(0x1.a713dap+0f));
    EXPECT_EQ(FloatBits(ExactDiv(0x1.7d3d14p+115f, 0x1.e50fb8p-7f)), FloatBits(0x1.926946p+121f));
    EXPECT_EQ(FloatBits(ExactSqrt(0x1p-126f)), FloatBits(0x1p-63f));
    EXPECT_EQ(FloatBits(ExactSqrt(0x1.ffe08ep+127f)), FloatBits(0x1.fff046p+63f));
    const float specials[] = {0.0f,      -0.0f, 0x1p-130f,        -0x1p-130f,        0x1p-126f,
                              -3.0f,     1.0f,  0x1.fffffep+127f, -0x1.fffffep+127f, INFINITY,
                              -INFINITY, NAN,   0x1p-100f,        0x1p+100f,         0.75f};
    for (float a : specials) {
        EXPECT_TRUE(SameResult(ExactSqrt(a), Root(a))) << a;
        for (float b : specials) {
            EXPECT_TRUE(SameResult(ExactDiv(a, b), Divided(a, b))) << a << " / " << b;
        }
    }
    for (uint32_t i = 1; i < 100000; ++i) {
        const float a = static_cast<float>(i) * 0.37f - 1000.0f;
        const float b = 0.001f + static_cast<float>(i) * 0.171f;
        ASSERT_EQ(FloatBits(ExactDiv(a, b)), FloatBits(Divided(a, b))) << a << " / " << b;
        ASSERT_EQ(FloatBits(ExactSqrt(b)), FloatBits(Root(b))) << b;
    }
}

// log2 below the positive normal floats, as IEEE for the float the kernels read: the sign bit
// must not reach the exponent.
TEST(ExactMath, Log2OfZerosNegativesAndInfinities) {
    for (float zero : {0.0f, -0.0f, 0x1p-130f, -0x1p-130f}) {
        EXPECT_EQ(ExactLog2(zero), -INFINITY) << zero;
    }
    for (float negative : {-1.0f, -0x1p-126f, -0x1.fffffep+127f, -INFINITY, NAN}) {
        EXPECT_TRUE(std::isnan(ExactLog2(negative))) << negative;
    }
    EXPECT_EQ(ExactLog2(INFINITY), INFINITY);
}

// Direct3D flushes denormal inputs and results of float operations to zero with their sign;
// the CPU kernels run under FlushDenormals for the same results. exp2 gives +0 below 2^-126
// whatever the mode, as some devices keep denormals.
TEST(ExactMath, KernelsFlushDenormalsAsDirect3DDoes) {
    volatile float tiny = 0x1p-64f;
    volatile float denormal = 0x1p-130f;
    EXPECT_NE(tiny * tiny * 0x1p80f, 0.0f);
    EXPECT_EQ(ExactExp2(-126.25f), 0.0f);
    EXPECT_GT(ExactExp2(-125.75f), 0x1p-126f);
    {
        const FlushDenormals flush;
        EXPECT_EQ(tiny * tiny * 0x1p80f, 0.0f);   // flushed output
        EXPECT_EQ(denormal * 0x1p100f, 0.0f);     // flushed input
        EXPECT_TRUE(std::signbit(-tiny * tiny));  // the sign stays
        EXPECT_EQ(ExactExp2(-126.25f), 0.0f);
        EXPECT_EQ(ExactLog2(denormal), -INFINITY);
    }
    EXPECT_NE(tiny * tiny * 0x1p80f, 0.0f);  // the caller's mode is back
}

// A host thread may round towards zero; the kernels round to nearest all the same.
TEST(ExactMath, KernelsRoundToNearestWhateverTheCallersMode) {
    volatile float one = 1.0f;
    volatile float third = 3.0f;
    const float nearest = one / third;
    const int callers = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    {
        const FlushDenormals flush;
        EXPECT_EQ(one / third, nearest);
    }
    EXPECT_NE(one / third, nearest);  // the caller's mode is back
    std::fesetround(callers);
}

}  // namespace

}  // namespace pyrix
