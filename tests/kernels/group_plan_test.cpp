// FireKernel's plan per thread group (fire_kernel.hlsl: AddCells, TablePoints) mirrored in C++:
// the sines a frame costs, and which frames make groups hash directly (the Windows frame tests
// render those on Direct3D). Frames at full frame, origin 0, emitter at (50 %, 70 %).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "kernels/cpu_kernels.h"
#include "kernels/exact_math.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

constexpr int kTablePoints = 256;       // FIRE_TABLE_POINTS
constexpr float kTableReach = 0x1p23f;  // FIRE_TABLE_REACH

struct FrameCost {
    double sinesPerPixel;
    long directOctaves;  // octaves of groups that hash directly
};

// Two sines per table point, six per pixel and octave hashed directly.
FrameCost PlanCost(uint32_t width, uint32_t height, float detail, float time) {
    ParamsBlock params{width, height,       0,    0,   float(width), float(height), detail, time,
                       0.0f,  0.7f - 0.91f, 1.0f, 0.0f};
    const float baseOffset = RunAnchorKernel(params).baseOffset;
    double sines = 0.0;
    long directOctaves = 0;
    for (uint32_t groupY = 0; groupY < height; groupY += kFireGroupHeight) {
        for (uint32_t groupX = 0; groupX < width; groupX += kFireGroupWidth) {
            int minX[5], maxX[5], minY[5], maxY[5];
            bool beyond[5] = {};
            std::fill_n(minX, 5, INT_MAX), std::fill_n(minY, 5, INT_MAX);
            std::fill_n(maxX, 5, INT_MIN), std::fill_n(maxY, 5, INT_MIN);
            const uint32_t endX = std::min(groupX + kFireGroupWidth, width);
            const uint32_t endY = std::min(groupY + kFireGroupHeight, height);
            for (uint32_t y = groupY; y < endY; ++y) {
                for (uint32_t x = groupX; x < endX; ++x) {
                    const float u = ExactDiv(float(x) + 0.5f, params.fullWidth) - params.shiftX;
                    const float v =
                        1.0f - ExactDiv(float(y) + 0.5f, params.fullHeight) + params.shiftY;
                    const float qx = 5.0f * u - 2.5f;
                    const float qy = 2.0f * v - 0.18f + baseOffset;
                    float ox = detail * qx;
                    float oy = detail * qy - 3.0f * time;
                    const float scales[4] = {1.01f, 1.04f, 1.04f, 1.03f};
                    for (int octave = 0; octave < 5; ++octave) {
                        if (octave > 0) {
                            const float mx = 1.7f * ox - 1.3f * oy;
                            const float my = 1.1f * ox + 1.5f * oy;
                            ox = scales[octave - 1] * mx;
                            oy = scales[octave - 1] * my;
                        }
                        const float sk = (ox + oy) * kSkewF2;
                        const float ix = std::floor(ox + sk), iy = std::floor(oy + sk);
                        if (!(std::fabs(ix) < kTableReach && std::fabs(iy) < kTableReach)) {
                            beyond[octave] = true;
                            continue;
                        }
                        minX[octave] = std::min(minX[octave], int(ix));
                        maxX[octave] = std::max(maxX[octave], int(ix));
                        minY[octave] = std::min(minY[octave], int(iy));
                        maxY[octave] = std::max(maxY[octave], int(iy));
                    }
                }
            }
            for (int octave = 0; octave < 5; ++octave) {
                const bool reached = maxX[octave] >= minX[octave];
                const long points = reached ? (long{maxX[octave]} - minX[octave] + 2) *
                                                  (long{maxY[octave]} - minY[octave] + 2)
                                            : 0;
                if (!beyond[octave] && reached && points <= kTablePoints) {
                    sines += 2.0 * double(points);
                } else {
                    sines += 6.0 * double((endX - groupX) * (endY - groupY));
                    ++directOctaves;
                }
            }
        }
    }
    const FrameCost cost{sines / (double(width) * height), directOctaves};
    std::printf(
        "%ux%u, detail %g, time %g: %.3f sines per pixel (hashing every corner: 30), "
        "%ld octaves of groups hash directly\n",
        width, height, double(detail), double(time), cost.sinesPerPixel, directOctaves);
    return cost;
}

double Defined(const char* name) {
    std::ifstream file(std::string(PYRIX_KERNELS_DIR) + "/fire_kernel.hlsl");
    std::stringstream text;
    text << file.rdbuf();
    const std::string directive = std::string("#define ") + name + " ";
    const size_t at = text.str().find(directive);
    return at == std::string::npos
               ? -1.0
               : std::strtod(text.str().c_str() + at + directive.size(), nullptr);
}

}  // namespace

TEST(GroupPlan, MirrorsTheKernelsLimits) {
    EXPECT_EQ(Defined("FIRE_TABLE_POINTS"), kTablePoints);
    EXPECT_EQ(Defined("FIRE_TABLE_REACH"), double(kTableReach));
}

// The default clip (1280x720, detail 1, frames 1 to 48) and it at detail 5: far fewer sines
// than hashing every pixel's corners.
TEST(GroupPlan, SharesLatticePointsOnOrdinaryFrames) {
    for (const float time : {0.03f, 1.44f}) {
        EXPECT_LT(PlanCost(1280, 720, 1.0f, time).sinesPerPixel, 1.5);
        EXPECT_LT(PlanCost(1280, 720, 5.0f, time).sinesPerPixel, 6.0);
    }
}

// The frames of the Windows tests that make groups hash directly: too many points for the table
// (1920x1080 at 1/16, detail 5), cells beyond float integers (an offset of 1e6).
TEST(GroupPlan, FallbackFramesHashDirectly) {
    EXPECT_GT(PlanCost(120, 68, 5.0f, 0.39f).directOctaves, 0);
    EXPECT_GT(PlanCost(480, 270, 1.0f, 1000000.0f).directOctaves, 0);
    EXPECT_LE(PlanCost(64, 64, 5.0f, 3.0e6f).sinesPerPixel, 30.0);
}

}  // namespace pyrix
