// The depth of the host's pixels, ARGB in each. The host states it in bits per channel (8, 16,
// 32 for float); the render records carry it as a PixelDepth.
#pragma once

#include <cstdint>

enum PixelDepth : int32_t {
    kPixelDepth8 = 0,
    kPixelDepth16 = 1,  // the host's 16 bits: 0 to 32768
    kPixelDepth32Float = 2,
};

// The depth of `bits` per channel; anything but 16 or 32 is 8 bits.
constexpr PixelDepth DepthOfBits(int32_t bits) {
    return bits == 32 ? kPixelDepth32Float : (bits == 16 ? kPixelDepth16 : kPixelDepth8);
}

constexpr int32_t BitsPerChannel(int32_t depth) {
    return depth == kPixelDepth32Float ? 32 : (depth == kPixelDepth16 ? 16 : 8);
}

constexpr int64_t BytesPerPixel(int32_t depth) {
    return 4 * BitsPerChannel(depth) / 8;
}
