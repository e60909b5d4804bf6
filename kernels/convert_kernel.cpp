#include "kernels/convert_kernel.h"

#include <cstring>

#include "kernels/exact_math.h"
#include "kernels/pixel_conversion.h"

namespace pyrix {

namespace {

// One pixel from an R, G, B, A texel: alpha, red, green, blue channels, little-endian words.
void ConvertPixel(const float* texel, uint32_t pixelWords, uint8_t* pixel) {
    const float channels[4] = {texel[3], texel[0], texel[1], texel[2]};
    for (int c = 0; c < 4; ++c) {
        if (pixelWords == 1) {
            pixel[c] = ConvertChannel8(channels[c]);
        } else if (pixelWords == 2) {
            const uint16_t value = ConvertChannel16(channels[c]);
            std::memcpy(pixel + 2 * c, &value, sizeof(value));
        } else {
            const float value = c == 0 ? SanitizeUnit(channels[c]) : SanitizeFloat(channels[c]);
            std::memcpy(pixel + 4 * c, &value, sizeof(value));
        }
    }
}

}  // namespace

void RunConvertKernel(const ConversionBlock& block, const TexelImage& input, uint32_t* words) {
    const FlushDenormals flush;  // rounding to nearest, as on the GPU
    const uint32_t pixelWords =
        block.pixelWords == 1 || block.pixelWords == 2 ? block.pixelWords : 4;
    auto* pixels = reinterpret_cast<uint8_t*>(words);
    for (uint32_t y = 0; y < block.rows && y < input.height; ++y) {
        const auto* row = reinterpret_cast<const uint8_t*>(input.texels) + y * input.rowPitch;
        for (uint32_t x = 0; x < block.width && x < input.width; ++x) {
            const size_t first = (size_t(y) * block.width + x) * pixelWords;
            ConvertPixel(reinterpret_cast<const float*>(row) + 4 * size_t(x), pixelWords,
                         pixels + 4 * first);
        }
    }
}

}  // namespace pyrix
