// The CPU kernels: the anchor search and the fire dispatch with its frame mapping.
#include "kernels/cpu_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/exact_math.h"
#include "kernels/fire_field.h"
#include "kernels/float_bits.h"
#include "tests/kernels/first_pass_frame.h"

namespace pyrix {

namespace {

ParamsBlock FieldParams(float detail, float time, float emitterSize, float softness) {
    ParamsBlock params{};
    params.detail = detail;
    params.time = time;
    params.emitterSize = emitterSize;
    params.softness = softness;
    return params;
}

ParamsBlock FrameParams(uint32_t width, uint32_t height, int32_t originX, int32_t originY,
                        float fullWidth, float fullHeight) {
    ParamsBlock params = FieldParams(1.5f, 0.25f, 1.0f, 0.2f);
    params.width = width;
    params.height = height;
    params.originX = originX;
    params.originY = originY;
    params.fullWidth = fullWidth;
    params.fullHeight = fullHeight;
    return params;
}

float Red(const ParamsBlock& params, float y) {
    return fireSample(MakeFireFieldParams(params), 0.0f, y).red;
}

// ----------------------------------------------------------------------------- anchor kernel

// AnchorKernel's parallel schedule (anchor_kernel.hlsl), step for step: the scan's 32 samples
// at once, then the bisection in rounds of 5, 5 and 4 levels, each round evaluating every node
// of its tree and walking the decisions. It must land where the serial search does, to the bit.
float ScanSample(uint32_t sample) {
    return static_cast<float>(sample) * 0.0078125f + -0.25f;
}

float NodeMidpoint(uint32_t node, float lo, float hi) {
    const uint32_t path = node + 1;
    for (int level = 30 - __builtin_clz(path); level >= 0; --level) {
        const float mid = 0.5f * (lo + hi);
        ((path >> level) & 1u) == 0 ? hi = mid : lo = mid;
    }
    return 0.5f * (lo + hi);
}

float ParallelAnchor(const ParamsBlock& params) {
    const FlushDenormals flush;
    const FireFieldParams field = MakeFireFieldParams(params);
    const auto visible = [&field](float y) { return fireSample(field, 0.0f, y).red > 0.02f; };
    uint32_t scan = 0;
    for (uint32_t t = 0; t < 32; ++t) scan |= visible(ScanSample(t + 1)) ? 1u << t : 0u;
    const uint32_t first = scan == 0 ? 32 : static_cast<uint32_t>(__builtin_ctz(scan));
    float lo = ScanSample(scan == 0 ? 32 : first);
    float hi = scan == 0 ? 0.0f : ScanSample(first + 1);
    for (uint32_t levels : {5u, 5u, 4u}) {
        uint32_t decisions = 0;
        for (uint32_t k = 0; k + 1 < (1u << levels); ++k) {
            decisions |= visible(NodeMidpoint(k, lo, hi)) ? 1u << k : 0u;
        }
        for (uint32_t level = 0, node = 0; level < levels; ++level) {
            const float mid = 0.5f * (lo + hi);
            const bool taken = ((decisions >> node) & 1u) != 0;
            taken ? hi = mid : lo = mid;
            node = 2 * node + (taken ? 1 : 2);
        }
    }
    return 0.5f * (lo + hi);
}

struct AnchorCase {
    float detail;
    float time;
    float emitterSize;
    float softness;
    float baseOffset;
};

class AnchorWorkedValue : public testing::TestWithParam<AnchorCase> {};

TEST_P(AnchorWorkedValue, MatchesToFourDigits) {
    const AnchorCase& c = GetParam();
    const AnchorRecord record =
        RunAnchorKernel(FieldParams(c.detail, c.time, c.emitterSize, c.softness));
    EXPECT_NEAR(record.baseOffset, c.baseOffset, 5e-5f);
    EXPECT_EQ(record.unusedY, 0.0f);
    EXPECT_EQ(record.unusedZ, 0.0f);
    EXPECT_EQ(record.unusedW, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Anchor, AnchorWorkedValue,
                         testing::Values(AnchorCase{1.0f, 0.0f, 1.0f, 0.0f, -0.1809f},
                                         AnchorCase{1.0f, 0.0f, 1.0f, 0.5f, -0.1741f},
                                         AnchorCase{1.0f, 0.0f, 1.0f, 1.0f, -0.1670f},
                                         AnchorCase{2.0f, 1.0f, 1.0f, 0.0f, -0.1789f},
                                         AnchorCase{1.0f, 0.0f, 0.5f, 0.0f, -0.1809f},
                                         AnchorCase{1.0f, 0.0f, 3.0f, 0.0f, -0.1809f}));

TEST(AnchorKernel, NoFireForNonPositiveEmitter) {
    for (float emitterSize : {0.0f, -0.0f, -1.0f, -1e-30f}) {
        const AnchorRecord record = RunAnchorKernel(FieldParams(1.0f, 0.0f, emitterSize, 0.0f));
        EXPECT_EQ(record.baseOffset, 0.0f) << emitterSize;
        EXPECT_EQ(record.unusedY, 0.0f);
        EXPECT_EQ(record.unusedZ, 0.0f);
        EXPECT_EQ(record.unusedW, 0.0f);
    }
}

TEST(AnchorKernel, IgnoresFrameGeometry) {
    ParamsBlock a = FieldParams(2.0f, 1.0f, 1.0f, 0.0f);
    ParamsBlock b = a;
    b.width = 640;
    b.height = 360;
    b.originX = -17;
    b.originY = 33;
    b.fullWidth = 1920.0f;
    b.fullHeight = 1080.0f;
    b.shiftX = 0.2f;
    b.shiftY = -0.3f;
    EXPECT_EQ(RunAnchorKernel(a).baseOffset, RunAnchorKernel(b).baseOffset);
}

// Searches detail and time for a frame whose scan samples satisfy a condition. The two
// conditions below need a softness outside the host's 0..1 (a contrast above 1): within it the
// fire is always visible at the emitter and never as low as the first sample.
template <typename Condition>
bool FindParams(float softness, Condition condition, ParamsBlock* found) {
    for (int t = 0; t < 400; ++t) {
        for (int d = 1; d <= 10; ++d) {
            const ParamsBlock params = FieldParams(0.5f * static_cast<float>(d),
                                                   0.0371f * static_cast<float>(t), 1.0f, softness);
            if (condition(params)) {
                *found = params;
                return true;
            }
        }
    }
    return false;
}

TEST(AnchorKernel, NoVisibleSampleGivesExactlyZero) {
    ParamsBlock params{};
    const bool found = FindParams(
        -1.0f,
        [](const ParamsBlock& p) {
            for (int i = 1; i <= 32; ++i) {
                if (Red(p, static_cast<float>(i) * 0.0078125f - 0.25f) > 0.02f) {
                    return false;
                }
            }
            return true;
        },
        &params);
    ASSERT_TRUE(found) << "no frame without visible samples in the searched range";
    const AnchorRecord record = RunAnchorKernel(params);
    EXPECT_EQ(record.baseOffset, 0.0f);
    EXPECT_FALSE(std::signbit(record.baseOffset));
    EXPECT_EQ(FloatBits(ParallelAnchor(params)), FloatBits(record.baseOffset));
}

TEST(AnchorKernel, FirstSampleVisibleRefinesBelowIt) {
    ParamsBlock params{};
    const bool found = FindParams(
        -5.0f, [](const ParamsBlock& p) { return Red(p, -0.2421875f) > 0.02f; }, &params);
    ASSERT_TRUE(found) << "no frame visible at the first sample in the searched range";
    const float baseOffset = RunAnchorKernel(params).baseOffset;
    EXPECT_GE(baseOffset, -0.25f);
    EXPECT_LT(baseOffset, -0.2421875f);
    EXPECT_EQ(FloatBits(ParallelAnchor(params)), FloatBits(baseOffset));
}

TEST(AnchorKernel, LandsInTheFirstVisibleScanStep) {
    // For many frames: every scan sample below the result is invisible, the next one visible.
    int crossings = 0;
    for (int t = 0; t < 24; ++t) {
        for (float softness : {0.0f, 0.4f, 1.0f}) {
            const ParamsBlock params = FieldParams(0.7f + 0.3f * static_cast<float>(t % 7),
                                                   0.123f * static_cast<float>(t), 1.0f, softness);
            const AnchorRecord record = RunAnchorKernel(params);
            ASSERT_GE(record.baseOffset, -0.25f);
            ASSERT_LE(record.baseOffset, 0.0f);
            // The GPU's parallel schedule lands on the same float.
            EXPECT_EQ(FloatBits(ParallelAnchor(params)), FloatBits(record.baseOffset));
            int first = 33;
            for (int i = 1; i <= 32; ++i) {
                if (Red(params, static_cast<float>(i) * 0.0078125f - 0.25f) > 0.02f) {
                    first = i;
                    break;
                }
            }
            if (first == 33) {
                EXPECT_EQ(record.baseOffset, 0.0f);
                continue;
            }
            ++crossings;
            EXPECT_LE(record.baseOffset, static_cast<float>(first) * 0.0078125f - 0.25f);
            EXPECT_GE(record.baseOffset, static_cast<float>(first - 1) * 0.0078125f - 0.25f);
        }
    }
    EXPECT_GT(crossings, 30);
}

// ------------------------------------------------------------------------------ fire kernel

constexpr float kUntouched = -7.0f;

struct Image {
    std::vector<float> texels;
    uint32_t width;
    uint32_t height;

    Image(uint32_t w, uint32_t h)
        : texels(static_cast<size_t>(w) * h * 4, kUntouched), width(w), height(h) {}
    TexelImage View() {
        return TexelImage{texels.data(), static_cast<size_t>(width) * 4 * sizeof(float), width,
                          height};
    }
    const float* At(uint32_t x, uint32_t y) const {
        return &texels[(static_cast<size_t>(y) * width + x) * 4];
    }
};

bool SameTexel(const float* a, const float* b) {
    return std::memcmp(a, b, 4 * sizeof(float)) == 0;
}

TEST(FireKernel, PartialGroupsWriteOnlyTheRectangle) {
    // 17 x 9 needs 2 x 2 groups; the texture behind is larger so stray writes would show.
    const ParamsBlock params = FrameParams(17, 9, 0, 0, 17.0f, 9.0f);
    Image image(32, 16);
    RunFireKernel(params, AnchorRecord{}, image.View());
    for (uint32_t y = 0; y < 16; ++y) {
        for (uint32_t x = 0; x < 32; ++x) {
            const bool inside = x < 17 && y < 9;
            EXPECT_EQ(image.At(x, y)[3], inside ? 1.0f : kUntouched) << x << ", " << y;
        }
    }
}

TEST(FireKernel, NeverWritesBeyondTheTexture) {
    // A texture smaller than the dispatch: out-of-range writes are dropped.
    const ParamsBlock params = FrameParams(40, 20, 0, 0, 40.0f, 20.0f);
    std::vector<float> storage(8 * 5 * 4 + 64, kUntouched);
    TexelImage view{storage.data(), 8 * 4 * sizeof(float), 8, 5};
    RunFireKernel(params, AnchorRecord{}, view);
    for (size_t i = 0; i < 8 * 5 * 4; i += 4) {
        EXPECT_EQ(storage[i + 3], 1.0f) << i;
    }
    for (size_t i = 8 * 5 * 4; i < storage.size(); ++i) {
        EXPECT_EQ(storage[i], kUntouched) << i;
    }
}

TEST(FireKernel, OutsideTheFrameIsTransparent) {
    // Columns -5..-1 and 20..24 and rows 10..11 lie outside the 20 x 10 frame.
    const ParamsBlock params = FrameParams(30, 12, -5, 0, 20.0f, 10.0f);
    Image image(30, 12);
    RunFireKernel(params, AnchorRecord{}, image.View());
    for (uint32_t y = 0; y < 12; ++y) {
        for (uint32_t x = 0; x < 30; ++x) {
            const int px = static_cast<int>(x) - 5;
            const bool inFrame = px >= 0 && px < 20 && y < 10;
            const float* texel = image.At(x, y);
            if (inFrame) {
                EXPECT_EQ(texel[3], 1.0f) << x << ", " << y;
            } else {
                const float transparent[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                EXPECT_TRUE(SameTexel(texel, transparent)) << x << ", " << y;
            }
        }
    }
}

TEST(FireKernel, OriginFarBeyondTheFrameIsTransparent) {
    // originX + x overflows 32 bits on the GPU; either way the pixel is not in the frame.
    const ParamsBlock params = FrameParams(16, 2, INT32_MAX - 3, 0, 100.0f, 10.0f);
    Image image(16, 2);
    RunFireKernel(params, AnchorRecord{}, image.View());
    for (uint32_t x = 0; x < 16; ++x) {
        EXPECT_EQ(image.At(x, 0)[3], 0.0f) << x;
    }
}

TEST(FireKernel, NoEmitterIsOpaqueBlackInsideTransparentOutside) {
    for (float emitterSize : {0.0f, -2.0f}) {
        ParamsBlock params = FrameParams(20, 8, -4, -2, 12.0f, 5.0f);
        params.emitterSize = emitterSize;
        Image image(20, 8);
        RunFireKernel(params, AnchorRecord{-0.1f, 0.0f, 0.0f, 0.0f}, image.View());
        for (uint32_t y = 0; y < 8; ++y) {
            for (uint32_t x = 0; x < 20; ++x) {
                const int px = static_cast<int>(x) - 4;
                const int py = static_cast<int>(y) - 2;
                const bool inFrame = px >= 0 && px < 12 && py >= 0 && py < 5;
                const float expected[4] = {0.0f, 0.0f, 0.0f, inFrame ? 1.0f : 0.0f};
                EXPECT_TRUE(SameTexel(image.At(x, y), expected)) << x << ", " << y;
            }
        }
    }
}

struct Rectangle {
    int32_t originX;
    int32_t originY;
    uint32_t width;
    uint32_t height;
};

class SamePixelInAnyRectangle : public testing::TestWithParam<Rectangle> {};

TEST_P(SamePixelInAnyRectangle, MatchesTheFullFrame) {
    const float fullWidth = 70.0f;
    const float fullHeight = 45.0f;
    const AnchorRecord anchor{-0.15f, 0.0f, 0.0f, 0.0f};
    ParamsBlock frame = FrameParams(70, 45, 0, 0, fullWidth, fullHeight);
    frame.shiftX = 0.05f;
    frame.shiftY = -0.4f;
    Image full(70, 45);
    RunFireKernel(frame, anchor, full.View());

    const Rectangle& rect = GetParam();
    ParamsBlock part = frame;
    part.originX = rect.originX;
    part.originY = rect.originY;
    part.width = rect.width;
    part.height = rect.height;
    Image image(rect.width, rect.height);
    RunFireKernel(part, anchor, image.View());
    int lit = 0;
    for (uint32_t y = 0; y < rect.height; ++y) {
        for (uint32_t x = 0; x < rect.width; ++x) {
            const int px = static_cast<int>(x) + rect.originX;
            const int py = static_cast<int>(y) + rect.originY;
            if (px < 0 || py < 0 || px >= 70 || py >= 45) {
                continue;
            }
            ASSERT_TRUE(SameTexel(image.At(x, y), full.At(px, py))) << px << ", " << py;
            lit += image.At(x, y)[0] > 0.0f ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 0) << "the rectangle should show some fire";
}

INSTANTIATE_TEST_SUITE_P(Rectangles, SamePixelInAnyRectangle,
                         testing::Values(Rectangle{0, 0, 70, 45}, Rectangle{30, 5, 20, 20},
                                         Rectangle{-9, -3, 50, 30}, Rectangle{35, 11, 50, 50},
                                         Rectangle{38, 10, 1, 1}));

TEST(FireKernel, GroupRowBandsComposeTheWholeDispatch) {
    const ParamsBlock params = FrameParams(37, 43, 3, -2, 40.0f, 40.0f);
    const AnchorRecord anchor = RunAnchorKernel(params);
    Image whole(37, 43);
    RunFireKernel(params, anchor, whole.View());
    Image bands(37, 43);
    const uint32_t groupRows = (43 + 7) / 8;
    RunFireKernelGroupRows(params, anchor, bands.View(), 3, groupRows);
    RunFireKernelGroupRows(params, anchor, bands.View(), 0, 1);
    RunFireKernelGroupRows(params, anchor, bands.View(), 1, 3);
    RunFireKernelGroupRows(params, anchor, bands.View(), groupRows, groupRows + 5);  // none left
    RunFireKernelGroupRows(params, anchor, bands.View(), 2, 2);                      // empty
    EXPECT_EQ(
        std::memcmp(whole.texels.data(), bands.texels.data(), whole.texels.size() * sizeof(float)),
        0);
}

TEST(FireKernel, EmitterSitsAtItsFramePosition) {
    // With no shift the emitter is at (0.5, 0.91) of the frame: the
    // centre of pixel (102, 45) of a 205 x 50 frame, whose domain point is (0, 0) up to rounding.
    ParamsBlock params = FrameParams(205, 50, 0, 0, 205.0f, 50.0f);
    params.detail = 1.0f;
    params.time = 0.0f;
    params.softness = 0.0f;
    Image image(205, 50);
    RunFireKernel(params, AnchorRecord{}, image.View());
    EXPECT_NEAR(image.At(102, 45)[0], 0.99927f, 2e-3f);
    EXPECT_NEAR(image.At(102, 45)[1], 0.63211f, 2e-3f);
    EXPECT_NEAR(image.At(102, 45)[2], 0.23698f, 2e-3f);

    // Moving the emitter to x = 0.3 of the frame (shiftX = -0.2) moves that colour along.
    params.shiftX = -0.2f;
    Image moved(205, 50);
    RunFireKernel(params, AnchorRecord{}, moved.View());
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_NEAR(moved.At(61, 45)[channel], image.At(102, 45)[channel], 2e-3f);  // 61.5 / 205
    }
}

TEST(FireKernel, NegativeBaseOffsetLiftsTheFire) {
    // baseOffset -0.08 lifts the image by 0.04 of the frame height: 2 rows of a 50-row frame.
    ParamsBlock params = FrameParams(64, 50, 0, 0, 64.0f, 50.0f);
    Image level(64, 50);
    RunFireKernel(params, AnchorRecord{0.0f, 0.0f, 0.0f, 0.0f}, level.View());
    Image lifted(64, 50);
    RunFireKernel(params, AnchorRecord{-0.08f, 0.0f, 0.0f, 0.0f}, lifted.View());
    int compared = 0;
    for (uint32_t y = 2; y < 50; ++y) {
        for (uint32_t x = 0; x < 64; ++x) {
            for (int channel = 0; channel < 3; ++channel) {
                ASSERT_NEAR(lifted.At(x, y - 2)[channel], level.At(x, y)[channel], 1e-3f)
                    << x << ", " << y;
            }
            compared += level.At(x, y)[0] > 0.0f ? 1 : 0;
        }
    }
    EXPECT_GT(compared, 50);
}

// The Wine frames' second_pass_lit frame (tests/windows): its first pass alone rounds a gradient's
// sine wrong, which shows in lit texels, so a renderer that skipped the second pass fails there.
// The texels change only where a sine was left undecided (the first pass's mirror is otherwise
// the kernel's).
TEST(FireKernel, FirstPassAloneChangesLitTexelsOfTheSecondPassFrame) {
    ParamsBlock params = PyrixFrameParams(480, 270, 2.0f, 13, 30217.5f);
    // The part of the frame around the texels that change.
    params.originX = 224;
    params.originY = 144;
    params.width = 32;
    params.height = 24;
    std::vector<float> whole(size_t{32} * 24 * 4), first(whole.size());
    RunFireKernel(params, RunAnchorKernel(params), TexelImage{whole.data(), 32 * 16, 32, 24});
    const FirstPassCount count =
        RunFirstPassAlone(params, TexelImage{first.data(), 32 * 16, 32, 24});
    size_t differing = 0;
    for (size_t i = 0; i < whole.size(); i += 4) {
        differing += std::memcmp(&whole[i], &first[i], 4 * sizeof(float)) != 0 ? 1 : 0;
    }
    EXPECT_GT(count.changedLit, 0u);
    EXPECT_EQ(differing, count.changedLit);
}

}  // namespace

}  // namespace pyrix
