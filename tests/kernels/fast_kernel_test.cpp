// The fast FireKernel against the scalar reference: every byte of the output texture, over a
// wide matrix of parameters and frame geometries, for each instruction set and shortcut; and
// the bounds that let it skip pixels, checked at their edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "kernels/cpu_kernels.h"
#include "kernels/fan_out.h"
#include "kernels/fast_fire_kernel.h"
#include "kernels/fast_fire_plan.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

constexpr uint32_t kSentinel = 0x7FC0BEEFu;  // a NaN that no texel write produces

// One output texture with padding at the end of every row, filled with the sentinel.
struct Texture {
    Texture(uint32_t width, uint32_t height, uint32_t padTexels = 3)
        : rowPitch((static_cast<size_t>(width) + padTexels) * 16),
          words(rowPitch / 4 * height, kSentinel) {
        image = TexelImage{reinterpret_cast<float*>(words.data()), rowPitch, width, height};
    }
    size_t rowPitch;
    std::vector<uint32_t> words;
    TexelImage image;
};

struct Geometry {
    const char* name;
    uint32_t width;
    uint32_t height;
    int32_t originX;
    int32_t originY;
    float fullWidth;
    float fullHeight;
    float positionX;  // emitter, fractions of the frame, y downward
    float positionY;
};

// Odd sizes, rectangles reaching past every edge of the frame, windows into a large frame.
const Geometry kGeometries[] = {
    {"whole odd frame and beyond", 70, 50, -5, -3, 61.0f, 43.0f, 0.5f, 0.7f},
    {"window at the emitter of 1080p", 45, 29, 930, 700, 1920.0f, 1080.0f, 0.5f, 0.7f},
    {"window past the right edge", 41, 23, 1890, 1060, 1920.0f, 1080.0f, 0.97f, 0.99f},
    {"low emitter, tall odd frame", 33, 77, 0, 0, 33.0f, 77.0f, 0.42f, 0.95f},
    {"negative origin far outside", 19, 17, -40, -20, 23.0f, 21.0f, 0.3f, 0.8f},
};

ParamsBlock MakeParams(const Geometry& geometry, float detail, float time, float emitterSize,
                       float softness) {
    ParamsBlock params{};
    params.width = geometry.width;
    params.height = geometry.height;
    params.originX = geometry.originX;
    params.originY = geometry.originY;
    params.fullWidth = geometry.fullWidth;
    params.fullHeight = geometry.fullHeight;
    params.detail = detail;
    params.time = time;
    params.shiftX = geometry.positionX - 0.5f;
    params.shiftY = geometry.positionY - 0.91f;
    params.emitterSize = emitterSize;
    params.softness = softness;
    return params;
}

// Runs both kernels on identical textures and reports the first texel that differs.
::testing::AssertionResult SameTexels(const ParamsBlock& params, const FastFireOptions& options,
                                      uint32_t groupRowBegin = 0, uint32_t groupRowEnd = UINT32_MAX,
                                      uint32_t textureWidth = 0, uint32_t textureHeight = 0) {
    const uint32_t width = textureWidth ? textureWidth : params.width;
    const uint32_t height = textureHeight ? textureHeight : params.height;
    Texture reference(width, height);
    Texture fast(width, height);
    const AnchorRecord anchor = RunAnchorKernel(params);
    const uint32_t groupRows = (params.height + kFireGroupHeight - 1) / kFireGroupHeight;
    const uint32_t end = std::min(groupRowEnd, groupRows);
    RunFireKernelGroupRows(params, anchor, reference.image, groupRowBegin, end);
    RunFastFireKernelGroupRows(params, anchor, fast.image, groupRowBegin, end, options);
    const size_t wordsPerRow = reference.rowPitch / 4;
    for (size_t word = 0; word < reference.words.size(); ++word) {
        if (reference.words[word] != fast.words[word]) {
            float expected;
            float actual;
            std::memcpy(&expected, &reference.words[word], 4);
            std::memcpy(&actual, &fast.words[word], 4);
            return ::testing::AssertionFailure()
                   << "texel (" << word % wordsPerRow / 4 << ", " << word / wordsPerRow
                   << ") channel " << word % 4 << ": reference " << expected << " (0x" << std::hex
                   << reference.words[word] << "), fast " << actual << " (0x" << fast.words[word]
                   << ")" << std::dec;
        }
    }
    return ::testing::AssertionSuccess();
}

