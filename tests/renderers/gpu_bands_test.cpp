// Frames whose resources would pass the device's size limit are rendered in bands of rows, with
// the bytes of one pass; the stand-in refuses any resource beyond the limit the test sets, and
// the renderer is told the same limit through its variable.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "renderers/gpu_renderer.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {
namespace {

using test_support::CountLines;
using test_support::TestFrame;

// The renderer's limit lowered to `bytes` (0: unset) for the renderers made from now on.
void LowerRendererLimit(uint64_t bytes) {
    if (bytes == 0) {
        unsetenv(kGpuResourceLimitVariable);
    } else {
        setenv(kGpuResourceLimitVariable, std::to_string(bytes).c_str(), 1);
    }
}

class GpuBands : public test_support::StandInTest {
  protected:
    void TearDown() override {
        LowerRendererLimit(0);
        StandInTest::TearDown();
    }
};

TEST(GpuResourceLimit, AQuarterOfTheVideoMemoryWithinItsBoundsAndOnlyLowered) {
    const uint64_t mebibyte = uint64_t{1} << 20;
    EXPECT_EQ(GpuResourceLimit(0), 128 * mebibyte);
    EXPECT_EQ(GpuResourceLimit(1024 * mebibyte), 256 * mebibyte);
    EXPECT_EQ(GpuResourceLimit(16384 * mebibyte), 2048 * mebibyte);
    LowerRendererLimit(5000);
    EXPECT_EQ(GpuResourceLimit(1024 * mebibyte), 5000u);
    LowerRendererLimit(4096 * mebibyte);
    EXPECT_EQ(GpuResourceLimit(1024 * mebibyte), 256 * mebibyte) << "never raised";
    setenv(kGpuResourceLimitVariable, "12k", 1);
    EXPECT_EQ(GpuResourceLimit(1024 * mebibyte), 256 * mebibyte) << "not a number";
    LowerRendererLimit(0);
}

// 40 texels of 16 bytes a row: 8 rows fit in 5120 bytes, so 37 rows take five bands. Rows run
// upward in the host's buffer and the rectangle starts above the frame. A renderer limit below
// 8 rows (one byte) gives the same bands: a band never has fewer. Each band's first pass marks
// its middle group, which its second pass renders again.
TEST_F(GpuBands, FramesBeyondTheLimitGiveTheBytesOfOnePass) {
    const uint64_t limit = 40 * 16 * 8;
    d3d_standin::SetResourceSizeLimit(limit);
    for (const auto& [depth, rendererLimit] : {std::pair{0, limit}, std::pair{1, limit},
                                               std::pair{2, limit}, std::pair{1, uint64_t{1}}}) {
        SCOPED_TRACE("depth " + std::to_string(depth) + ", limit " + std::to_string(rendererLimit));
        TestFrame tooLarge(64, 48, 40, 37, depth);
        EXPECT_EQ(tooLarge.Outcome(), "GPU texture allocation failed") << "the limit holds";
        ReleaseRenderer();

        LowerRendererLimit(rendererLimit);
        d3d_standin::MarkGroupsInFirstPass({1});
        d3d_standin::ClearCallLog();
        TestFrame frame(64, 48, 40, 37, depth, -int64_t{40} * BytesPerPixel(depth) - 12);
        frame.buffer.request.originY = -3;
        frame.settings.frameNumber = 30.0f;
        EXPECT_EQ(frame.Outcome(), "");
        EXPECT_EQ(CountLines("CSSetShader fire "), 5);
        EXPECT_EQ(CountLines("CSSetShader fire-redo "), 5);
        EXPECT_EQ(CountLines("CreateTexture2D 40x5 "), 0) << "the last band uses part of one";
        ReleaseRenderer();
        LowerRendererLimit(0);
    }
}

// The conversion's edges: a single pixel, and widths that leave a thread group partly idle.
TEST_F(GpuBands, OnePixelAndOddWidthsConvertExactly) {
    for (int32_t depth : {0, 1}) {
        for (const auto& [width, height] : {std::pair{1, 1}, std::pair{65, 3}, std::pair{63, 1}}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            TestFrame frame(64, 48, width, height, depth);
            frame.buffer.request.originX = 1;
            frame.buffer.request.originY = 40;
            EXPECT_EQ(frame.Outcome(), "");
        }
    }
}

}  // namespace
}  // namespace pyrix
