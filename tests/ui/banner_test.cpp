// The banner through the host simulator's drawing suites: which events draw, the scale and origin,
// the image handed over, and that every way out gives back what was taken, in reverse order.
#include "ui/banner.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "host/entry_points.h"
#include "host_api/host_error.h"
#include "resources/banner_image.h"
#include "standins/host_simulator/drawbot.h"
#include "standins/host_simulator/host_tables.h"
#include "standins/host_simulator/simulator.h"

namespace pyrix {

namespace {

// Test names from the cases' own names.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& test) const {
        return test.param.name;
    }
};

using host_sim::Drawbot;
using host_sim::DrawCall;
using host_sim::Simulator;

const std::string kCustomUi = "PF Effect Custom UI Suite, 2";
const std::string kDraw = "DRAWBOT Draw Suite, 1";
const std::string kSupplier = "DRAWBOT Supplier Suite, 1";
const std::string kSurface = "DRAWBOT Surface Suite, 2";

std::string Acquire(const std::string& suite) {
    return "AcquireSuite(" + suite + ")";
}
std::string Release(const std::string& suite) {
    return "ReleaseSuite(" + suite + ")";
}

class BannerTest : public ::testing::Test {
  protected:
    BannerTest() { host.ClearRecords(); }

    PF_EventExtra DrawEvent(A_long left, A_long top, A_long right, A_long bottom) {
        PF_EventExtra extra = {};
        host_abi::FillUnserved(extra.cbs);  // none of them is for drawing the banner
        extra.contextH = drawbot.context();
        extra.e_type = PF_Event_DRAW;
        extra.effect_win.index = 1;
        extra.effect_win.area = PF_EA_CONTROL;
        extra.effect_win.current_frame = {left, top, right, bottom};
        extra.evt_out_flags = 0x100;  // a bit of the host's own, to be kept
        return extra;
    }

    // HandleEvent's thrown host error, or its result when it returns.
    PF_Err Handle(PF_EventExtra& extra) {
        try {
            return HandleEvent(host.in_data(), &extra);
        } catch (const HostError& err) {
            return err.code();
        }
    }

    void ExpectEverythingGivenBack() {
        EXPECT_EQ(host.UnbalancedSuites(), std::vector<std::string>{});
        EXPECT_EQ(drawbot.StateDepth(), 0);
        EXPECT_EQ(drawbot.LiveImages(), 0);
        EXPECT_EQ(drawbot.Misuses(), std::vector<std::string>{});
    }

    Simulator host;
    Drawbot drawbot{host};
};

TEST_F(BannerTest, DrawsThroughTheSuitesAndUndoesInReverseOrder) {
    PF_EventExtra extra = DrawEvent(10, 20, 250, 80);
    EXPECT_EQ(Handle(extra), PF_Err_NONE);

    EXPECT_EQ(host.Calls(),
              (std::vector<std::string>{
                  Acquire(kCustomUi), "PF_GetDrawingReference", Acquire(kDraw), Acquire(kSupplier),
                  Acquire(kSurface), "GetSupplier", "GetSurface", "NewImageFromBuffer",
                  "PushStateStack", "Transform", "DrawImage", "PopStateStack", "ReleaseObject",
                  Release(kSurface), Release(kSupplier), Release(kDraw), Release(kCustomUi)}));
    EXPECT_EQ(extra.evt_out_flags, 0x100 | PF_EO_HANDLED_EVENT | PF_EO_NEVER_UPDATE);

    ASSERT_EQ(drawbot.Images().size(), 1u);
    const host_sim::ImageRecord image = drawbot.Images()[0];
    EXPECT_EQ(image.width, 960);
    EXPECT_EQ(image.height, 240);
    EXPECT_EQ(image.rowBytes, 3840);
    EXPECT_EQ(image.layout, kDRAWBOT_PixelLayout_32BGRA_Straight);
    EXPECT_EQ(image.pixels, static_cast<const void*>(kBannerImage));

    ASSERT_EQ(drawbot.Transforms().size(), 1u);
    const DRAWBOT_MatrixF32 m = drawbot.Transforms()[0];
    const float expected[3][3] = {{0.25f, 0.0f, 0.0f}, {0.0f, 0.25f, 0.0f}, {0.0f, 0.0f, 1.0f}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) EXPECT_EQ(m.mat[row][col], expected[row][col]);
    }

    ASSERT_EQ(drawbot.Draws().size(), 1u);
    const host_sim::DrawRecord draw = drawbot.Draws()[0];
    EXPECT_TRUE(draw.knownImage);
    EXPECT_EQ(draw.stateDepth, 1) << "drawn inside the pushed state";
    EXPECT_EQ(draw.opacity, 1.0f);
    EXPECT_EQ(draw.origin.x, 40.0f);
    EXPECT_EQ(draw.origin.y, 80.0f);
    ExpectEverythingGivenBack();
}