FastFireOptions Options(FastFireIsa isa, unsigned threads, bool tables = true,
                        bool skipBlack = true, bool vectorShading = true) {
    FastFireOptions options;
    options.isa = isa;
    options.threads = threads;
    options.gradientTables = tables;
    options.skipBlack = skipBlack;
    options.vectorShading = vectorShading;
    return options;
}

// ------------------------------------------------------------------- the bit-identity matrix

struct MatrixCase {
    float detail;
    float time;
};

void PrintTo(const MatrixCase& c, std::ostream* os) {
    *os << "detail " << c.detail << ", time " << c.time;
}

class FastFireMatrix : public ::testing::TestWithParam<MatrixCase> {};

// Every softness and emitter size for one (detail, time), each on a different geometry, in
// turn with each instruction set and with one and two threads.
TEST_P(FastFireMatrix, SameBitsAsTheReference) {
    const MatrixCase& c = GetParam();
    const float softnesses[] = {0.0f, 0.25f, 0.5f, 1.0f};
    const float emitterSizes[] = {0.3f, 1.0f, 3.3f, 10.0f};
    const FastFireIsa isas[] = {FastFireIsa::Avx2, FastFireIsa::Portable};
    int run = 0;
    for (float softness : softnesses) {
        for (float emitterSize : emitterSizes) {
            const Geometry& geometry = kGeometries[run % std::size(kGeometries)];
            const ParamsBlock params =
                MakeParams(geometry, c.detail, c.time, emitterSize, softness);
            const FastFireOptions options = Options(isas[run % 2], 1 + (run / 2) % 2);
            EXPECT_TRUE(SameTexels(params, options))
                << geometry.name << ", softness " << softness << ", emitter " << emitterSize;
            ++run;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DetailAndTime, FastFireMatrix,
                         ::testing::Values(MatrixCase{0.0f, 0.0f}, MatrixCase{0.0f, 12.5f},
                                           MatrixCase{1.0f, 0.0f}, MatrixCase{1.0f, 0.03f},
                                           MatrixCase{1.0f, -2.0e6f}, MatrixCase{1.0f, 3.0e7f},
                                           MatrixCase{2.5f, 1.0f}, MatrixCase{2.5f, -731.25f},
                                           MatrixCase{3.7f, 45678.9f}, MatrixCase{5.0f, 0.03f},
                                           MatrixCase{5.0f, 2.0e5f}, MatrixCase{5.0f, 3.0e7f},
                                           MatrixCase{0.5f, -2.0e6f}, MatrixCase{4.2f, 5.6e6f}));

// Each shortcut alone against the reference: direct hashing without tables, the full field on
// every pixel without the black-pixel skips, the reference's shading of the fast turbulence.
TEST(FastFireShortcuts, EachOneAloneKeepsTheBits) {
    for (const Geometry& geometry : kGeometries) {
        for (float time : {0.03f, 1.0e6f}) {
            const ParamsBlock params = MakeParams(geometry, 2.0f, time, 1.0f, 0.25f);
            for (FastFireIsa isa : {FastFireIsa::Avx2, FastFireIsa::Portable}) {
                EXPECT_TRUE(SameTexels(params, Options(isa, 1, false, true))) << geometry.name;
                EXPECT_TRUE(SameTexels(params, Options(isa, 1, true, false))) << geometry.name;
                EXPECT_TRUE(SameTexels(params, Options(isa, 1, true, true, false)))
                    << geometry.name;
            }
        }
    }
}

// Frames that hold more threads than rows of groups, and several threads on one frame.
TEST(FastFireThreads, AnyThreadCountGivesTheSameTexels) {
    const ParamsBlock params = MakeParams(kGeometries[1], 1.0f, 0.03f, 1.0f, 0.0f);
    for (unsigned threads : {0u, 1u, 2u, 3u, 8u, 100u}) {
        EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, threads))) << threads;
    }
}

// Threads the system refuses to start leave their rows to the others: same texels.
TEST(FastFireThreads, RefusedThreadStartsGiveTheSameTexels) {
    const ParamsBlock params = MakeParams(kGeometries[1], 1.0f, 0.03f, 1.0f, 0.0f);
    for (int refused : {1, 5, -1}) {
        const fan_out_testing::ScopedThreadStartFailures failures(refused);
        EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 8))) << refused;
    }
}

// ------------------------------------------------------------------------ dispatch geometry

