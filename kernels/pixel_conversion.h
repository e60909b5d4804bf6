// The host's pixels from the fire field's float texels, in one definition that the CPU
// conversion (renderers/output_conversion.cpp), the conversion kernel's CPU build and the HLSL
// kernel (pixel_conversion.hlsli, the same functions and constants) all follow:
//
//   sanitize(v) = +0 if v is a NaN or an infinity, a zero of v's sign if v is a zero or a
//                 denormal, else v clamped to [-1e6, 1e6];
//   unit(v)     = sanitize(v) clamped to [0, 1];
//   8 bits:  channel = truncate(unit(v) * 255 + 0.5)      (each operation rounded on its own)
//   16 bits: channel = truncate(unit(v) * 32768 + 0.5)
//   32 bits: alpha = unit(a), colour = sanitize(c); in the host's buffers in memory the order
//            alpha, red, green, blue, in its GPU buffers blue, green, red, alpha
//
// Denormals are settled by their bits, and a clamp selects an operand or a limit without
// computing one (v < lo ? lo : hi < v ? hi : v), so the result does not depend on whether the
// processor or the GPU flushes denormals. Only the two operations of the 8- and 16-bit channels
// round, to nearest as every caller's float scope and every Direct3D 11 device does.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernels/float_bits.h"

namespace pyrix {

constexpr float kSanitizeLimit = 1000000.0f;
constexpr float kScale8Bit = 255.0f;
constexpr float kScale16Bit = 32768.0f;
constexpr float kRoundHalf = 0.5f;

inline float SanitizeFloat(float v) {
    const uint32_t bits = FloatBits(v);
    const uint32_t exponent = bits & 0x7F800000u;
    const float signedZero = FloatFromBits(bits & 0x80000000u);
    const float clamped =
        v < -kSanitizeLimit ? -kSanitizeLimit : (kSanitizeLimit < v ? kSanitizeLimit : v);
    const float settled = exponent == 0u ? signedZero : clamped;  // zero or denormal
    return exponent == 0x7F800000u ? 0.0f : settled;              // infinity or NaN
}

inline float SanitizeUnit(float v) {
    const float s = SanitizeFloat(v);
    return s < 0.0f ? 0.0f : (1.0f < s ? 1.0f : s);
}

inline uint8_t ConvertChannel8(float v) {
    return static_cast<uint8_t>(SanitizeUnit(v) * kScale8Bit + kRoundHalf);
}

inline uint16_t ConvertChannel16(float v) {
    return static_cast<uint16_t>(SanitizeUnit(v) * kScale16Bit + kRoundHalf);
}

// Each depth's channel as ConvertPixels takes it (the value, and whether it is alpha); function
// objects, so that the per-pixel loop inlines them.
struct Channel8 {
    uint8_t operator()(float c, bool) const { return ConvertChannel8(c); }
};

struct Channel16 {
    uint16_t operator()(float c, bool) const { return ConvertChannel16(c); }
};

struct Channel32 {
    float operator()(float c, bool alpha) const {
        return alpha ? SanitizeUnit(c) : SanitizeFloat(c);
    }
};

// Writes `width` host pixels (alpha, red, green, blue) from R, G, B, A texels.
template <class Channel, class Convert>
void ConvertPixels(const float* texel, uint8_t* destination, int64_t width, Convert convert) {
    for (int64_t x = 0; x < width; ++x, texel += 4, destination += 4 * sizeof(Channel)) {
        const Channel pixel[4] = {convert(texel[3], true), convert(texel[0], false),
                                  convert(texel[1], false), convert(texel[2], false)};
        std::memcpy(destination, pixel, sizeof(pixel));  // host rows need not be aligned
    }
}

}  // namespace pyrix
