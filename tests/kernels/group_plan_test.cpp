// FireKernel's plan per thread group, through its mirror (group_plan.h): the sines a frame
// costs, and which frames make groups hash directly (the Windows frame tests render those on
// Direct3D). Frames at full frame, origin 0, emitter at (50 %, 70 %).
#include "tests/kernels/group_plan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace pyrix {

namespace {

GroupPlanCost PlanCost(uint32_t width, uint32_t height, float detail, float time) {
    const ParamsBlock params{width,        height,        0,      0,
                             float(width), float(height), detail, time,
                             0.0f,         0.7f - 0.91f,  1.0f,   0.0f};
    const GroupPlanCost cost = PlanGroups(params);
    std::printf(
        "%ux%u, detail %g, time %g: %.3f sines per pixel (hashing every corner: 30), "
        "%ld of %ld groups hash directly, %ld octaves; %ld pixels lit\n",
        width, height, double(detail), double(time), cost.sinesPerPixel, cost.directGroups,
        cost.groups, cost.directOctaves, cost.litPixels);
    return cost;
}

double Defined(const char* name) {
    std::ifstream file(std::string(PYRIX_KERNELS_DIR) + "/fire_group.hlsli");
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
    EXPECT_EQ(Defined("FIRE_TABLE_POINTS"), kGroupTablePoints);
    EXPECT_EQ(Defined("FIRE_TABLE_REACH"), double(kGroupTableReach));
}

// The default clip (1280x720, detail 1, frames 1 to 48) and it at detail 5: no group hashes
// directly, and far fewer sines than hashing every pixel's corners; the flame's pixels are lit.
TEST(GroupPlan, SharesLatticePointsOnOrdinaryFrames) {
    for (const float time : {0.03f, 1.44f}) {
        for (const float detail : {1.0f, 5.0f}) {
            const GroupPlanCost cost = PlanCost(1280, 720, detail, time);
            EXPECT_GT(cost.litPixels, 1280 * 720 / 20);
            EXPECT_EQ(cost.directOctaves, 0);
            EXPECT_LT(cost.sinesPerPixel, detail < 2.0f ? 1.5 : 6.0);
        }
    }
}

// The frames of the Windows tests that make groups hash directly: too many points for the table
// (1920x1080 at 1/16, detail 5), cells beyond float integers (an offset of 1e6). Where every
// group hashes every octave directly, each lit pixel costs its 30 sines.
TEST(GroupPlan, FallbackFramesHashDirectly) {
    EXPECT_GT(PlanCost(120, 68, 5.0f, 0.39f).directOctaves, 0);
    EXPECT_GT(PlanCost(480, 270, 1.0f, 1000000.0f).directOctaves, 0);
    const GroupPlanCost beyond = PlanCost(64, 64, 5.0f, 3.0e6f);
    EXPECT_GT(beyond.groups, 0);
    EXPECT_EQ(beyond.directOctaves, 5 * beyond.groups);
    EXPECT_EQ(beyond.sinesPerPixel * 64 * 64, 30.0 * double(beyond.litPixels));
}

}  // namespace pyrix