TEST(FastFireDispatch, GroupRowRangesWriteOnlyTheirRows) {
    const ParamsBlock params = MakeParams(kGeometries[0], 1.5f, 0.7f, 2.0f, 0.5f);
    const FastFireOptions options = Options(FastFireIsa::Avx2, 2);
    EXPECT_TRUE(SameTexels(params, options, 1, 3));
    EXPECT_TRUE(SameTexels(params, options, 5, 7));   // the last group row is partial
    EXPECT_TRUE(SameTexels(params, options, 6, 6));   // empty: nothing written
    EXPECT_TRUE(SameTexels(params, options, 9, 12));  // beyond the rectangle
}

TEST(FastFireDispatch, ClipsToASmallerTextureAsTheReferenceDoes) {
    const ParamsBlock params = MakeParams(kGeometries[1], 1.0f, 0.03f, 1.0f, 0.0f);
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 2), 0, UINT32_MAX, 30, 11));
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Portable, 1), 0, UINT32_MAX, 44, 1));
}

TEST(FastFireDispatch, DegenerateParametersFollowTheReference) {
    ParamsBlock params = MakeParams(kGeometries[0], 1.0f, 0.03f, 0.0f, 0.0f);
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 2)));  // no emitter
    params.emitterSize = -3.0f;
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 2)));
    params.emitterSize = 1.0f;
    params.width = 0;
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 2), 0, UINT32_MAX, 5, 5));
    // Non-finite inputs never reach the kernels from the renderer; if they did, the fast path
    // must still write what the reference writes.
    params = MakeParams(kGeometries[4], 1.0f, 0.03f, 1.0f, 0.0f);
    params.time = std::nanf("");
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 1)));
    params.time = 0.03f;
    params.fullWidth = INFINITY;
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 1)));
}

// The renderer clamps these, the kernels do not: the bounds must hold for them too.
TEST(FastFireDispatch, UnclampedParametersKeepTheBits) {
    struct Odd {
        float detail;
        float emitterSize;
        float softness;
    };
    for (const Odd& odd :
         {Odd{-2.0f, 1.0f, 0.0f}, Odd{1.0f, 1.0f, 1.7f}, Odd{1.0f, 1.0f, -0.4f},
          Odd{9.0f, 1e-3f, 0.5f}, Odd{1.0f, 4e4f, 0.25f}, Odd{1.0f, 1.0f, 1e30f}}) {
        for (const Geometry& geometry : {kGeometries[0], kGeometries[1]}) {
            const ParamsBlock params =
                MakeParams(geometry, odd.detail, 0.4f, odd.emitterSize, odd.softness);
            EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 2)))
                << geometry.name << ": detail " << odd.detail << ", emitter " << odd.emitterSize
                << ", softness " << odd.softness;
        }
    }
}

TEST(FastFireDispatch, HugeOriginsLandOutsideTheFrame) {
    ParamsBlock params = MakeParams(kGeometries[4], 1.0f, 0.03f, 1.0f, 0.0f);
    params.originX = INT32_MAX - 5;  // x + originX passes 2^31
    params.originY = 2;
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 2)));
    params.originX = INT32_MIN;
    params.originY = INT32_MIN + 3;
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Portable, 2)));
}

TEST(FastFireIsaChoice, RequestingAvx2IsAlwaysSafe) {
    // On a processor without AVX2 the request falls back to the portable rows.
    const ParamsBlock params = MakeParams(kGeometries[3], 1.0f, 0.03f, 1.0f, 0.5f);
    EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 1)));
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_EQ(BestFastFireIsa(), FastFireIsa::Avx2);
    } else {
        EXPECT_EQ(BestFastFireIsa(), FastFireIsa::Portable);
    }
}

// --------------------------------------------------------------------- the skips' bounds

// The noise bound holds everywhere, and reality comes close to it: a looser bound would skip
// fewer pixels, a tighter one would be wrong.
TEST(FastFireBounds, NoiseStaysWithinItsBoundAndNearIt) {
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> near(-300.0f, 300.0f);
    std::uniform_real_distribution<float> far(-4.0e6f, 4.0e6f);
    float largest = 0.0f;
    for (int i = 0; i < 300000; ++i) {
        const bool farAway = i % 10 == 0;
        const float x = farAway ? far(random) : near(random);
        const float y = farAway ? far(random) : near(random);
        const float noise = std::fabs(simplexNoise(x, y));
        ASSERT_LE(noise, kNoiseBound) << x << ", " << y;
        largest = std::max(largest, noise);
    }
    EXPECT_GT(largest, 0.9f);
}

