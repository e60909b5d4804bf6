#include <gtest/gtest.h>

#include "renderers/frame_params.h"
#include "renderers/render_frame.h"

namespace pyrix {

namespace {

ParamsBlock Make(const EffectSettings& settings) {
    RenderRequest request;
    request.width = 40;
    request.height = 30;
    request.originX = -7;
    request.originY = 12;
    return MakeParamsBlock(request, settings, FrameExtent{961, 540});
}

TEST(ParamsBlock, GeometryIsCopiedAndTheFullFrameConverted) {
    const ParamsBlock p = Make(EffectSettings{});
    EXPECT_EQ(p.width, 40u);
    EXPECT_EQ(p.height, 30u);
    EXPECT_EQ(p.originX, -7);
    EXPECT_EQ(p.originY, 12);
    EXPECT_EQ(p.fullWidth, 961.0f);
    EXPECT_EQ(p.fullHeight, 540.0f);
}

TEST(ParamsBlock, DefaultsGiveTheNaturalFire) {
    const ParamsBlock p = Make(EffectSettings{});
    EXPECT_EQ(p.detail, 1.0f);
    EXPECT_EQ(p.time, 0.03f);  // frame 1, speed 1, offset 0
    EXPECT_EQ(p.shiftX, 0.0f);
    EXPECT_EQ(p.shiftY, 0.7f - 0.91f);
    EXPECT_EQ(p.emitterSize, 1.0f);
    EXPECT_EQ(p.softness, 0.0f);
}

struct ClampCase {
    const char* name;
    float EffectSettings::*field;
    float value;
    float ParamsBlock::*result;
    float expected;
};

class ParamsClamp : public ::testing::TestWithParam<ClampCase> {};

TEST_P(ParamsClamp, OutOfRangeValuesAreClamped) {
    const ClampCase c = GetParam();
    EffectSettings settings;
    settings.*c.field = c.value;
    EXPECT_EQ(Make(settings).*c.result, c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ParamsClamp,
    ::testing::Values(
        ClampCase{"detail low", &EffectSettings::detail, -1.0f, &ParamsBlock::detail, 0.0f},
        ClampCase{"detail high", &EffectSettings::detail, 7.0f, &ParamsBlock::detail, 5.0f},
        ClampCase{"emitter high", &EffectSettings::emitterSize, 2000.0f, &ParamsBlock::emitterSize,
                  10.0f},
        ClampCase{"emitter low", &EffectSettings::emitterSize, -5.0f, &ParamsBlock::emitterSize,
                  0.0f},
        ClampCase{"emitter half", &EffectSettings::emitterSize, 50.0f, &ParamsBlock::emitterSize,
                  0.5f},
        ClampCase{"softness high", &EffectSettings::softness, 150.0f, &ParamsBlock::softness, 1.0f},
        ClampCase{"softness low", &EffectSettings::softness, -3.0f, &ParamsBlock::softness, 0.0f},
        ClampCase{"softness 30", &EffectSettings::softness, 30.0f, &ParamsBlock::softness,
                  30.0f / 100.0f},
        ClampCase{"speed high", &EffectSettings::speed, 1e7f, &ParamsBlock::time,
                  1.0f * 0.03f * 1e6f},
        ClampCase{"speed low", &EffectSettings::speed, -1e9f, &ParamsBlock::time,
                  1.0f * 0.03f * -1e6f},
        ClampCase{"offset high", &EffectSettings::offset, 5e6f, &ParamsBlock::time, 0.03f + 1e6f},
        ClampCase{"position x", &EffectSettings::positionX, 1.25f, &ParamsBlock::shiftX,
                  1.25f - 0.5f},
        ClampCase{"position y", &EffectSettings::positionY, -0.5f, &ParamsBlock::shiftY,
                  -0.5f - 0.91f}),
    [](const ::testing::TestParamInfo<ClampCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name) {
            if (ch == ' ') ch = '_';
        }
        return name;
    });

TEST(ParamsBlock, TimeIsComputedLeftToRightInSinglePrecision) {
    EffectSettings settings;
    settings.frameNumber = 7.0f;
    settings.speed = 1.7f;
    settings.offset = -2.25f;
    const float expected = ((7.0f * 0.03f) * 1.7f) + -2.25f;
    EXPECT_EQ(Make(settings).time, expected);
}

}  // namespace

}  // namespace pyrix
