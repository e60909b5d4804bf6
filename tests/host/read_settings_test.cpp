// The values of a frame read from the host: by checkout in the host's order or from the
// parameter array, their conversions, and every way the host can refuse.
#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/command_guard.h"
#include "host/entry_points.h"
#include "host/parameters.h"
#include "host_api/host_error.h"
#include "standins/host_simulator/simulator.h"

namespace pyrix {

namespace {

using host_sim::Callback;
using host_sim::FloatParam;
using host_sim::PointParam;
using host_sim::Simulator;

// ---- Reading the values of a frame ----------------------------------------------------------

class ReadSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.SetParam(kParamPosition, PointParam(960 << 16, 540 << 16));
        host.SetParam(kParamEmitterSize, FloatParam(250.5));
        host.SetParam(kParamDetail, FloatParam(2.25));
        host.SetParam(kParamSoftness, FloatParam(12.0));
        host.SetParam(kParamSpeed, FloatParam(-3.5));
        host.SetParam(kParamOffset, FloatParam(0.1));
        in()->current_time = 0;
        in()->time_step = 1;
        in()->local_time_step = 0;
    }
    PF_InData* in() { return host.in_data(); }
    EffectSettings Read(int32_t widthHint = 0, int32_t heightHint = 0) {
        return ReadEffectSettings(in(), nullptr, widthHint, heightHint);
    }

    Simulator host;
};

TEST_F(ReadSettingsTest, ReadsEveryValueByCheckoutInTheHostOrder) {
    in()->current_time = 40;
    in()->time_step = 2;
    in()->time_scale = 48;
    const EffectSettings s = Read();

    EXPECT_EQ(s.detail, 2.25f);
    EXPECT_EQ(s.speed, -3.5f);
    EXPECT_EQ(s.offset, 0.1f) << "double rounded to the nearest float";
    EXPECT_EQ(s.emitterSize, 250.5f);
    EXPECT_EQ(s.softness, 12.0f);
    EXPECT_EQ(s.positionX, 0.5f);
    EXPECT_EQ(s.positionY, 0.5f);
    EXPECT_EQ(s.frameNumber, 21.0f);
    EXPECT_EQ(s.layerWidth, 0) << "left to the render entry";
    EXPECT_EQ(s.layerHeight, 0);

    std::vector<PF_ParamIndex> order;
    for (const host_sim::ParamCheckout& c : host.ParamCheckouts()) {
        order.push_back(c.index);
        EXPECT_EQ(c.what_time, 40);
        EXPECT_EQ(c.time_step, 2);
        EXPECT_EQ(c.time_scale, 48u);
    }
    EXPECT_EQ(order, (std::vector<PF_ParamIndex>{4, 6, 7, 2, 3, 5}));

    // Each checkout is checked in before the next one.
    std::vector<std::string> expectedCalls;
    for (int index : {4, 6, 7, 2, 3, 5}) {
        expectedCalls.push_back("checkout_param(" + std::to_string(index) + ")");
        expectedCalls.push_back("checkin_param");
    }
    EXPECT_EQ(host.Calls(), expectedCalls);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.UnmatchedCheckins(), 0);
}

TEST_F(ReadSettingsTest, ValuesOutsideTheirRangePassUnchanged) {
    host.SetParam(kParamSpeed, FloatParam(3000000.0));
    host.SetParam(kParamSoftness, FloatParam(-50.0));
    const EffectSettings s = Read();
    EXPECT_EQ(s.speed, 3000000.0f);
    EXPECT_EQ(s.softness, -50.0f);
}

