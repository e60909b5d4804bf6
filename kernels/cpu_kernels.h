// The two kernels built for the CPU: the same values per texel as the HLSL kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "params_block.h"

namespace pyrix {

// A texture of four floats (R, G, B, A) per texel, rows rowPitch bytes apart.
struct TexelImage {
    float* texels;
    size_t rowPitch;
    uint32_t width;
    uint32_t height;
};

// AnchorKernel: one thread, one record.
AnchorRecord RunAnchorKernel(const ParamsBlock& params);

// FireKernel for the thread groups in rows [groupRowBegin, groupRowEnd) of the dispatch
// ((width + 15) / 16) x ((height + 7) / 8). Writes only texels inside params.width x height.
void RunFireKernelGroupRows(const ParamsBlock& params, const AnchorRecord& anchor,
                            const TexelImage& output, uint32_t groupRowBegin, uint32_t groupRowEnd);

// FireKernel for the whole dispatch.
void RunFireKernel(const ParamsBlock& params, const AnchorRecord& anchor, const TexelImage& output);

}  // namespace pyrix
