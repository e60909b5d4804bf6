#include "tests/renderers/reference_frame.h"

#include <cstring>

#include "kernels/cpu_kernels.h"

namespace pyrix {

namespace test_support {

namespace {

int32_t PixelBytes(int32_t depth) {
    return depth == 2 ? 16 : (depth == 1 ? 8 : 4);
}

}  // namespace

HostBuffer::HostBuffer(int32_t width, int32_t height, int32_t depth, int64_t rowBytes) {
    const int64_t tight = int64_t(width) * PixelBytes(depth);
    if (rowBytes == 0) rowBytes = tight;
    const int64_t magnitude = rowBytes < 0 ? -rowBytes : rowBytes;
    bytes.assign(size_t(magnitude * (height > 0 ? height : 1) + 16), kUntouched);
    request.width = width;
    request.height = height;
    request.depth = depth;
    request.rowBytes = rowBytes;
    // With upward rows the first row sits at the end of the allocation.
    request.pixels = bytes.data() + (rowBytes < 0 ? magnitude * (height - 1) : 0);
}

bool HostBuffer::Untouched() const {
    for (uint8_t b : bytes) {
        if (b != kUntouched) return false;
    }
    return true;
}

const uint8_t* HostBuffer::Pixel(int32_t x, int32_t y) const {
    return request.pixels + int64_t(y) * request.rowBytes + int64_t(x) * PixelBytes(request.depth);
}

std::vector<float> ReferenceTexels(const ParamsBlock& params) {
    std::vector<float> texels(size_t(params.width) * params.height * 4, -1.0f);
    const AnchorRecord anchor = RunAnchorKernel(params);
    RunFireKernel(
        params, anchor,
        TexelImage{texels.data(), size_t(params.width) * 16, params.width, params.height});
    return texels;
}

std::vector<uint8_t> HostPixel(const float* texel, int32_t depth) {
    const float argb[4] = {texel[3], texel[0], texel[1], texel[2]};
    std::vector<uint8_t> pixel(size_t(PixelBytes(depth)));
    for (int c = 0; c < 4; ++c) {
        // The kernels' values lie in [0, 1], where the conversion does no clamping.
        if (depth == 2) {
            std::memcpy(&pixel[size_t(c) * 4], &argb[c], 4);
        } else if (depth == 1) {
            const uint16_t v = static_cast<uint16_t>(argb[c] * 32768.0f + 0.5f);
            std::memcpy(&pixel[size_t(c) * 2], &v, 2);
        } else {
            pixel[size_t(c)] = static_cast<uint8_t>(argb[c] * 255.0f + 0.5f);
        }
    }
    return pixel;
}

std::string CompareWithReference(const HostBuffer& buffer, const ParamsBlock& params) {
    const std::vector<float> texels = ReferenceTexels(params);
    const RenderRequest& request = buffer.request;
    if (uint32_t(request.width) != params.width || uint32_t(request.height) != params.height) {
        return "buffer and params differ in size";
    }
    for (int32_t y = 0; y < request.height; ++y) {
        for (int32_t x = 0; x < request.width; ++x) {
            const float* texel = &texels[(size_t(y) * params.width + size_t(x)) * 4];
            const std::vector<uint8_t> expected = HostPixel(texel, request.depth);
            if (std::memcmp(buffer.Pixel(x, y), expected.data(), expected.size()) != 0) {
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                       ") differs from the reference";
            }
        }
    }
    return {};
}

}  // namespace test_support

}  // namespace pyrix