TEST(FastFireBounds, TurbulenceStaysBelowTheFrameBound) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> domain(-3.0f, 3.0f);
    for (float softness : {0.0f, 0.25f, 0.5f, 1.0f}) {
        for (float detail : {0.5f, 1.0f, 5.0f}) {
            const FireFieldParams field = MakeFireFieldParams(detail, 1.7f, 1.0f, softness);
            const float bound = field.maxTurbulence;
            float largest = 0.0f;
            for (int i = 0; i < 20000; ++i) {
                const float f = turbulence(field, domain(random), domain(random));
                ASSERT_LE(f, bound);
                largest = std::max(largest, f);
            }
            // The bound is 0.5 + 0.5 g sum|A| 1.02; the amplitudes rarely all peak together.
            EXPECT_GT(largest, 0.5f + 0.25f * (bound - 0.5f)) << softness << ", " << detail;
        }
    }
}

// At qx = 0 and height Y in (-0.25, 0] the shape gives r = 0.75 |Y| and d = r - f (Y + 0.25):
// sweeping f walks d across the black distance. Where d (rounded as the reference rounds it)
// reaches kBlackDistance the sample is black; just below it (d < 0.0992) it is lit, so the
// skip gives up less than 1 % of d.
TEST(FastFireBounds, BlackDistanceIsExactlyBlackAndCloseToTheEdge) {
    const FireFieldParams field = MakeFireFieldParams(1.0f, 0.0f, 1.0f, 0.0f);
    const float qy = -0.2f;
    const float ry = 0.75f * qy;
    const float r = std::sqrt(0.0f + ry * ry);
    const float lift = qy + 0.25f;
    int blackAtTheBound = 0;
    bool litNearTheBound = false;
    for (float f = 0.8f; f < 1.2f; f = std::nextafter(f, 2.0f) + 1e-6f) {
        const float d = std::max(0.0f, r - f * lift);
        const FireColour colour = fireSample(field, 0.0f, qy, f);
        if (d >= kBlackDistance) {
            ASSERT_EQ(colour.red, 0.0f) << f;
            ASSERT_EQ(colour.green, 0.0f) << f;
            ASSERT_EQ(colour.blue, 0.0f) << f;
            ++blackAtTheBound;
        } else if (d < 0.0992f && colour.red > 0.0f) {
            litNearTheBound = true;
        }
    }
    EXPECT_GT(blackAtTheBound, 1000);
    EXPECT_TRUE(litNearTheBound);
}

// Above the fade (W > 1) whole rows are skipped for softness <= 1. A frame whose fire reaches
// high (small emitter) and whose rows cross W = 1 keeps its bits on both sides of the crossing.
TEST(FastFireBounds, RowsAcrossTheFadeKeepTheirBits) {
    const Geometry tall{"tall", 24, 120, 948, 0, 1920.0f, 120.0f, 0.5f, 0.98f};
    float highestLit = 0.0f;  // the largest W of a lit pixel in the reference
    for (float softness : {-0.5f, 0.0f, 1e-6f, 0.25f, 1.0f}) {
        for (float emitterSize : {0.3f, 0.45f}) {
            const ParamsBlock params = MakeParams(tall, 1.0f, 3.3f, emitterSize, softness);
            EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Avx2, 1))) << softness;
            EXPECT_TRUE(SameTexels(params, Options(FastFireIsa::Portable, 1))) << softness;

            Texture reference(tall.width, tall.height, 0);
            const AnchorRecord anchor = RunAnchorKernel(params);
            RunFireKernel(params, anchor, reference.image);
            for (uint32_t y = 0; y < tall.height; ++y) {
                // W of the row, as FireKernel and the fire field compute it.
                const float v =
                    1.0f - (static_cast<float>(y) + 0.5f) / tall.fullHeight + params.shiftY;
                const float qy = 2.0f * v - 0.18f + anchor.baseOffset;
                const float w = 0.5f * (qy > 0.0f ? qy / emitterSize : qy) + 0.09f;
                for (uint32_t x = 0; x < tall.width; ++x) {
                    if (reference.image.texels[(size_t(y) * tall.width + x) * 4] > 0.0f) {
                        EXPECT_LT(w, 1.0f);
                        highestLit = std::max(highestLit, w);
                    }
                }
            }
        }
    }
    // The heat turns negative at W = 1.5^(1/4) / 1.3 = 0.854, so that is as high as it gets.
    EXPECT_GT(highestLit, 0.8f) << "the fire should reach up towards the fade";
}

}  // namespace

}  // namespace pyrix
