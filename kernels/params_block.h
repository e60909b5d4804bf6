// The contract between the renderer and the two kernels: the constant buffers' images and the
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

// The buffer form of FireKernel's constant buffer Output (b2): the host's GPU buffer's row pitch.
struct OutputBlock {
    uint32_t rowPitch;  // pixels of 16 bytes per row
    uint32_t unused[3];
};
static_assert(sizeof(OutputBlock) == 16, "OutputBlock fills one constant register");

// The exact math's tables as the kernels read them from the constant buffer Tables (b1), one
// entry per 16-byte register so that a run-time index reads one register; unused lanes are 0.
// MakeTablesBlock (exact_math_tables.h) fills it from the CPU build's tables.
struct TablesBlock {
    float exp2[128][4];                 // 2^(j/128): x high, y low
    float log2[128][4];                 // x kLog2Inverse[j], y kLog2High[j], z kLog2Low[j]
    uint32_t twoOverPi[10][4];          // x word i of 2/pi, y word i + 1 (0 past the end)
    uint32_t inverseFactorials[20][4];  // 2^64 / (i + 2)!: x high word, y low word
};
static_assert(sizeof(TablesBlock) == 4576, "286 constant registers");
static_assert(offsetof(TablesBlock, log2) == 2048);
static_assert(offsetof(TablesBlock, twoOverPi) == 4096);
static_assert(offsetof(TablesBlock, inverseFactorials) == 4256);

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
constexpr uint32_t kAnchorGroupThreads = 32;  // one group per dispatch

// Thread groups of `groupSize` that cover `texels` texels along one axis.
constexpr uint32_t FireGroupCount(uint32_t texels, uint32_t groupSize) {
    return static_cast<uint32_t>((uint64_t{texels} + groupSize - 1) / groupSize);
}

// The fire kernel's thread groups over a width x height rectangle: a mark each in redoGroups,
// whose next word (at this index) says whether any is marked.
constexpr uint64_t FireGroupTotal(uint32_t width, uint32_t height) {
    return uint64_t{FireGroupCount(width, kFireGroupWidth)} *
           FireGroupCount(height, kFireGroupHeight);
}

}  // namespace pyrix
