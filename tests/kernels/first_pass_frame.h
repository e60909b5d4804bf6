// The fire kernel's first pass alone, on the CPU: every gradient's sine on the float path only
// (FloatPathSine, fire_kernel.hlsl), so the frame a GPU leaves when it skips the second pass.
// Used to find and keep frames on which skipping the second pass shows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/cpu_kernels.h"

namespace pyrix {

struct FirstPassCount {
    size_t undecided;   // texels whose turbulence met a sine the first pass leaves undecided
    size_t changedLit;  // of those, lit ones whose bits differ from the whole sine's
};

// The kernels' constants of frame `frame` of a pyrix render of a whole WIDTH x HEIGHT layer at
// `detail` and `offset`, the other settings at their defaults (position 50 %, 70 %, emitter size
// 100, softness 0, speed 1), as the frame render makes them.
ParamsBlock PyrixFrameParams(uint32_t width, uint32_t height, float detail, int frame,
                             float offset);

// The first pass's texels of the frame into `output` (as RunFireKernel writes them), and how many
// of them the second pass would change. Runs with denormals flushed, as the kernels do.
FirstPassCount RunFirstPassAlone(const ParamsBlock& params, const TexelImage& output);

}  // namespace pyrix
