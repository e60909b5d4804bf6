// Figures of the parts of a frame that pyrix can time apart from the plug-in: the CPU build of
// the kernels and the output conversion, with a plain copy of the same bytes for comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pyrix::preview {

struct BenchFigure {
    std::string name;
    double value;
    std::string unit;
};

// kernel (Mpix/s, both kernels' scalar reference on one thread), kernel_fast (Mpix/s, the fast
// build on one thread per processor, as the Direct3D stand-in runs it) and its speed-up,
// conversion_8bit and memcpy (GB/s of float image read, on the conversion's threads),
// frame_cpu (ms, the CPU renderer's whole frame into a reused host buffer) and its ratio to
// kernel_fast plus conversion_8bit, each over `repeat` runs on a width x height frame of the
// default parameters. Empty when this build has no CPU kernels.
std::vector<BenchFigure> MeasureInternals(int32_t width, int32_t height, int32_t repeat);

}  // namespace pyrix::preview
