// The fire field against its worked values and the properties its callers rely on.
#include "kernels/fire_field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kernels/float_bits.h"

namespace pyrix {

namespace {

TEST(GradientHash, WorkedValues) {
    // These pin the sine, the rows of the hash and their order (row a gives the first component).
    const Float2 origin = gradientHash(0.0f, 0.0f);
    EXPECT_EQ(origin.x, -1.0f);
    EXPECT_EQ(origin.y, -1.0f);
    const Float2 right = gradientHash(1.0f, 0.0f);
    EXPECT_EQ(right.x, -0.359375f);
    EXPECT_EQ(right.y, -0.5703125f);
    // sin(311.7f) lies 0.033 ulp from a rounding midpoint: a sine within an ulp but not
    // correctly rounded can take the other float, which the hash amplifies to 1/256.
    const Float2 up = gradientHash(0.0f, 1.0f);
    EXPECT_EQ(up.x, -0.19140625f);
    EXPECT_EQ(up.y, -0.171875f);
}

TEST(GradientHash, StaysInHalfOpenUnitRange) {
    for (int cy = -40; cy <= 40; ++cy) {
        for (int cx = -40; cx <= 40; ++cx) {
            const Float2 g = gradientHash(static_cast<float>(cx), static_cast<float>(cy));
            ASSERT_GE(g.x, -1.0f) << cx << ", " << cy;
            ASSERT_LT(g.x, 1.0f) << cx << ", " << cy;
            ASSERT_GE(g.y, -1.0f) << cx << ", " << cy;
            ASSERT_LT(g.y, 1.0f) << cx << ", " << cy;
        }
    }
}

TEST(SimplexNoise, ZeroAtOrigin) {
    EXPECT_EQ(simplexNoise(0.0f, 0.0f), 0.0f);
}

TEST(SimplexNoise, BoundedAndNotConstant) {
    float lowest = 0.0f;
    float highest = 0.0f;
    for (int j = 0; j < 200; ++j) {
        for (int i = 0; i < 200; ++i) {
            const float n = simplexNoise(0.037f * static_cast<float>(i) - 3.0f,
                                         0.041f * static_cast<float>(j) - 4.0f);
            ASSERT_TRUE(std::isfinite(n));
            lowest = std::min(lowest, n);
            highest = std::max(highest, n);
        }
    }
    EXPECT_GE(lowest, -1.1f);
    EXPECT_LE(highest, 1.1f);
    EXPECT_LT(lowest, -0.5f);
    EXPECT_GT(highest, 0.5f);
}

TEST(SimplexNoise, ContinuousAcrossCellBorders) {
    // Wrong corner offsets or lattice points show up as jumps where the simplex changes, most
    // of all across the diagonal x0.x == x0.y.
    const float step = 1e-3f;
    float largestJump = 0.0f;
    for (int j = 0; j < 120; ++j) {
        for (int i = 0; i < 120; ++i) {
            const float px = 0.031f * static_cast<float>(i) - 1.7f;
            const float py = 0.029f * static_cast<float>(j) - 1.9f;
            const float n = simplexNoise(px, py);
            largestJump = std::max(largestJump, std::fabs(simplexNoise(px + step, py) - n));
            largestJump = std::max(largestJump, std::fabs(simplexNoise(px, py + step) - n));
            largestJump = std::max(largestJump, std::fabs(simplexNoise(px + step, py + step) - n));
        }
    }
    EXPECT_LT(largestJump, 0.02f);
}

TEST(Turbulence, ExactlyHalfWhereNoiseInputIsOrigin) {
    const FireFieldParams field = MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.0f);
    EXPECT_EQ(turbulence(field, 0.0f, 0.0f), 0.5f);
    // p1 = (0, detail qy - 3 time) is the origin for qy = 3 time / detail as well.
    const FireFieldParams moving = MakeFireFieldParams(2.0f, 1.0f, 1.0f, 0.3f);
    EXPECT_EQ(turbulence(moving, 0.0f, 1.5f), 0.5f);
}

TEST(Turbulence, SoftnessFlattens) {
    const FireFieldParams sharp = MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.0f);
    const FireFieldParams soft = MakeFireFieldParams(1.0f, 0.0f, 1.0f, 1.0f);
    float sharpSpread = 0.0f;
    for (int i = 0; i < 400; ++i) {
        const float qx = 0.013f * static_cast<float>(i) - 2.0f;
        const float qy = 0.007f * static_cast<float>(i) - 1.0f;
        const float fs = turbulence(sharp, qx, qy);
        const float fw = turbulence(soft, qx, qy);
        ASSERT_LE(std::fabs(fs - 0.5f), 0.65f);
        ASSERT_LE(std::fabs(fw - 0.5f), 0.075f);
        sharpSpread = std::max(sharpSpread, std::fabs(fs - 0.5f));
    }
    EXPECT_GT(sharpSpread, 0.1f);
}

