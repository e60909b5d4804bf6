// The host's pixels have one definition (kernels/pixel_conversion.h): the CPU conversion and the
// conversion kernel's CPU build must give its bytes for every class of float, whatever the
// processor's denormal modes. Under Wine, kernel_probe holds the HLSL kernel to the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/convert_kernel.h"
#include "kernels/exact_math.h"
#include "kernels/float_bits.h"
#include "renderers/output_conversion.h"
#include "tests/renderers/reference_frame.h"

namespace pyrix {
namespace {

struct FloatClass {
    float value;
    uint8_t eightBit;
    uint16_t sixteenBit;
    uint32_t colourBits;  // 32-bit frames: sanitised colour, and alpha as a unit value
    uint32_t alphaBits;
};

const float kDenormal = std::numeric_limits<float>::denorm_min();
const float kBelowOne = std::nextafter(1.0f, 0.0f);
const float kAboveOne = std::nextafter(1.0f, 2.0f);
const FloatClass kClasses[] = {
    {0.0f, 0, 0, 0x00000000u, 0x00000000u},
    {-0.0f, 0, 0, 0x80000000u, 0x80000000u},
    {kDenormal, 0, 0, 0x00000000u, 0x00000000u},
    {-kDenormal, 0, 0, 0x80000000u, 0x80000000u},
    {std::numeric_limits<float>::min(), 0, 0, 0x00800000u, 0x00800000u},
    {0.5f, 128, 16384, FloatBits(0.5f), FloatBits(0.5f)},  // halves: 127.5 + 0.5, 16384 + 0.5
    {1.0f / 512.0f, 0, 64, FloatBits(1.0f / 512.0f), FloatBits(1.0f / 512.0f)},
    {kBelowOne, 255, 32768, FloatBits(kBelowOne), FloatBits(kBelowOne)},
    {1.0f, 255, 32768, FloatBits(1.0f), FloatBits(1.0f)},
    {kAboveOne, 255, 32768, FloatBits(kAboveOne), FloatBits(1.0f)},
    {-0.5f, 0, 0, FloatBits(-0.5f), 0x00000000u},
    {1e6f, 255, 32768, FloatBits(1e6f), FloatBits(1.0f)},
    {std::nextafter(1e6f, 2e6f), 255, 32768, FloatBits(1e6f), FloatBits(1.0f)},
    {-1e6f, 0, 0, FloatBits(-1e6f), 0x00000000u},
    {std::nextafter(-1e6f, -2e6f), 0, 0, FloatBits(-1e6f), 0x00000000u},
    {std::numeric_limits<float>::quiet_NaN(), 0, 0, 0x00000000u, 0x00000000u},
    {-std::numeric_limits<float>::quiet_NaN(), 0, 0, 0x00000000u, 0x00000000u},
    {std::numeric_limits<float>::infinity(), 0, 0, 0x00000000u, 0x00000000u},
    {-std::numeric_limits<float>::infinity(), 0, 0, 0x00000000u, 0x00000000u},
};
constexpr int32_t kCount = int32_t(sizeof(kClasses) / sizeof(kClasses[0]));

// The expected host pixel of a texel whose four channels are all `c`.
std::vector<uint8_t> Expected(const FloatClass& c, int32_t depth) {
    std::vector<uint8_t> pixel(size_t(BytesPerPixel(depth)));
    for (int channel = 0; channel < 4; ++channel) {
        if (depth == kPixelDepth8) {
            pixel[size_t(channel)] = c.eightBit;
        } else if (depth == kPixelDepth16) {
            std::memcpy(&pixel[size_t(channel) * 2], &c.sixteenBit, 2);
        } else {
            std::memcpy(&pixel[size_t(channel) * 4], channel == 0 ? &c.alphaBits : &c.colourBits,
                        4);
        }
    }
    return pixel;
}

TEST(PixelDefinition, CpuConversionAndKernelGiveItsBytesForEveryFloatClass) {
    // One texel per class, each class in all four channels; a row long enough for the vector path.
    std::vector<float> texels;
    for (const FloatClass& c : kClasses) texels.insert(texels.end(), 4, c.value);
    const TexelImage image{texels.data(), size_t(kCount) * 16, uint32_t(kCount), 1};
    for (int32_t depth : {kPixelDepth8, kPixelDepth16, kPixelDepth32Float}) {
        test_support::HostBuffer plain(kCount, 1, depth);
        ConvertRows(ReadbackImage{reinterpret_cast<const uint8_t*>(texels.data()), kCount * 16u},
                    plain.request);
        test_support::HostBuffer flushed(kCount, 1, depth);
        {
            const FlushDenormals flush;
            ConvertRows(
                ReadbackImage{reinterpret_cast<const uint8_t*>(texels.data()), kCount * 16u},
                flushed.request);
        }
        const uint32_t words = uint32_t(BytesPerPixel(depth) / 4);
        std::vector<uint32_t> kernel(size_t(kCount) * words, 0xDEADBEEFu);
        RunConvertKernel(ConversionBlock{uint32_t(kCount), 1, words, 0}, image, kernel.data());
        for (int32_t i = 0; i < kCount; ++i) {
            SCOPED_TRACE(::testing::Message() << "depth " << depth << ", class " << i << " ("
                                              << kClasses[i].value << ")");
            const std::vector<uint8_t> expected = Expected(kClasses[i], depth);
            const size_t size = expected.size();
            EXPECT_EQ(std::vector<uint8_t>(plain.Pixel(i, 0), plain.Pixel(i, 0) + size), expected);
            EXPECT_EQ(std::vector<uint8_t>(flushed.Pixel(i, 0), flushed.Pixel(i, 0) + size),
                      expected);
            const auto* word = reinterpret_cast<const uint8_t*>(&kernel[size_t(i) * words]);
            EXPECT_EQ(std::vector<uint8_t>(word, word + size), expected);
        }
    }
}

}  // namespace
}  // namespace pyrix
