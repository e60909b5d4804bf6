// A rendered frame in the host's pixel layout (ARGB, 8 or 16 bits with 32768 as full scale, or
// 32-bit float), rows packed, and its conversions to the RGBA samples that files store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/pixel_depth.h"

namespace pyrix::preview {

struct FrameImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 8;            // bits per channel: 8, 16 or 32 (float)
    std::vector<uint8_t> pixels;  // width * height ARGB pixels, row 0 first

    static FrameImage Blank(int32_t width, int32_t height, int32_t depth);
    size_t pixelBytes() const { return BytesPerPixel(depth); }
    size_t rowBytes() const { return pixelBytes() * static_cast<size_t>(width); }
    uint8_t* row(int32_t y) { return pixels.data() + rowBytes() * static_cast<size_t>(y); }
    const uint8_t* row(int32_t y) const {
        return pixels.data() + rowBytes() * static_cast<size_t>(y);
    }

    static size_t BytesPerPixel(int32_t depth) {
        return static_cast<size_t>(::BytesPerPixel(DepthOfBits(depth)));
    }
};

// Row y as RGBA samples. 16-bit host values (full scale 32768) are rescaled to 65535, floats
// are clamped to [0, 1] for the integer forms; non-finite floats count as 0.
void RowToRgba8(const FrameImage& image, int32_t y, uint8_t* rgba);
void RowToRgba16(const FrameImage& image, int32_t y, uint16_t* rgba);
void RowToRgbaFloat(const FrameImage& image, int32_t y, float* rgba);

}  // namespace pyrix::preview
