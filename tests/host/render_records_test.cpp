#include "render/render_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace pyrix {

namespace {

struct ExtentCase {
    int32_t size;
    double factor;
    int32_t expected;
};

std::ostream& operator<<(std::ostream& os, const ExtentCase& c) {
    return os << c.size << " x " << c.factor;
}

class ScaledExtentTest : public ::testing::TestWithParam<ExtentCase> {};

TEST_P(ScaledExtentTest, RoundsUpExceptWithinOneBillionth) {
    const ExtentCase& c = GetParam();
    EXPECT_EQ(ScaledExtent(c.size, c.factor), c.expected) << c.size << " * " << c.factor;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScaledExtentTest,
                         ::testing::Values(ExtentCase{1920, 0.5, 960}, ExtentCase{1921, 0.5, 961},
                                           ExtentCase{1920, 1.0 / 3.0, 640},
                                           ExtentCase{1921, 1.0 / 3.0, 641}, ExtentCase{0, 0.5, 0},
                                           ExtentCase{0, 1.0 / 3.0, 0}, ExtentCase{0, 7.0, 0},
                                           // exactly 640.0 must not become 641
                                           ExtentCase{1280, 0.5, 640}, ExtentCase{640, 1.0, 640},
                                           // 1e-9 above a whole number stays there
                                           ExtentCase{1, 640.0000000005, 640},
                                           ExtentCase{1, 640.000000002, 641}));

TEST(ScaledExtentTest, OutOfRangeProductsSaturateInsteadOfWrapping) {
    EXPECT_EQ(ScaledExtent(2000000000, 4.0), INT32_MAX);
    EXPECT_EQ(ScaledExtent(2000000000, -4.0), INT32_MIN);
    EXPECT_EQ(ScaledExtent(1920, std::numeric_limits<double>::quiet_NaN()), INT32_MIN);
    EXPECT_EQ(ScaledExtent(1920, std::numeric_limits<double>::infinity()), INT32_MAX);
}

TEST(FullFrameExtentTest, UsesEachAxisOwnFactor) {
    FrameContext context;
    context.layerWidth = 1921;
    context.layerHeight = 1080;
    context.downsampleX = 1.0 / 3.0;
    context.downsampleY = 0.5;
    const FrameExtent extent = FullFrameExtent(context);
    EXPECT_EQ(extent.width, 641);
    EXPECT_EQ(extent.height, 540);
}

TEST(IsAbortedTest, AsksTheAbortTestWithItsContext) {
    FrameContext context;
    EXPECT_FALSE(IsAborted(context)) << "a null abort test never aborts";

    int calls = 0;
    context.abortContext = &calls;
    context.isAborted = [](void* abortContext) {
        int* counter = static_cast<int*>(abortContext);
        return ++*counter >= 2;
    };
    EXPECT_FALSE(IsAborted(context));
    EXPECT_TRUE(IsAborted(context));
    EXPECT_EQ(calls, 2);
}

}  // namespace

}  // namespace pyrix
