// The CPU build of AnchorKernel and FireKernel: thread for thread what the HLSL kernels do.
#include "kernels/cpu_kernels.h"

#include <algorithm>
#include <cstring>

#include "kernels/exact_math.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

constexpr float kScanStart = -0.25f;
constexpr float kScanStep = 0.0078125f;
constexpr int kScanSamples = 32;
constexpr int kRefinementSteps = 14;
constexpr float kVisibleRed = 0.02f;

bool IsVisible(const FireFieldParams& field, float y) {
    const ShapePoint shape = shapeCoordinates(field, 0.0f, y);
    if (surelyDark(field, shape)) {
        return false;
    }
    return fireShade(field, shape, turbulence(field, 0.0f, y)).red > kVisibleRed;
}

void StoreTexel(const TexelImage& output, uint32_t x, uint32_t y, float red, float green,
                float blue, float alpha) {
    const float texel[4] = {red, green, blue, alpha};
    char* row = reinterpret_cast<char*>(output.texels) + static_cast<size_t>(y) * output.rowPitch;
    std::memcpy(row + static_cast<size_t>(x) * sizeof(texel), texel, sizeof(texel));
}

// One thread of FireKernel at global thread ID (x, y), already known to be inside the rectangle.
void FireThread(const ParamsBlock& params, const FireFieldParams& field, float baseOffset,
                const TexelImage& output, uint32_t x, uint32_t y) {
    // The GPU adds in 32-bit two's complement; an overflowing sum lands far outside the frame
    // either way, and 64 bits keep that well-defined here.
    const int64_t px = static_cast<int64_t>(x) + params.originX;
    const int64_t py = static_cast<int64_t>(y) + params.originY;
    if (px < 0 || py < 0 || static_cast<float>(px) >= params.fullWidth ||
        static_cast<float>(py) >= params.fullHeight) {
        StoreTexel(output, x, y, 0.0f, 0.0f, 0.0f, 0.0f);
        return;
    }
    const Float2 q =
        domainPoint(params, baseOffset, static_cast<float>(px), static_cast<float>(py));
    const ShapePoint shape = shapeCoordinates(field, q.x, q.y);
    if (0.0f >= params.emitterSize || surelyDark(field, shape)) {
        StoreTexel(output, x, y, 0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    const FireColour colour = fireShade(field, shape, turbulence(field, q.x, q.y));
    StoreTexel(output, x, y, colour.red, colour.green, colour.blue, 1.0f);
}

}  // namespace

AnchorRecord RunAnchorKernel(const ParamsBlock& params) {
    if (0.0f >= params.emitterSize) {
        return AnchorRecord{0.0f, 0.0f, 0.0f, 0.0f};
    }
    const FlushDenormals flush;
    const FireFieldParams field = MakeFireFieldParams(params);
    float lo = kScanStart;
    float hi = 0.0f;
    for (int i = 1; i <= kScanSamples; ++i) {
        const float y = static_cast<float>(i) * kScanStep + kScanStart;
        if (IsVisible(field, y)) {
            hi = y;
            break;
        }
        lo = y;
    }
    for (int step = 0; step < kRefinementSteps; ++step) {
        const float mid = 0.5f * (lo + hi);
        if (IsVisible(field, mid)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return AnchorRecord{0.5f * (lo + hi), 0.0f, 0.0f, 0.0f};
}

void RunFireKernelGroupRows(const ParamsBlock& params, const AnchorRecord& anchor,
                            const TexelImage& output, uint32_t groupRowBegin,
                            uint32_t groupRowEnd) {
    const FlushDenormals flush;
    const FireFieldParams field = MakeFireFieldParams(params);
    // Writes beyond the bound texture are dropped, as unordered-access writes out of range are.
    const uint64_t columns = std::min(params.width, output.width);
    const uint64_t rows = std::min(params.height, output.height);
    const uint64_t rowEnd = std::min(rows, static_cast<uint64_t>(groupRowEnd) * kFireGroupHeight);
    // Threads of one group row are independent; the order of the loops changes nothing.
    for (uint64_t y = static_cast<uint64_t>(groupRowBegin) * kFireGroupHeight; y < rowEnd; ++y) {
        for (uint64_t x = 0; x < columns; ++x) {
            FireThread(params, field, anchor.baseOffset, output, static_cast<uint32_t>(x),
                       static_cast<uint32_t>(y));
        }
    }
}

void RunFireKernel(const ParamsBlock& params, const AnchorRecord& anchor,
                   const TexelImage& output) {
    RunFireKernelGroupRows(params, anchor, output, 0,
                           FireGroupCount(params.height, kFireGroupHeight));
}

}  // namespace pyrix
