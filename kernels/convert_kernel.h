// ConvertKernel built for the CPU: the same words per pixel as convert_kernel.hlsl.
#pragma once

#include <cstdint>

#include "kernels/conversion_block.h"
#include "kernels/cpu_kernels.h"

namespace pyrix {

// Converts rows [0, block.rows) of `input` (block.width texels each) into `words`, rows packed
// one after another, block.pixelWords words per pixel, in the host's byte order.
void RunConvertKernel(const ConversionBlock& block, const TexelImage& input, uint32_t* words);

}  // namespace pyrix