struct AreaCase {
    const char* name;
    PF_Rect area;
    float scale;
    float drawnWidth;   // 960 * scale, in area pixels
    float drawnHeight;  // 240 * scale
    float drawnTop;     // where the image's top lands, in area pixels
};

class BannerAreaTest : public BannerTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(BannerAreaTest, ScalesDownLeftAlignedAndCentredVertically) {
    const AreaCase& c = GetParam();
    PF_EventExtra extra = DrawEvent(c.area.left, c.area.top, c.area.right, c.area.bottom);
    ASSERT_EQ(Handle(extra), PF_Err_NONE);
    ASSERT_EQ(drawbot.Transforms().size(), 1u);
    ASSERT_EQ(drawbot.Draws().size(), 1u);
    const float s = drawbot.Transforms()[0].mat[0][0];
    EXPECT_FLOAT_EQ(s, c.scale);
    EXPECT_EQ(drawbot.Transforms()[0].mat[1][1], s);
    EXPECT_FLOAT_EQ(960.0f * s, c.drawnWidth);
    EXPECT_FLOAT_EQ(240.0f * s, c.drawnHeight);
    // The origin is given in the scaled system: back in area pixels it is the image's corner.
    const DRAWBOT_PointF32 origin = drawbot.Draws()[0].origin;
    EXPECT_NEAR(origin.x * s, static_cast<float>(c.area.left), 1e-3f);
    EXPECT_NEAR(origin.y * s, c.drawnTop, 1e-3f);
    ExpectEverythingGivenBack();
}

INSTANTIATE_TEST_SUITE_P(
    Areas, BannerAreaTest,
    ::testing::Values(AreaCase{"FullArea", {0, 0, 240, 60}, 0.25f, 240.0f, 60.0f, 0.0f},
                      AreaCase{"LargerAreaIsClamped", {5, 7, 485, 127}, 0.25f, 240.0f, 60.0f, 7.0f},
                      AreaCase{"HalfHeight", {3, 11, 243, 41}, 0.125f, 120.0f, 30.0f, 11.0f},
                      AreaCase{
                          "Narrow", {0, 100, 100, 160}, 100.0f / 960.0f, 100.0f, 25.0f, 117.5f},
                      AreaCase{"NegativeOrigin", {-40, -10, 200, 50}, 0.25f, 240.0f, 60.0f, -10.0f},
                      // A hostile rectangle spanning the whole 32-bit range is just a large area.
                      AreaCase{"ExtremeCoordinates",
                               {0, INT_MIN, INT_MAX, INT_MAX},
                               0.25f,
                               240.0f,
                               60.0f,
                               static_cast<float>(INT_MIN)}),
    CaseName());

struct IgnoredCase {
    const char* name;
    PF_EventType type;
    PF_ParamIndex index;
    PF_EffectArea area;
    PF_Rect frame;
};

class BannerIgnoredTest : public BannerTest, public ::testing::WithParamInterface<IgnoredCase> {};

