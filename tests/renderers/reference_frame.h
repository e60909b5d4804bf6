// Test support: host-style output buffers and the CPU reference of a frame, computed straight
// from the CPU kernels, to compare what a render wrote against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernels/params_block.h"
#include "render/render_records.h"

namespace pyrix {

namespace test_support {

constexpr uint8_t kUntouched = 0x5A;  // fill byte of fresh buffers

// A host output buffer with rows `rowBytes` apart (negative: rows run upward from `pixels`).
struct HostBuffer {
    HostBuffer(int32_t width, int32_t height, int32_t depth, int64_t rowBytes = 0);
    HostBuffer(HostBuffer&&) = default;  // the vector keeps its memory, so `pixels` stays valid
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    std::vector<uint8_t> bytes;
    RenderRequest request;  // pixels/width/height/rowBytes/depth set, origin 0

    bool Untouched() const;
    const uint8_t* Pixel(int32_t x, int32_t y) const;
};

// The fire image the kernels compute for `params`: width x height texels of R, G, B, A.
std::vector<float> ReferenceTexels(const ParamsBlock& params);

// The host pixel (bytes in ARGB order of `depth`) for one reference texel.
std::vector<uint8_t> HostPixel(const float* texel, int32_t depth);

// Empty when every pixel of `buffer` equals the reference for `params`; else a description of
// the first mismatch.
std::string CompareWithReference(const HostBuffer& buffer, const ParamsBlock& params);

}  // namespace test_support

}  // namespace pyrix
