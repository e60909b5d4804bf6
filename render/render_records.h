// The records that carry one frame from the render entry points to the renderer, and the one
// formula for a frame's extent at the current resolution.
#pragma once

#include <cstdint>

#include "render/pixel_depth.h"

// The host's output buffer. An all-zero request means there is nothing to render.
struct RenderRequest {
    uint8_t* pixels = nullptr;  // row 0, column 0
    int32_t width = 0;
    int32_t height = 0;
    int64_t rowBytes = 0;  // signed: rows may run toward lower addresses
    int32_t originX = 0;   // layer position of column 0, in pixels of the current resolution
    int32_t originY = 0;
    int32_t depth = kPixelDepth8;  // a PixelDepth
};

using AbortTest = bool (*)(void* abortContext);

struct FrameContext {
    int32_t layerWidth = 0;  // full-resolution pixels
    int32_t layerHeight = 0;
    double downsampleX = 1.0;
    double downsampleY = 1.0;
    AbortTest isAborted = nullptr;  // null counts as never aborted
    void* abortContext = nullptr;   // the host's PF_InData of the current command
};

// The extent of a scaled dimension: rounded up, except that a product less than 1e-9 above a
// whole number stays at that number. Out-of-range products saturate so callers can reject them.
inline int32_t ScaledExtent(int32_t size, double factor) {
    const double scaled = static_cast<double>(size) * factor + 0.999999999;
    if (!(scaled > -2147483648.0)) return INT32_MIN;  // also NaN
    if (scaled >= 2147483648.0) return INT32_MAX;
    return static_cast<int32_t>(scaled);
}

struct FrameExtent {
    int32_t width;
    int32_t height;
};

inline FrameExtent FullFrameExtent(const FrameContext& context) {
    return {ScaledExtent(context.layerWidth, context.downsampleX),
            ScaledExtent(context.layerHeight, context.downsampleY)};
}

inline bool IsAborted(const FrameContext& context) {
    return context.isAborted != nullptr && context.isAborted(context.abortContext);
}
