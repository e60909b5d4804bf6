#include "kernels/convert_kernel.h"

#include "kernels/exact_math.h"
#include "kernels/pixel_conversion.h"

namespace pyrix {

void RunConvertKernel(const ConversionBlock& block, const TexelImage& input, uint32_t* words) {
    const FlushDenormals flush;  // rounding to nearest, as on the GPU
    const uint32_t pixelWords =
        block.pixelWords == 1 || block.pixelWords == 2 ? block.pixelWords : 4;
    auto* pixels = reinterpret_cast<uint8_t*>(words);
    const uint32_t columns = block.width < input.width ? block.width : input.width;
    for (uint32_t y = 0; y < block.rows && y < input.height; ++y) {
        const auto* texels = reinterpret_cast<const float*>(
            reinterpret_cast<const uint8_t*>(input.texels) + y * input.rowPitch);
        uint8_t* row = pixels + size_t(y) * block.width * pixelWords * 4;
        if (pixelWords == 1) {
            ConvertPixels<uint8_t>(texels, row, columns, Channel8{});
        } else if (pixelWords == 2) {
            ConvertPixels<uint16_t>(texels, row, columns, Channel16{});
        } else {
            ConvertPixels<float>(texels, row, columns, Channel32{});
        }
    }
}

}  // namespace pyrix