TEST_P(BannerIgnoredTest, ReturnsWithoutTouchingTheHost) {
    const IgnoredCase& c = GetParam();
    PF_EventExtra extra = DrawEvent(c.frame.left, c.frame.top, c.frame.right, c.frame.bottom);
    extra.e_type = c.type;
    extra.effect_win.index = c.index;
    extra.effect_win.area = c.area;
    EXPECT_EQ(Handle(extra), PF_Err_NONE);
    EXPECT_EQ(extra.evt_out_flags, 0x100);
    EXPECT_EQ(host.Calls(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Events, BannerIgnoredTest,
    ::testing::Values(
        IgnoredCase{"NewContext", PF_Event_NEW_CONTEXT, 1, PF_EA_CONTROL, {0, 0, 240, 60}},
        IgnoredCase{"Click", PF_Event_DO_CLICK, 1, PF_EA_CONTROL, {0, 0, 240, 60}},
        IgnoredCase{"Drag", PF_Event_DRAG, 1, PF_EA_CONTROL, {0, 0, 240, 60}},
        IgnoredCase{"OtherParameter", PF_Event_DRAW, 2, PF_EA_CONTROL, {0, 0, 240, 60}},
        IgnoredCase{"InputLayer", PF_Event_DRAW, 0, PF_EA_CONTROL, {0, 0, 240, 60}},
        IgnoredCase{"TitleArea", PF_Event_DRAW, 1, PF_EA_PARAM_TITLE, {0, 0, 240, 60}},
        IgnoredCase{"ZeroWidth", PF_Event_DRAW, 1, PF_EA_CONTROL, {50, 0, 50, 60}},
        IgnoredCase{"ZeroHeight", PF_Event_DRAW, 1, PF_EA_CONTROL, {0, 30, 240, 30}},
        IgnoredCase{"NegativeWidth", PF_Event_DRAW, 1, PF_EA_CONTROL, {240, 0, 0, 60}},
        IgnoredCase{"NegativeHeight", PF_Event_DRAW, 1, PF_EA_CONTROL, {0, 60, 240, 0}}),
    CaseName());

TEST_F(BannerTest, NullExtraIsIgnored) {
    EXPECT_EQ(HandleEvent(host.in_data(), nullptr), PF_Err_NONE);
    EXPECT_EQ(host.Calls(), std::vector<std::string>{});
}

TEST_F(BannerTest, NullDrawingReferenceDrawsNothing) {
    drawbot.SetNullResult(DrawCall::kGetDrawingReference);
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(Handle(extra), PF_Err_NONE);
    EXPECT_EQ(extra.evt_out_flags, 0x100);
    EXPECT_EQ(host.Calls(), (std::vector<std::string>{Acquire(kCustomUi), "PF_GetDrawingReference",
                                                      Release(kCustomUi)}));
}

TEST_F(BannerTest, IgnoresTheResultsOfPopAndRelease) {
    drawbot.SetResult(DrawCall::kPopStateStack, PF_Err_INTERNAL_STRUCT_DAMAGED);
    drawbot.SetResult(DrawCall::kReleaseObject, PF_Err_INTERNAL_STRUCT_DAMAGED);
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(Handle(extra), PF_Err_NONE);
    EXPECT_EQ(extra.evt_out_flags, 0x100 | PF_EO_HANDLED_EVENT | PF_EO_NEVER_UPDATE);
    ExpectEverythingGivenBack();
}

// A suite that cannot be had: 515, and whatever was acquired before it is released.
class BannerMissingSuiteTest : public BannerTest,
                               public ::testing::WithParamInterface<std::string> {};

TEST_P(BannerMissingSuiteTest, ThrowsInvalidCallbackAndReleasesTheOthers) {
    const std::string label = GetParam();
    const std::string name = label.substr(0, label.find(','));
    const int32_t version = std::stoi(label.substr(label.find(',') + 1));
    host.RemoveSuite(name, version);
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(Handle(extra), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(extra.evt_out_flags, 0x100);
    EXPECT_TRUE(drawbot.Draws().empty());
    ExpectEverythingGivenBack();
    const std::vector<std::string> calls = host.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), label == kCustomUi ? Acquire(kCustomUi) : Release(kCustomUi));
}

INSTANTIATE_TEST_SUITE_P(Suites, BannerMissingSuiteTest,
                         ::testing::Values(kCustomUi, kDraw, kSupplier, kSurface));

// A table with an empty slot that the drawing needs counts as missing: 515 before anything is
// drawn or created, and every suite is given back.
class BannerMissingSlotTest : public BannerTest, public ::testing::WithParamInterface<DrawCall> {};

TEST_P(BannerMissingSlotTest, ThrowsInvalidCallbackAndReleasesEverything) {
    drawbot.SetMissing(GetParam());
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(Handle(extra), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(extra.evt_out_flags, 0x100);
    EXPECT_TRUE(drawbot.Images().empty());
    EXPECT_TRUE(drawbot.Draws().empty());
    ExpectEverythingGivenBack();
}

INSTANTIATE_TEST_SUITE_P(Slots, BannerMissingSlotTest,
                         ::testing::Values(DrawCall::kGetDrawingReference, DrawCall::kGetSupplier,
                                           DrawCall::kGetSurface, DrawCall::kNewImageFromBuffer,
                                           DrawCall::kReleaseObject, DrawCall::kPushStateStack,
                                           DrawCall::kPopStateStack, DrawCall::kTransform,
                                           DrawCall::kDrawImage));

TEST_F(BannerTest, WithoutBasicSuiteThrowsInvalidCallback) {
    host.SetBasicSuiteMissing();
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(Handle(extra), PF_Err_INVALID_CALLBACK);
    PF_EventExtra again = DrawEvent(0, 0, 240, 60);
    try {
        HandleEvent(nullptr, &again);
        ADD_FAILURE() << "no in_data must not draw";
    } catch (const HostError& err) {
        EXPECT_EQ(err.code(), PF_Err_INVALID_CALLBACK);
    }
}

struct FailureCase {
    const char* name;
    DrawCall call;
    bool nullResult;  // the call succeeds but hands out nothing
    // What is undone after the failure, in order.
    std::vector<std::string> undo;
};

class BannerFailureTest : public BannerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BannerFailureTest, ThrowsInternalStructDamagedAndUndoesInReverse) {
    const FailureCase& c = GetParam();
    if (c.nullResult) {
        drawbot.SetNullResult(c.call);
    } else {
        drawbot.SetResult(c.call, 7);
    }
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(Handle(extra), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(extra.evt_out_flags, 0x100);
    ExpectEverythingGivenBack();

    const std::vector<std::string> calls = host.Calls();
    ASSERT_GE(calls.size(), c.undo.size());
    const std::vector<std::string> tail(calls.end() - static_cast<std::ptrdiff_t>(c.undo.size()),
                                        calls.end());
    EXPECT_EQ(tail, c.undo);
}

const std::vector<std::string> kAllSuitesBack = {Release(kSurface), Release(kSupplier),
                                                 Release(kDraw), Release(kCustomUi)};

std::vector<std::string> Then(std::vector<std::string> first,
                              const std::vector<std::string>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, BannerFailureTest,
    ::testing::Values(
        FailureCase{"DrawingReference",
                    DrawCall::kGetDrawingReference,
                    false,
                    {"PF_GetDrawingReference", Release(kCustomUi)}},
        FailureCase{"Supplier", DrawCall::kGetSupplier, false,
                    Then({"GetSupplier"}, kAllSuitesBack)},
        FailureCase{"Surface", DrawCall::kGetSurface, false, Then({"GetSurface"}, kAllSuitesBack)},
        FailureCase{"NewImage", DrawCall::kNewImageFromBuffer, false,
                    Then({"NewImageFromBuffer"}, kAllSuitesBack)},
        FailureCase{"Push", DrawCall::kPushStateStack, false,
                    Then({"PushStateStack", "ReleaseObject"}, kAllSuitesBack)},
        FailureCase{"Transform", DrawCall::kTransform, false,
                    Then({"Transform", "PopStateStack", "ReleaseObject"}, kAllSuitesBack)},
        FailureCase{"DrawImage", DrawCall::kDrawImage, false,
                    Then({"DrawImage", "PopStateStack", "ReleaseObject"}, kAllSuitesBack)},
        FailureCase{"NullSupplier", DrawCall::kGetSupplier, true,
                    Then({"GetSurface"}, kAllSuitesBack)},
        FailureCase{"NullSurface", DrawCall::kGetSurface, true,
                    Then({"GetSurface"}, kAllSuitesBack)},
        FailureCase{"NullImage", DrawCall::kNewImageFromBuffer, true,
                    Then({"NewImageFromBuffer"}, kAllSuitesBack)}),
    CaseName());

// Through the entry point: the event command is the banner, and its errors are the result.
TEST_F(BannerTest, EventCommandDrawsAndReturnsRaisedCodes) {
    PF_EventExtra extra = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(EffectMain(PF_Cmd_EVENT, host.in_data(), host.out_data(), nullptr, nullptr, &extra),
              PF_Err_NONE);
    EXPECT_EQ(drawbot.Draws().size(), 1u);
    EXPECT_EQ(extra.evt_out_flags, 0x100 | PF_EO_HANDLED_EVENT | PF_EO_NEVER_UPDATE);

    host.RemoveSuite("DRAWBOT Surface Suite", 2);
    PF_EventExtra failing = DrawEvent(0, 0, 240, 60);
    EXPECT_EQ(EffectMain(PF_Cmd_EVENT, host.in_data(), host.out_data(), nullptr, nullptr, &failing),
              PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.out_data()->return_msg[0], '\0') << "a host error carries no message";
    ExpectEverythingGivenBack();
}

}  // namespace

}  // namespace pyrix
