// The contract between the renderer and the two kernels: the constant buffer image and the
// anchor record. The HLSL side declares the same layout in kernels/kernel_interface.hlsli.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pyrix {

struct ParamsBlock {
    uint32_t width;  // output rectangle, also the output texture's size
    uint32_t height;
    int32_t originX;  // full-frame column and row of the rectangle's first texel
    int32_t originY;
    float fullWidth;  // full frame at the render's resolution
    float fullHeight;
    float detail;
    float time;
    float shiftX;  // emitter x as a fraction of the frame, minus 0.5
    float shiftY;  // emitter y (downward) as a fraction of the frame, minus 0.91
    float emitterSize;
    float softness;
};

static_assert(sizeof(ParamsBlock) == 48, "ParamsBlock fills exactly three constant registers");
static_assert(offsetof(ParamsBlock, width) == 0);
static_assert(offsetof(ParamsBlock, height) == 4);
static_assert(offsetof(ParamsBlock, originX) == 8);
static_assert(offsetof(ParamsBlock, originY) == 12);
static_assert(offsetof(ParamsBlock, fullWidth) == 16);
static_assert(offsetof(ParamsBlock, fullHeight) == 20);
static_assert(offsetof(ParamsBlock, detail) == 24);
static_assert(offsetof(ParamsBlock, time) == 28);
static_assert(offsetof(ParamsBlock, shiftX) == 32);
static_assert(offsetof(ParamsBlock, shiftY) == 36);
static_assert(offsetof(ParamsBlock, emitterSize) == 40);
static_assert(offsetof(ParamsBlock, softness) == 44);

// The one element of the anchor buffer.
struct AnchorRecord {
    float baseOffset;  // domain height where the centre column becomes visible, in [-0.25, 0]
    float unusedY;
    float unusedZ;
    float unusedW;
};
static_assert(sizeof(AnchorRecord) == 16, "one structured-buffer element of stride 16");

// Thread-group sizes of the kernels.
constexpr uint32_t kFireGroupWidth = 16;
constexpr uint32_t kFireGroupHeight = 8;

// Thread groups of `groupSize` that cover `texels` texels along one axis.
constexpr uint32_t FireGroupCount(uint32_t texels, uint32_t groupSize) {
    return static_cast<uint32_t>((uint64_t{texels} + groupSize - 1) / groupSize);
}

}  // namespace pyrix
