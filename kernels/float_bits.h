// A float's bit pattern and back: how the exact operations, the pixel definition and their
// checks read floats.
#pragma once

#include <cstdint>
#include <cstring>

namespace pyrix {

inline uint32_t FloatBits(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof(bits));
    return bits;
}

inline float FloatFromBits(uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    return v;
}

}  // namespace pyrix