TEST(FireSample, WorkedValuesAtEmitter) {
    const FireColour sharp = fireSample(MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.0f), 0.0f, 0.0f);
    EXPECT_NEAR(sharp.red, 0.99927f, 5e-6f);
    EXPECT_NEAR(sharp.green, 0.63211f, 5e-6f);
    EXPECT_NEAR(sharp.blue, 0.23698f, 5e-6f);
    const FireColour soft = fireSample(MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.5f), 0.0f, 0.0f);
    EXPECT_NEAR(soft.red, 0.86972f, 5e-6f);
    EXPECT_NEAR(soft.green, 0.54962f, 5e-6f);
    EXPECT_NEAR(soft.blue, 0.18470f, 5e-6f);
}

TEST(FireSample, BlackBelowQuarterUnderEmitter) {
    // Below qy = -0.25 the turbulence cannot widen the shape and r >= 0.1875 > 0.0992.
    for (float s : {0.0f, 0.5f, 1.0f}) {
        const FireFieldParams field = MakeFireFieldParams(1.7f, 0.4f, 2.0f, s);
        for (int i = 0; i < 50; ++i) {
            const float qx = 0.02f * static_cast<float>(i) - 0.5f;
            const FireColour c = fireSample(field, qx, -0.2501f - 0.01f * static_cast<float>(i));
            EXPECT_EQ(c.red, 0.0f);
            EXPECT_EQ(c.green, 0.0f);
            EXPECT_EQ(c.blue, 0.0f);
        }
    }
}

TEST(FireSample, CutOffWhereHeightCoordinateReachesOne) {
    // W = 0.5 Y + 0.09 >= 1 from Y = 1.82 on; with E = 1 that is qy = 1.82.
    const FireFieldParams field = MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.0f);
    for (int i = 0; i < 40; ++i) {
        const FireColour c = fireSample(field, 0.005f * static_cast<float>(i) - 0.1f, 1.83f);
        EXPECT_EQ(c.red, 0.0f);
        EXPECT_EQ(c.green, 0.0f);
        EXPECT_EQ(c.blue, 0.0f);
    }
}

TEST(FireSample, EmitterSizeScalesOnlyAboveEmitter) {
    // Above the emitter the height is divided by E, so a larger fire reaches higher; below it
    // the height is not, and on the centre line nothing else depends on E.
    const FireFieldParams unit = MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.0f);
    const FireFieldParams large = MakeFireFieldParams(1.0f, 0.0f, 4.0f, 0.0f);
    EXPECT_GT(fireSample(large, 0.0f, 1.9f).red, 0.0f);  // Y = 0.475: still inside
    EXPECT_EQ(fireSample(unit, 0.0f, 1.9f).red, 0.0f);   // Y = 1.9: beyond the cut-off
    // Below the emitter E only narrows/widens in x: at qx = 0 the colour is the same.
    const FireColour below1 = fireSample(unit, 0.0f, -0.1f);
    const FireColour below4 = fireSample(large, 0.0f, -0.1f);
    EXPECT_GT(below1.red, 0.0f);
    EXPECT_EQ(below1.red, below4.red);
    EXPECT_EQ(below1.green, below4.green);
    EXPECT_EQ(below1.blue, below4.blue);
}

