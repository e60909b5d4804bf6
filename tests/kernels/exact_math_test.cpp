// The exact operations against references of higher precision (MPFR for the sine, whose
// arguments reach 2^127), and the flushing of denormals the kernels rely on. The run over every
// float is the `make exhaustive` target (tools/exact_math_exhaustive.cpp).
#include "kernels/exact_math.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace pyrix {

namespace {

float FromBits(uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    return v;
}

// |got - exact| in ulps of the float nearest to exact (normal range).
double UlpError(float got, long double exact) {
    int exponent = 0;
    std::frexp(static_cast<double>(exact), &exponent);
    return static_cast<double>(std::fabs(static_cast<long double>(got) - exact) /
                               std::ldexp(1.0L, exponent - 24));
}

TEST(ExactMath, SineWithinOneUlpOnSampledPatterns) {
    mpfr_t x;
    mpfr_t s;
    mpfr_init2(x, 24);
    mpfr_init2(s, 80);
    double worst = 0.0;
    // An odd stride visits 2^20 patterns spread over all exponents and both signs.
    for (uint32_t i = 0; i < (1u << 20); ++i) {
        const float value = FromBits(i * 0x9E3779B1u);
        if (!std::isfinite(value) || std::fabs(value) < 0x1p-126f) {
            continue;
        }
        mpfr_set_flt(x, value, MPFR_RNDN);
        mpfr_sin(s, x, MPFR_RNDN);
        const double error = UlpError(ExactSin(value), mpfr_get_ld(s, MPFR_RNDN));
        ASSERT_LE(error, 1.0) << std::hexfloat << value;
        worst = std::max(worst, error);
    }
    mpfr_clear(x);
    mpfr_clear(s);
    EXPECT_GT(worst, 0.5);  // the check itself can see an error
    EXPECT_EQ(ExactSin(0.0f), 0.0f);
    EXPECT_TRUE(std::signbit(ExactSin(-0.0f)));
    EXPECT_TRUE(std::isnan(ExactSin(INFINITY)));
}

TEST(ExactMath, Exp2AndLog2WithinOneUlpOverTheFieldsRanges) {
    // exp2 sees y <= 0 (the heat's exponent, 1.2 log2 d of a lit pixel), log2 sees d <= 0.1.
    for (uint32_t i = 0; i < (1u << 20); ++i) {
        const float y = -126.0f * static_cast<float>(i) / static_cast<float>(1u << 20);
        ASSERT_LE(UlpError(ExactExp2(y), exp2l(y)), 1.0) << std::hexfloat << y;
        const float d = FromBits(0x00800000u + i * 983u);  // 2^-126 up to about 0.1
        ASSERT_LE(UlpError(ExactLog2(d), log2l(d)), 1.0) << std::hexfloat << d;
    }
    EXPECT_EQ(ExactExp2(0.0f), 1.0f);
    EXPECT_EQ(ExactExp2(-INFINITY), 0.0f);  // d = 0: c = 1 - 16 * 0 exactly
    EXPECT_EQ(ExactLog2(0.0f), -INFINITY);
    EXPECT_EQ(ExactLog2(0.0625f), -4.0f);
}

TEST(ExactMath, DivisionAndSquareRootExactWhereTheFieldNeedsIt) {
    // emitterSize 1 must leave the shape's X and Y as they are, and r of a point on an axis is
    // its coordinate; elsewhere within an ulp.
    for (float v : {0.0f, 0.25f, 1.0f, 0.3f, 1e-10f, 7.0f}) {
        EXPECT_EQ(ExactDiv(v, 1.0f), v);
        EXPECT_EQ(ExactDiv(-v, 1.0f), -v);
        EXPECT_EQ(ExactSqrt(v * v), std::fabs(v)) << v;
    }
    for (uint32_t i = 1; i < 100000; ++i) {
        const float a = static_cast<float>(i) * 0.37f - 1000.0f;
        const float b = 0.001f + static_cast<float>(i) * 0.171f;
        ASSERT_LE(UlpError(ExactDiv(a, b), static_cast<long double>(a) / b), 1.0) << a << " " << b;
        ASSERT_LE(UlpError(ExactSqrt(b), sqrtl(b)), 1.0) << b;
    }
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

}  // namespace

}  // namespace pyrix
