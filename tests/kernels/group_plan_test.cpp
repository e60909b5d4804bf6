// FireKernel's plan per thread group (fire_kernel.hlsl: AddCells, TablePoints), mirrored in
// C++ to count the sines a frame costs and to see which frames make groups hash directly (the
// Windows frame tests render those on Direct3D).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "kernels/cpu_kernels.h"
#include "kernels/exact_math.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

constexpr int kOctaves = 5;
constexpr int kTablePoints = 256;       // FIRE_TABLE_POINTS
constexpr float kTableReach = 0x1p23f;  // FIRE_TABLE_REACH

struct FrameCost {
    double sinesPerPixel = 0.0;  // over the pixels evaluated
    uint64_t pixels = 0;
    uint64_t directOctaves = 0;  // octaves of groups that hash directly
};

// What the kernel does per group; the count of sines: two per table point, six per pixel and
// octave that hashes directly.
FrameCost PlanCost(const ParamsBlock& params) {
    const float baseOffset = RunAnchorKernel(params).baseOffset;
    const FireFieldParams field = MakeFireFieldParams(params);
    FrameCost cost;
    double sines = 0.0;
    for (uint32_t groupY = 0; groupY < params.height; groupY += kFireGroupHeight) {
        for (uint32_t groupX = 0; groupX < params.width; groupX += kFireGroupWidth) {
            int minX[kOctaves], maxX[kOctaves], minY[kOctaves], maxY[kOctaves];
            bool beyond[kOctaves] = {};
            std::fill(minX, minX + kOctaves, INT32_MAX);
            std::fill(minY, minY + kOctaves, INT32_MAX);
            std::fill(maxX, maxX + kOctaves, INT32_MIN);
            std::fill(maxY, maxY + kOctaves, INT32_MIN);
            uint64_t lit = 0;
            for (uint32_t y = groupY; y < std::min(groupY + kFireGroupHeight, params.height); ++y) {
                for (uint32_t x = groupX; x < std::min(groupX + kFireGroupWidth, params.width);
                     ++x) {
                    const int px = static_cast<int>(x) + params.originX;
                    const int py = static_cast<int>(y) + params.originY;
                    if (px < 0 || py < 0 || static_cast<float>(px) >= params.fullWidth ||
                        static_cast<float>(py) >= params.fullHeight || 0.0f >= params.emitterSize) {
                        continue;
                    }
                    ++lit;
                    const float u =
                        ExactDiv(static_cast<float>(px) + 0.5f, params.fullWidth) - params.shiftX;
                    const float v = 1.0f -
                                    ExactDiv(static_cast<float>(py) + 0.5f, params.fullHeight) +
                                    params.shiftY;
                    const float qx = 5.0f * u - 2.5f;
                    const float qy = 2.0f * v - 0.18f + baseOffset;
                    float ox = field.detail * qx;
                    float oy = field.detail * qy - 3.0f * field.time;
                    const float scales[4] = {1.01f, 1.04f, 1.04f, 1.03f};
                    for (int octave = 0; octave < kOctaves; ++octave) {
                        if (octave > 0) {
                            const float mx = 1.7f * ox - 1.3f * oy;
                            const float my = 1.1f * ox + 1.5f * oy;
                            ox = scales[octave - 1] * mx;
                            oy = scales[octave - 1] * my;
                        }
                        const float sk = (ox + oy) * kSkewF2;
                        const float ix = std::floor(ox + sk);
                        const float iy = std::floor(oy + sk);
                        if (!(std::fabs(ix) < kTableReach && std::fabs(iy) < kTableReach)) {
                            beyond[octave] = true;
                            continue;
                        }
                        minX[octave] = std::min(minX[octave], static_cast<int>(ix));
                        maxX[octave] = std::max(maxX[octave], static_cast<int>(ix));
                        minY[octave] = std::min(minY[octave], static_cast<int>(iy));
                        maxY[octave] = std::max(maxY[octave], static_cast<int>(iy));
                    }
                }
            }
            if (lit == 0) {
                continue;
            }
            cost.pixels += lit;
            for (int octave = 0; octave < kOctaves; ++octave) {
                const int64_t width = beyond[octave] ? 0 : int64_t{maxX[octave]} - minX[octave] + 2;
                const int64_t height =
                    beyond[octave] ? 0 : int64_t{maxY[octave]} - minY[octave] + 2;
                if (width > 0 && width * height <= kTablePoints) {
                    sines += 2.0 * static_cast<double>(width * height);
                } else {
                    sines += 6.0 * static_cast<double>(lit);
                    ++cost.directOctaves;
                }
            }
        }
    }
    cost.sinesPerPixel = sines / static_cast<double>(cost.pixels);
    return cost;
}

