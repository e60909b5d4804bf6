// What the Direct3D 11 renderer reads back from the GPU per frame: the host's pixel size per
// pixel. 8- and 16-bit frames are converted on the GPU and read back as host pixels; 32-bit
// frames as the float texels, whose size is the host's float pixel too.
#pragma once

#include <cstdint>

#include "render/pixel_depth.h"

namespace pyrix {

constexpr bool ConvertsOnGpu(int32_t depth) {
    return depth == kPixelDepth8 || depth == kPixelDepth16;
}

constexpr uint64_t GpuReadbackBytes(uint64_t width, uint64_t height, int32_t depth) {
    return width * height * static_cast<uint64_t>(BytesPerPixel(depth));
}

}  // namespace pyrix
