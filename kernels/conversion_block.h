// The contract between the renderer and ConvertKernel (convert_kernel.hlsl): its constant
// buffer at b0, field for field, and its thread-group size. The kernel reads the fire texture
// through a shader-resource view at t0 and writes host pixels into a structured buffer of
// 32-bit words at u0, rows packed one after another (width * pixelWords words each).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pyrix {

struct ConversionBlock {
    uint32_t width;       // texels per row, also host pixels per row
    uint32_t rows;        // rows converted by the dispatch, from the texture's first row
    uint32_t pixelWords;  // 1: 8 bits, 2: 16 bits, 4: 32-bit floats per channel
    uint32_t unused;
};
static_assert(sizeof(ConversionBlock) == 16, "one constant register");
static_assert(offsetof(ConversionBlock, width) == 0);
static_assert(offsetof(ConversionBlock, rows) == 4);
static_assert(offsetof(ConversionBlock, pixelWords) == 8);

// One row of 64 pixels per thread group: its writes are contiguous.
constexpr uint32_t kConvertGroupWidth = 64;

}  // namespace pyrix