// A frame as pyrix renders it: `size` at 1/downsample, frame number n, the sliders as given.
ParamsBlock Frame(uint32_t width, uint32_t height, int downsample, float detail, float emitterSize,
                  float time) {
    ParamsBlock params{};
    params.width =
        (width + static_cast<uint32_t>(downsample) - 1) / static_cast<uint32_t>(downsample);
    params.height =
        (height + static_cast<uint32_t>(downsample) - 1) / static_cast<uint32_t>(downsample);
    params.fullWidth = static_cast<float>(params.width);
    params.fullHeight = static_cast<float>(params.height);
    params.detail = detail;
    params.time = time;
    params.shiftY = 0.7f - 0.91f;
    params.emitterSize = emitterSize;
    return params;
}

FrameCost Report(const char* name, const ParamsBlock& params) {
    const FrameCost cost = PlanCost(params);
    std::printf(
        "%s: %.3f sines per pixel (direct hashing: 30), %llu octaves of groups hash directly\n",
        name, cost.sinesPerPixel, static_cast<unsigned long long>(cost.directOctaves));
    return cost;
}

// The number after "#define name " in the kernel's source.
double Defined(const std::string& name) {
    std::ifstream file(std::string(PYRIX_KERNELS_DIR) + "/fire_kernel.hlsl");
    std::stringstream text;
    text << file.rdbuf();
    const std::string source = text.str();
    const size_t at = source.find("#define " + name + " ");
    return at == std::string::npos ? -1.0
                                   : std::strtod(source.c_str() + at + name.size() + 9, nullptr);
}

}  // namespace

// The mirror plans as the kernel does.
TEST(GroupPlan, MirrorsTheKernelsLimits) {
    EXPECT_EQ(Defined("FIRE_TABLE_POINTS"), kTablePoints);
    EXPECT_EQ(Defined("FIRE_TABLE_REACH"), static_cast<double>(kTableReach));
}

// The default clip (1280x720, detail 1, frames 1 to 48) and the default at detail 5 share most
// lattice points within a group: far fewer sines than hashing every pixel's corners.
TEST(GroupPlan, SharesLatticePointsOnOrdinaryFrames) {
    double worst = 0.0;
    for (int frame = 1; frame <= 48; frame += 47) {
        const float time = static_cast<float>(frame) * 0.03f;
        worst = std::max(
            worst, Report("default clip", Frame(1280, 720, 1, 1.0f, 1.0f, time)).sinesPerPixel);
        const FrameCost detailed = Report("detail 5", Frame(1280, 720, 1, 5.0f, 1.0f, time));
        EXPECT_LT(detailed.sinesPerPixel, 6.0);
    }
    EXPECT_LT(worst, 1.5);
}

// The Windows frame tests' frames that make groups hash directly: too many points for the
// table (heavy downsampling at detail 5), cells beyond float integers (offsets of 1e6).
TEST(GroupPlan, FallbackFramesHashDirectly) {
    EXPECT_GT(Report("1920x1080 at 1/16, detail 5", Frame(1920, 1080, 16, 5.0f, 10.0f, 0.39f))
                  .directOctaves,
              0u);
    EXPECT_GT(
        Report("480x270, offset 1e6", Frame(480, 270, 1, 1.0f, 1.0f, 1000000.0f)).directOctaves,
        0u);
    // Hashing everything directly costs the old 30 per pixel, and no more.
    EXPECT_LE(PlanCost(Frame(64, 64, 1, 5.0f, 1.0f, 3.0e6f)).sinesPerPixel, 30.0);
}

}  // namespace pyrix
