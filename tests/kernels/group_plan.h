// FireKernel's plan per thread group (fire_kernel.hlsl: AddCells, TablePoints) mirrored in C++
// on the kernels' own domain and octave functions: which octaves of which groups hash directly,
// and the sines a frame costs. The table's size and reach are checked against the HLSL.
#pragma once

#include "kernels/params_block.h"

namespace pyrix {

constexpr int kGroupTablePoints = 256;       // FIRE_TABLE_POINTS
constexpr float kGroupTableReach = 0x1p23f;  // FIRE_TABLE_REACH

struct GroupPlanCost {
    long groups;           // groups with a lit pixel
    long directGroups;     // of those, the groups that hash some octave directly
    long directOctaves;    // octaves of groups that hash directly
    long litPixels;        // pixels that evaluate the noise: in the frame, not surely dark
    double sinesPerPixel;  // two per table point, six per lit pixel and octave hashed directly
};

GroupPlanCost PlanGroups(const ParamsBlock& params);

}  // namespace pyrix
