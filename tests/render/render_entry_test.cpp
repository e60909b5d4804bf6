// Frames through EffectMain with the host simulator: the smart pair and the legacy render in every
// pixel layout against the CPU reference, placement of output rectangles and downsampled frames,
// the pre-render record (the failures are in render_failures_test.cpp).
#include "host/render_entry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "renderers/render_frame.h"
#include "tests/render/render_test_support.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {

namespace render_test {
namespace {

using d3d_standin::Call;
using test_support::CompareWithReference;
using test_support::HostBuffer;

struct DepthCase {
    A_short bitdepth;
    int32_t depth;
};

class SmartDepth : public RenderEntryTest, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(SmartDepth, FramesEqualTheReference) {
    const DepthCase c = GetParam();
    SmartRecords records(PF_LRect{10, 6, 47, 31}, c.bitdepth);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    HostBuffer buffer(37, 25, c.depth);
    PF_EffectWorld world = WorldOf(buffer, 10, 6, false);
    host.SetOutputWorld(&world);
    ASSERT_EQ(SmartRender(records), PF_Err_NONE);
    EXPECT_EQ(CompareWithReference(buffer, ExpectedParams(knobs, geometry, 37, 25, 10, 6)), "");
}

INSTANTIATE_TEST_SUITE_P(Depths, SmartDepth,
                         ::testing::Values(DepthCase{8, 0}, DepthCase{16, 1}, DepthCase{32, 2},
                                           DepthCase{24, 0}));

TEST_F(RenderEntryTest, LegacyFramesEqualTheReferenceInEightAndSixteenBits) {
    host.in_data()->output_origin_x = -9;  // the output starts at layer column 9
    host.in_data()->output_origin_y = -4;
    for (bool deep : {false, true}) {
        HostBuffer buffer(40, 30, deep ? 1 : 0);
        PF_EffectWorld world = WorldOf(buffer, 0, 0, deep);
        ASSERT_EQ(Legacy(&world), PF_Err_NONE);
        EXPECT_EQ(CompareWithReference(buffer, ExpectedParams(knobs, geometry, 40, 30, 9, 4)), "")
            << (deep ? "16 bits" : "8 bits");
    }
}

TEST_F(RenderEntryTest, LegacyOriginIsTheNegatedOutputOrigin) {
    host.in_data()->output_origin_x = 10;
    HostBuffer buffer(20, 10, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    ASSERT_EQ(Legacy(&world), PF_Err_NONE);
    // Columns left of the frame are transparent: the output starts at layer column -10.
    EXPECT_EQ(buffer.Pixel(9, 0)[0], 0);
    EXPECT_EQ(buffer.Pixel(10, 0)[0], 255);
    EXPECT_EQ(CompareWithReference(buffer, ExpectedParams(knobs, geometry, 20, 10, -10, 0)), "");
}

TEST_F(RenderEntryTest, AnOutputRectangleShowsItsPartOfTheWholeFrame) {
    SmartRecords whole(kEverything, 32);
    ASSERT_EQ(PreRender(whole), PF_Err_NONE);
    HostBuffer full(64, 48, 2);
    PF_EffectWorld fullWorld = WorldOf(full, 0, 0, false);
    host.SetOutputWorld(&fullWorld);
    ASSERT_EQ(SmartRender(whole), PF_Err_NONE);

    SmartRecords part(PF_LRect{20, 10, 50, 40}, 32);
    ASSERT_EQ(PreRender(part), PF_Err_NONE);
    HostBuffer piece(30, 30, 2);
    PF_EffectWorld pieceWorld = WorldOf(piece, 20, 10, false);
    host.SetOutputWorld(&pieceWorld);
    ASSERT_EQ(SmartRender(part), PF_Err_NONE);
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 30; ++x) {
            ASSERT_EQ(std::memcmp(piece.Pixel(x, y), full.Pixel(x + 20, y + 10), 16), 0)
                << x << ", " << y;
        }
    }
    EXPECT_FALSE(piece.Untouched());
}

TEST_F(RenderEntryTest, DownsampledFramesUseTheScaledExtent) {
    geometry.downsampleDen = 2;
    Configure();
    SmartRecords records(kEverything, 16);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    EXPECT_EQ(records.preOutput.max_result_rect.right, 32);
    EXPECT_EQ(records.preOutput.max_result_rect.bottom, 24);
    EXPECT_EQ(records.preOutput.result_rect.right, 32);
    HostBuffer buffer(32, 24, 1);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    host.SetOutputWorld(&world);
    ASSERT_EQ(SmartRender(records), PF_Err_NONE);
    EXPECT_EQ(CompareWithReference(buffer, ExpectedParams(knobs, geometry, 32, 24, 0, 0)), "");
}

TEST_F(RenderEntryTest, SmartRenderUsesTheLayerSizeOfItsPreRender) {
    host.SetLayerSize(48, 32);  // the checked-out layer differs from in_data's size
    SmartRecords records(kEverything, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    EXPECT_EQ(records.preOutput.max_result_rect.right, 48);
    host.in_data()->width = 5000;  // changed between the two calls: not used
    HostBuffer buffer(48, 32, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    host.SetOutputWorld(&world);
    ASSERT_EQ(SmartRender(records), PF_Err_NONE);
    Geometry layer = geometry;
    layer.layerWidth = 48;
    layer.layerHeight = 32;
    // Position was read against the checked-out size: 0.5 x 64 px over 48 px.
    Knobs read = knobs;
    read.positionX = float(0.5 * 64.0 / 48.0);
    read.positionY = float(0.75 * 48.0 / 32.0);
    EXPECT_EQ(CompareWithReference(buffer, ExpectedParams(read, layer, 48, 32, 0, 0)), "");
}

// ---- The pre-render record --------------------------------------------------------------------

struct RectCase {
    const char* name;
    A_long layerWidth;
    A_u_long downsampleDen;
    PF_LRect request;
    PF_LRect result;
    PF_LRect max;
};

class PreRenderRects : public RenderEntryTest, public ::testing::WithParamInterface<RectCase> {};

TEST_P(PreRenderRects, AnnounceTheClippedRequestAndTheExtent) {
    const RectCase& c = GetParam();
    host.in_data()->width = c.layerWidth;
    host.in_data()->height = 1080;
    host.in_data()->downsample_x = {1, c.downsampleDen};
    host.SetLayerSize(c.layerWidth, 1080);
    SmartRecords records(c.request, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    const PF_PreRenderOutput& out = records.preOutput;
    EXPECT_EQ(std::memcmp(&out.result_rect, &c.result, sizeof(PF_LRect)), 0)
        << out.result_rect.left << " " << out.result_rect.top << " " << out.result_rect.right << " "
        << out.result_rect.bottom;
    EXPECT_EQ(std::memcmp(&out.max_result_rect, &c.max, sizeof(PF_LRect)), 0)
        << out.max_result_rect.right << " " << out.max_result_rect.bottom;
    // The host works the frame out on its own; both must agree.
    const PF_LRect frame = host_sim::FrameRect(c.layerWidth, 1080, host.in_data()->downsample_x,
                                               host.in_data()->downsample_y);
    EXPECT_EQ(std::memcmp(&out.max_result_rect, &frame, sizeof(PF_LRect)), 0);
    EXPECT_EQ(out.solid, 1);
    EXPECT_EQ(out.flags, 0x1234) << "flags stay as the host set them";
    ASSERT_NE(out.pre_render_data, nullptr);
    EXPECT_NE(out.delete_pre_render_data_func, nullptr);
    EXPECT_TRUE(d3d_standin::CallLog().empty()) << "pre-render touches no GPU";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreRenderRects,
    ::testing::Values(
        RectCase{
            "clipped", 1920, 1, {-100, -50, 3000, 2000}, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
        RectCase{"inverted", 1920, 1, {2000, 0, 2100, 100}, {0, 0, 0, 0}, {0, 0, 1920, 1080}},
        RectCase{"empty", 1920, 1, {300, 200, 300, 400}, {300, 200, 300, 400}, {0, 0, 1920, 1080}},
        RectCase{"third", 1920, 3, {0, 0, 5000, 5000}, {0, 0, 640, 1080}, {0, 0, 640, 1080}},
        RectCase{
            "thirdRoundsUp", 1921, 3, {0, 0, 5000, 5000}, {0, 0, 641, 1080}, {0, 0, 641, 1080}}),
    [](const ::testing::TestParamInfo<RectCase>& param) { return param.param.name; });

TEST_F(RenderEntryTest, PreRenderChecksOutTheLayerWithoutPixels) {
    SmartRecords records(PF_LRect{1, 2, 3, 4}, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    const std::vector<host_sim::LayerCheckout> checkouts = host.LayerCheckouts();
    ASSERT_EQ(checkouts.size(), 1u);
    const host_sim::LayerCheckout& checkout = checkouts[0];
    EXPECT_EQ(checkout.index, 0);
    EXPECT_EQ(checkout.checkout_id, 0);
    EXPECT_EQ(checkout.request.rect.left, 0);
    EXPECT_EQ(checkout.request.rect.right, 0);
    EXPECT_EQ(checkout.request.rect.bottom, 0);
    EXPECT_EQ(checkout.request.channel_mask, PF_ChannelMask_ARGB);
    EXPECT_EQ(checkout.request.preserve_rgb_of_zero_alpha, 0);
    EXPECT_EQ(checkout.request.field, 3) << "copied from the host's request";
    EXPECT_EQ(checkout.what_time, knobs.currentTime);
}

TEST_F(RenderEntryTest, AnEmptyLayerCheckoutKeepsTheSizeFromInData) {
    for (const auto& size : {std::pair<A_long, A_long>{0, 0}, {1000, 0}, {0, 700}}) {
        host.SetLayerSize(size.first, size.second);
        SmartRecords records(kEverything, 8);
        ASSERT_EQ(PreRender(records), PF_Err_NONE);
        EXPECT_EQ(records.preOutput.max_result_rect.right, geometry.layerWidth);
        EXPECT_EQ(records.preOutput.max_result_rect.bottom, geometry.layerHeight);
    }
}

TEST_F(RenderEntryTest, TheDeleteFunctionFreesTheRecord) {
    // Under the address sanitizer a record not freed, or freed twice, fails the run.
    SmartRecords records(kEverything, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    ASSERT_NE(records.preOutput.pre_render_data, nullptr);
    records.preOutput.delete_pre_render_data_func(records.preOutput.pre_render_data);
    records.preOutput.pre_render_data = nullptr;
}

// ---- Records --------------------------------------------------------------------------------

TEST(MakeFrameContext, TakesTheLayerAndTheDownsampleFactors) {
    PF_InData in{};
    in.width = 1921;
    in.height = 1080;
    in.downsample_x = {1, 3};
    in.downsample_y = {-2, 0};  // no denominator: factor 1
    const FrameContext context = MakeFrameContext(&in);
    EXPECT_EQ(context.layerWidth, 1921);
    EXPECT_EQ(context.layerHeight, 1080);
    EXPECT_EQ(context.downsampleX, 1.0 / 3.0);
    EXPECT_EQ(context.downsampleY, 1.0);
    EXPECT_EQ(context.abortContext, &in);
    EXPECT_FALSE(context.isAborted(context.abortContext)) << "no abort callback: go on";
}

}  // namespace
}  // namespace render_test

}  // namespace pyrix