TEST_F(ReadSettingsTest, ValuesBeyondTheFloatRangeBecomeInfinities) {
    host.SetParam(kParamSpeed, FloatParam(1e300));
    host.SetParam(kParamOffset, FloatParam(-1e300));
    host.SetParam(kParamDetail, FloatParam(3.4028235e38));  // FLT_MAX itself stays finite
    host.SetParam(kParamSoftness, FloatParam(std::numeric_limits<double>::quiet_NaN()));
    const EffectSettings s = Read();
    EXPECT_EQ(s.speed, std::numeric_limits<float>::infinity());
    EXPECT_EQ(s.offset, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(s.detail, std::numeric_limits<float>::max());
    EXPECT_TRUE(std::isnan(s.softness));
}

TEST_F(ReadSettingsTest, TakesValuesFromTheParameterArrayWithoutCheckouts) {
    PF_ParamDef defs[8];
    for (PF_ParamDef& def : defs) std::memset(&def, 0, sizeof(def));
    defs[kParamPosition] = PointParam(-192 * 65536, 1080 * 65536);
    defs[kParamEmitterSize] = FloatParam(10.0);
    defs[kParamDetail] = FloatParam(4.0);
    defs[kParamSoftness] = FloatParam(1.0 / 3.0);
    defs[kParamSpeed] = FloatParam(3000000.0);
    defs[kParamOffset] = FloatParam(-2.0);
    PF_ParamDef* params[8];
    for (int i = 0; i < 8; ++i) params[i] = &defs[i];

    const EffectSettings s = ReadEffectSettings(in(), params, 0, 0);
    EXPECT_EQ(s.detail, 4.0f);
    EXPECT_EQ(s.speed, 3000000.0f);
    EXPECT_EQ(s.offset, -2.0f);
    EXPECT_EQ(s.emitterSize, 10.0f);
    EXPECT_EQ(s.softness, static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(s.positionX, -0.1f) << "no clamping";
    EXPECT_EQ(s.positionY, 1.0f);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(ReadSettingsTest, NullEntryInTheParameterArrayIsRefused) {
    PF_ParamDef defs[8];
    PF_ParamDef* params[8];
    for (int i = 0; i < 8; ++i) {
        defs[i] = FloatParam(1.0);
        params[i] = &defs[i];
    }
    params[kParamPosition] = nullptr;
    EXPECT_EQ(RunCommandGuarded(host.out_data(),
                                [&] {
                                    ReadEffectSettings(in(), params, 0, 0);
                                    return PF_Err_NONE;
                                }),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
}

// A checkout failing at any point raises its code, and everything read before is checked in.
class CheckoutFailureTest : public ReadSettingsTest,
                            public ::testing::WithParamInterface<PF_ParamIndex> {};

TEST_P(CheckoutFailureTest, RaisesTheCodeAndLeavesNothingCheckedOut) {
    const PF_ParamIndex failing = GetParam();
    host.FailCheckoutOf(failing, 600 + failing);
    try {
        Read();
        ADD_FAILURE() << "expected the checkout error to be raised";
    } catch (const HostError& code) {
        EXPECT_EQ(code.code(), 600 + failing);
    }
    const std::vector<PF_ParamIndex> order = {4, 6, 7, 2, 3, 5};
    size_t before = 0;
    while (order[before] != failing) ++before;
    EXPECT_EQ(host.ParamCheckouts().size(), before);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.UnmatchedCheckins(), 0);

    // The dispatcher hands the same code to the host, without a message.
    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    EXPECT_EQ(RunCommandGuarded(&out,
                                [&] {
                                    Read();
                                    return PF_Err_NONE;
                                }),
              600 + failing);
    EXPECT_EQ(out.return_msg[0], '\0');
}

INSTANTIATE_TEST_SUITE_P(EachIndex, CheckoutFailureTest, ::testing::Values(4, 6, 7, 2, 3, 5));

// A definition of another type than declared (checked out, or in the host's array) holds other
// data in its union: 512 and nothing read from it, the checkout still given back.
class WrongTypeTest : public ReadSettingsTest, public ::testing::WithParamInterface<PF_ParamIndex> {
  protected:
    PF_ParamDef WrongDef() const {
        return GetParam() == kParamPosition ? FloatParam(0.5) : PointParam(1 << 16, 1 << 16);
    }
    PF_Err Guarded(PF_ParamDef** params) {
        return RunCommandGuarded(host.out_data(), [&] {
            ReadEffectSettings(in(), params, 0, 0);
            return PF_Err_NONE;
        });
    }
};

TEST_P(WrongTypeTest, IsRefusedWith512) {
    host.SetParam(GetParam(), WrongDef());
    EXPECT_EQ(Guarded(nullptr), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.UnmatchedCheckins(), 0);

    PF_ParamDef defs[kParamCount];
    PF_ParamDef* params[kParamCount];
    for (int i = 0; i < kParamCount; ++i) {
        defs[i] = i == kParamPosition ? PointParam(0, 0) : FloatParam(1.0);
        params[i] = &defs[i];
    }
    defs[GetParam()] = WrongDef();
    EXPECT_EQ(Guarded(params), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.out_data()->return_msg[0], '\0');
}

INSTANTIATE_TEST_SUITE_P(EachIndex, WrongTypeTest, ::testing::Values(4, 6, 7, 2, 3, 5));

TEST_F(ReadSettingsTest, MissingCheckinRefusesToCheckOut) {
    host.SetMissing(Callback::kCheckinParam);
    try {
        Read();
        ADD_FAILURE() << "expected PF_Err_INVALID_CALLBACK";
    } catch (const HostError& code) {
        EXPECT_EQ(code.code(), PF_Err_INVALID_CALLBACK);
    }
    EXPECT_TRUE(host.ParamCheckouts().empty());
}

TEST_F(ReadSettingsTest, CheckinResultIsIgnored) {
    host.SetResult(Callback::kCheckinParam, 99);
    EXPECT_EQ(Read().detail, 2.25f);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
}

// Render threads read their settings at the same time; each read is whole and balanced.
TEST_F(ReadSettingsTest, ConcurrentReadsStayIndependent) {
    host.SetParamSource([](PF_ParamIndex index, A_long time) {
        return index == kParamPosition ? PointParam(960 << 16, 540 << 16)
                                       : FloatParam(index * 1000.0 + time);
    });
    constexpr int kThreads = 4;
    constexpr int kReads = 200;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            PF_InData in_data = *in();  // each render has its own in_data
            for (int i = 0; i < kReads; ++i) {
                in_data.current_time = t * kReads + i;
                const EffectSettings s = ReadEffectSettings(&in_data, nullptr, 0, 0);
                const float time = static_cast<float>(in_data.current_time);
                if (s.detail != 4000.0f + time || s.softness != 5000.0f + time ||
                    s.frameNumber != time + 1.0f || s.positionX != 0.5f) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(host.ParamCheckouts().size(), static_cast<size_t>(kThreads * kReads * 6));
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.UnmatchedCheckins(), 0);
}

struct FrameCase {
    A_long currentTime, localTimeStep, timeStep;
    float expected;
};

std::ostream& operator<<(std::ostream& os, const FrameCase& c) {
    return os << "time " << c.currentTime << ", local step " << c.localTimeStep << ", step "
              << c.timeStep;
}

class FrameNumberTest : public ReadSettingsTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameNumberTest, CountsFramesFromOne) {
    const FrameCase& c = GetParam();
    in()->current_time = c.currentTime;
    in()->local_time_step = c.localTimeStep;
    in()->time_step = c.timeStep;
    EXPECT_EQ(Read().frameNumber, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameNumberTest,
                         ::testing::Values(FrameCase{0, 0, 1, 1.0f},      // time 0 is frame 1
                                           FrameCase{125, 0, 25, 6.0f},   // 5 steps in
                                           FrameCase{100, 50, 25, 3.0f},  // local step first
                                           FrameCase{100, 0, 0, 1.0f},    // no step at all
                                           FrameCase{10, 4, 0, 3.5f},     // between frames
                                           FrameCase{-50, 0, 25, -1.0f}));

// Values whose conversions round: a host thread that rounds toward zero must get the same
// settings, its checkouts must run in its own mode, and it must get its mode back. The 1/5
// downsample of a 2048-pixel layer rounds the position's quotient differently in each mode (a
// 1/3 one happens not to).
TEST_F(ReadSettingsTest, TheHostsRoundingModeChangesNoValue) {
    struct Case {
        PF_RationalScale downsample;
        int32_t width, height;
        PF_Fixed x, y;
    } cases[] = {{{1, 3}, 1919, 1079, 641 << 16, 359 << 16},
                 {{1, 5}, 2048, 1152, 4473925, 7 << 16}};
    for (const Case& c : cases) {
        in()->current_time = 1;
        in()->time_step = 3;
        in()->downsample_x = c.downsample;
        int modeInCheckouts = FE_TONEAREST;
        host.SetParamSource([&](PF_ParamIndex index, A_long) {
            modeInCheckouts = std::fegetround();
            return index == kParamPosition ? PointParam(c.x, c.y)
                   : index == kParamDetail ? FloatParam(0.1)
                                           : FloatParam(1.0 / 3.0);
        });
        const EffectSettings expected = Read(c.width, c.height);
        const int callers = std::fegetround();
        std::fesetround(FE_TOWARDZERO);
        const EffectSettings towardZero = Read(c.width, c.height);
        const int after = std::fegetround();
        std::fesetround(callers);

        EXPECT_EQ(after, FE_TOWARDZERO);
        EXPECT_EQ(modeInCheckouts, FE_TOWARDZERO);
        for (const auto& [got, want] : {std::pair{towardZero.detail, expected.detail},
                                        {towardZero.emitterSize, expected.emitterSize},
                                        {towardZero.positionX, expected.positionX},
                                        {towardZero.positionY, expected.positionY},
                                        {towardZero.frameNumber, expected.frameNumber}}) {
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0)
                << std::hexfloat << got << " against " << want << " at width " << c.width;
        }
    }
}

struct PositionCase {
    const char* label;
    A_long width, height;
    PF_RationalScale dsx, dsy;
    int32_t widthHint, heightHint;
    PF_Fixed x, y;
    float expectedX, expectedY;
};

std::ostream& operator<<(std::ostream& os, const PositionCase& c) {
    return os << c.label;
}

class PositionTest : public ReadSettingsTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionTest, ConvertsToLayerFractions) {
    const PositionCase& c = GetParam();
    in()->width = c.width;
    in()->height = c.height;
    in()->downsample_x = c.dsx;
    in()->downsample_y = c.dsy;
    host.SetParam(kParamPosition, PointParam(c.x, c.y));
    const EffectSettings s = Read(c.widthHint, c.heightHint);
    EXPECT_FLOAT_EQ(s.positionX, c.expectedX);
    EXPECT_FLOAT_EQ(s.positionY, c.expectedY);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionTest,
    ::testing::Values(
        PositionCase{
            "half resolution", 1920, 1080, {1, 2}, {1, 2}, 0, 0, 480 << 16, 270 << 16, 0.5f, 0.5f},
        PositionCase{"zero denominator is factor 1",
                     1920,
                     1080,
                     {1, 0},
                     {7, 0},
                     0,
                     0,
                     960 << 16,
                     108 << 16,
                     0.5f,
                     0.1f},
        PositionCase{
            "hints win", 1920, 1080, {1, 1}, {1, 1}, 1000, 500, 250 << 16, 250 << 16, 0.25f, 0.5f},
        PositionCase{"zero hints use in_data",
                     1000,
                     500,
                     {1, 1},
                     {1, 1},
                     0,
                     0,
                     250 << 16,
                     250 << 16,
                     0.25f,
                     0.5f},
        PositionCase{"negative hints use in_data",
                     1000,
                     500,
                     {1, 1},
                     {1, 1},
                     -5,
                     -1,
                     250 << 16,
                     250 << 16,
                     0.25f,
                     0.5f},
        PositionCase{"fractional pixels and outside",
                     100,
                     100,
                     {1, 1},
                     {1, 1},
                     0,
                     0,
                     (150 << 16) + 0x8000,
                     -25 * 65536,
                     1.505f,
                     -0.25f}));

struct BadDimensionsCase {
    A_long width, height;
    PF_RationalScale dsx, dsy;
    int32_t widthHint, heightHint;
};

std::ostream& operator<<(std::ostream& os, const BadDimensionsCase& c) {
    return os << c.width << "x" << c.height << ", downsample " << c.dsx.num << "/" << c.dsx.den
              << " " << c.dsy.num << "/" << c.dsy.den << ", hints " << c.widthHint << " "
              << c.heightHint;
}

class BadDimensionsTest : public ReadSettingsTest,
                          public ::testing::WithParamInterface<BadDimensionsCase> {};

TEST_P(BadDimensionsTest, RaisesInvalidPointCoordinateDimensions) {
    const BadDimensionsCase& c = GetParam();
    in()->width = c.width;
    in()->height = c.height;
    in()->downsample_x = c.dsx;
    in()->downsample_y = c.dsy;
    try {
        Read(c.widthHint, c.heightHint);
        ADD_FAILURE() << "expected a runtime error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid point coordinate dimensions");
    }
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.ParamCheckouts().size(), 4u) << "fails after the position was read";

    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    EXPECT_EQ(RunCommandGuarded(&out,
                                [&] {
                                    Read(c.widthHint, c.heightHint);
                                    return PF_Err_NONE;
                                }),
              512);
    EXPECT_STREQ(out.return_msg, "Tazu Pyrix: Invalid point coordinate dimensions");
}

INSTANTIATE_TEST_SUITE_P(Cases, BadDimensionsTest,
                         ::testing::Values(BadDimensionsCase{1920, 1080, {0, 1}, {1, 1}, 0, 0},
                                           BadDimensionsCase{1920, 1080, {1, 1}, {-1, 2}, 0, 0},
                                           BadDimensionsCase{0, 1080, {1, 1}, {1, 1}, 0, 0},
                                           BadDimensionsCase{1920, 0, {1, 1}, {1, 1}, 0, 0},
                                           BadDimensionsCase{-1920, 1080, {1, 1}, {1, 1}, -1, 0},
                                           BadDimensionsCase{1920, -5, {1, 1}, {1, 1}, 0, 0}));

}  // namespace

}  // namespace pyrix