TEST(FireSample, ChannelsInUnitRangeAndRedBrightest) {
    for (float s : {0.0f, 0.25f, 1.0f}) {
        const FireFieldParams field = MakeFireFieldParams(2.5f, 0.7f, 1.3f, s);
        int lit = 0;
        for (int j = 0; j < 60; ++j) {
            for (int i = 0; i < 60; ++i) {
                const float qx = 0.02f * static_cast<float>(i) - 0.6f;
                const float qy = 0.04f * static_cast<float>(j) - 0.3f;
                const FireColour c = fireSample(field, qx, qy);
                ASSERT_GE(c.red, 0.0f);
                ASSERT_LE(c.red, 1.0f);
                ASSERT_GE(c.green, 0.0f);
                ASSERT_LE(c.green, c.red + 1e-6f);
                ASSERT_GE(c.blue, 0.0f);
                ASSERT_LE(c.blue, c.red + 1e-6f);
                lit += c.red > 0.0f ? 1 : 0;
            }
        }
        EXPECT_GT(lit, 100) << "softness " << s;
    }
}

// The kernels skip the noise of surely dark points, so each must be black with its noise (the
// fast kernel's tests hold the turbulence to its bound). The points crowd the flame's edge; and
// the test must still skip most of the frame beyond the flame.
// Dark means +0 in every channel, bit for bit: a -0 would reach the host as another pixel.
// The mild settings must also find most of the far field dark; the extreme ones (the controls'
// ends, far times) only that what they call dark is.
int CountSurelyDark(const FireFieldParams& field, int side, float stepX, float stepY) {
    int dark = 0;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const float qx = stepX * static_cast<float>(i) - 0.8f;
            const float qy = stepY * static_cast<float>(j) - 0.3f;
            const ShapePoint shape = shapeCoordinates(field, qx, qy);
            if (!surelyDark(field, shape)) continue;
            ++dark;
            const FireColour c = fireShade(field, shape, turbulence(field, qx, qy));
            EXPECT_EQ(FloatBits(c.red) | FloatBits(c.green) | FloatBits(c.blue), 0u)
                << qx << ", " << qy;
        }
    }
    return dark;
}

TEST(SurelyDark, OnlyBlackPointsAndMostOfTheFarField) {
    for (float softness : {0.0f, 0.4f, 1.0f}) {
        for (float detail : {1.0f, 5.0f}) {
            const FireFieldParams field = MakeFireFieldParams(detail, 37.3f, 0.7f, softness);
            EXPECT_GT(CountSurelyDark(field, 64, 0.025f, 0.03f), 64 * 64 / 3)
                << "softness " << softness << ", detail " << detail;
        }
    }
    for (float time : {0.0f, -3.5e6f, 6.0e10f}) {
        for (float size : {0.0f, 10.0f}) {
            for (float softness : {0.0f, 1.0f}) {
                for (float detail : {0.0f, 5.0f}) {
                    const FireFieldParams field = MakeFireFieldParams(detail, time, size, softness);
                    EXPECT_GT(CountSurelyDark(field, 24, 0.07f, 0.09f), 0)
                        << "time " << time << ", size " << size;
                }
            }
        }
    }
}

TEST(FireConstants, BitPatterns) {
    EXPECT_EQ(FloatBits(kSkewF2), 0x3EBB67AFu);
    EXPECT_EQ(FloatBits(kUnskewG2), 0x3E58658Cu);
    EXPECT_EQ(FloatBits(kFarCornerOffset), 0xBF13CD3Au);
    EXPECT_EQ(FloatBits(kHashRowAX), 0x42FE3333u);
    EXPECT_EQ(FloatBits(kHashRowAY), 0x439BD99Au);
    EXPECT_EQ(FloatBits(kHashRowBX), 0x4386C000u);
    EXPECT_EQ(FloatBits(kHashRowBY), 0x43374CCDu);
    EXPECT_EQ(FloatBits(kHashScale), 0x472AEE8Cu);
    EXPECT_EQ(FloatBits(kNoiseScale), 0x428C0000u);
    EXPECT_EQ(FloatBits(kHeatExponent), 0xC02632CFu);
}

}  // namespace

}  // namespace pyrix
