// RenderFrame's validation: everything it refuses is refused before a device exists.
#include "renderers/render_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/renderers/reference_frame.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {

namespace {

using test_support::AbortScript;
using test_support::ErrorOf;
using test_support::HostBuffer;

constexpr char kDimensions[] = "Unsupported frame dimensions (maximum 16384)";
constexpr char kEffectParameter[] = "Non-finite effect parameter";
constexpr char kPositionParameter[] = "Non-finite position/emitter parameter";
constexpr char kStride[] = "Invalid output stride";

FrameContext Layer(int32_t width, int32_t height, double downsampleX = 1.0,
                   double downsampleY = 1.0) {
    FrameContext context;
    context.layerWidth = width;
    context.layerHeight = height;
    context.downsampleX = downsampleX;
    context.downsampleY = downsampleY;
    return context;
}

class RenderFrameValidation : public test_support::StandInTest {
  protected:
    // Runs the frame and checks that it created nothing and wrote nothing.
    std::string Refusal(const HostBuffer& buffer, const EffectSettings& settings,
                        const FrameContext& context) {
        const std::string error = ErrorOf([&] { RenderFrame(buffer.request, settings, context); });
        EXPECT_TRUE(buffer.Untouched());
        EXPECT_TRUE(d3d_standin::CallLog().empty()) << "validation touched Direct3D";
        EXPECT_EQ(d3d_standin::LiveObjects(), 0);
        return error;
    }
};

TEST_F(RenderFrameValidation, NothingToRenderReturnsTrueWithoutADevice) {
    HostBuffer buffer(4, 4, 0);
    RenderRequest noPixels = buffer.request;
    noPixels.pixels = nullptr;
    RenderRequest noWidth = buffer.request;
    noWidth.width = 0;
    RenderRequest negativeHeight = buffer.request;
    negativeHeight.height = -3;
    const RenderRequest allZero;
    // Even a broken context does not matter when there is nothing to render.
    const FrameContext broken = Layer(0, 0);
    for (const RenderRequest& request : {noPixels, noWidth, negativeHeight, allZero}) {
        EXPECT_TRUE(RenderFrame(request, EffectSettings{}, broken));
    }
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_TRUE(d3d_standin::CallLog().empty());
}

struct DimensionCase {
    const char* name;
    int32_t width, height;
    FrameContext context;
};

class Dimensions : public RenderFrameValidation,
                   public ::testing::WithParamInterface<DimensionCase> {};

TEST_P(Dimensions, AreRefused) {
    const DimensionCase& c = GetParam();
    HostBuffer buffer(c.width, c.height, 0);
    EXPECT_EQ(Refusal(buffer, EffectSettings{}, c.context), kDimensions);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, Dimensions,
    ::testing::Values(DimensionCase{"layerWidthZero", 4, 4, Layer(0, 100)},
                      DimensionCase{"layerHeightZero", 4, 4, Layer(100, 0)},
                      DimensionCase{"fullWidth16385", 4, 4, Layer(16385, 100)},
                      DimensionCase{"fullHeight16385", 4, 4, Layer(100, 16385)},
                      DimensionCase{"scaledBeyond16384", 4, 4, Layer(10000, 100, 2.0)},
                      DimensionCase{"scaledBeyondInt32", 4, 4, Layer(100000, 100, 1e6)},
                      DimensionCase{"negativeFactor", 4, 4, Layer(100, 100, -0.5)},
                      DimensionCase{"nanFactor", 4, 4, Layer(100, 100, 1.0, kNaN)},
                      DimensionCase{"width16385", 16385, 1, Layer(16384, 16384)},
                      DimensionCase{"height16385", 1, 16385, Layer(16384, 16384)}),
    [](const ::testing::TestParamInfo<DimensionCase>& param) { return param.param.name; });

TEST_F(RenderFrameValidation, AbortIsAskedAfterTheDimensionsAndBeforeTheParameters) {
    AbortScript stop([](int) { return true; });
    EffectSettings nanSpeed;
    nanSpeed.speed = std::nanf("");
    FrameContext context = Layer(64, 64);
    context.isAborted = AbortScript::Ask;
    context.abortContext = &stop;
    HostBuffer buffer(8, 8, 0, 4);  // stride too small as well
    EXPECT_FALSE(RenderFrame(buffer.request, nanSpeed, context));
    EXPECT_EQ(stop.calls, 1);

    FrameContext badSize = Layer(0, 64);
    badSize.isAborted = AbortScript::Ask;
    badSize.abortContext = &stop;
    EXPECT_EQ(Refusal(buffer, nanSpeed, badSize), kDimensions);
    EXPECT_EQ(stop.calls, 1) << "no abort test before the dimension check";
}

struct FieldCase {
    const char* name;
    float EffectSettings::*field;
    const char* message;
};

class NonFinite : public RenderFrameValidation,
                  public ::testing::WithParamInterface<std::tuple<FieldCase, float>> {};

TEST_P(NonFinite, EachFieldIsReportedWithItsGroupsMessage) {
    const auto& [field, value] = GetParam();
    EffectSettings settings;
    settings.*field.field = value;
    HostBuffer buffer(8, 8, 1);
    EXPECT_EQ(Refusal(buffer, settings, Layer(64, 64)), field.message);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NonFinite,
    ::testing::Combine(
        ::testing::Values(FieldCase{"detail", &EffectSettings::detail, kEffectParameter},
                          FieldCase{"speed", &EffectSettings::speed, kEffectParameter},
                          FieldCase{"offset", &EffectSettings::offset, kEffectParameter},
                          FieldCase{"frameNumber", &EffectSettings::frameNumber, kEffectParameter},
                          FieldCase{"positionX", &EffectSettings::positionX, kPositionParameter},
                          FieldCase{"positionY", &EffectSettings::positionY, kPositionParameter},
                          FieldCase{"emitterSize", &EffectSettings::emitterSize,
                                    kPositionParameter},
                          FieldCase{"softness", &EffectSettings::softness, kPositionParameter}),
        ::testing::Values(std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity())),
    [](const ::testing::TestParamInfo<std::tuple<FieldCase, float>>& param) {
        const float value = std::get<1>(param.param);
        return std::string(std::get<0>(param.param).name) + (std::isnan(value) ? "_nan"
                                                             : value > 0       ? "_inf"
                                                                               : "_minus_inf");
    });

TEST_F(RenderFrameValidation, TheFirstFaultInCheckOrderIsReported) {
    EffectSettings settings;
    settings.softness = std::nanf("");
    settings.offset = std::numeric_limits<float>::infinity();
    HostBuffer buffer(8, 8, 0, 3);
    EXPECT_EQ(Refusal(buffer, settings, Layer(64, 64)), kEffectParameter);
    settings.offset = 0.0f;
    EXPECT_EQ(Refusal(buffer, settings, Layer(64, 64)), kPositionParameter);
    EXPECT_EQ(Refusal(buffer, settings, Layer(0, 64)), kDimensions);
}

struct StrideCase {
    int32_t depth;
    int64_t rowBytes;
    bool accepted;
};

class Stride : public RenderFrameValidation, public ::testing::WithParamInterface<StrideCase> {};

TEST_P(Stride, MustHoldARowWhateverItsSign) {
    const StrideCase c = GetParam();
    HostBuffer buffer(100, 2, c.depth, c.accepted ? c.rowBytes : 1600);
    buffer.request.rowBytes = c.rowBytes;
    if (!c.accepted) {
        EXPECT_EQ(Refusal(buffer, EffectSettings{}, Layer(100, 2)), kStride);
        return;
    }
    EXPECT_TRUE(RenderFrame(buffer.request, EffectSettings{}, Layer(100, 2)));
    EXPECT_FALSE(buffer.Untouched());
}

INSTANTIATE_TEST_SUITE_P(Cases, Stride,
                         ::testing::Values(StrideCase{1, 800, true}, StrideCase{1, -800, true},
                                           StrideCase{1, 799, false}, StrideCase{1, -799, false},
                                           StrideCase{0, 400, true}, StrideCase{0, 399, false},
                                           StrideCase{2, 1600, true}, StrideCase{2, 1599, false},
                                           StrideCase{1, 0, false},
                                           StrideCase{1, std::numeric_limits<int64_t>::min(),
                                                      false},
                                           StrideCase{1, int64_t(1) << 50, false},
                                           StrideCase{1, -(int64_t(1) << 50), false}));

TEST_F(RenderFrameValidation, TheLargestSizesAreAccepted) {
    HostBuffer wide(16384, 1, 0);
    EXPECT_TRUE(RenderFrame(wide.request, EffectSettings{}, Layer(16384, 16384)));
    EXPECT_FALSE(wide.Untouched());
    HostBuffer tall(1, 16384, 0);
    EXPECT_TRUE(RenderFrame(tall.request, EffectSettings{}, Layer(16384, 16384)));
    EXPECT_FALSE(tall.Untouched());
}

}  // namespace

}  // namespace pyrix
