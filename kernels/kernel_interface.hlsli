// The contract between the renderer and the two kernels: the constant buffers Params at b0 and
// Tables at b1 (the host-side images are ParamsBlock and TablesBlock in params_block.h, field
// for field) and the thread-group sizes.
// The kernels declare their own resources: anchorOutput (u1) in anchor_kernel.hlsl, anchorInput
// (t0) and output (u0) in fire_kernel.hlsl, whose buffer form writes worldPixels (u2) with its row
// pitch in Output (b2).
#ifndef KERNEL_INTERFACE_HLSLI
#define KERNEL_INTERFACE_HLSLI

cbuffer Params : register(b0)
{
    uint width;         // output rectangle, also the output texture's size
    uint height;
    int originX;        // full-frame column and row of the rectangle's first texel
    int originY;
    float fullWidth;    // full frame at the render's resolution
    float fullHeight;
    float detail;
    float time;
    float shiftX;       // emitter x as a fraction of the frame, minus 0.5
    float shiftY;       // emitter y (downward) as a fraction of the frame, minus 0.91
    float emitterSize;
    float softness;
};

// The exact math's tables, filled once per device. A constant buffer is what GPUs index
// cheaply at run time: a static array would become indexable temporaries, and choosing its
// entries by selections keeps every entry in registers.
cbuffer Tables : register(b1)
{
    float4 exp2Table[128];               // x high, y low
    float4 log2Table[128];               // x inverse, y high, z low
    uint4 twoOverPiTable[10];            // x word i, y word i + 1
    uint4 inverseFactorialTable[20];     // x high word, y low word
};

#define FIRE_GROUP_WIDTH 16
#define FIRE_GROUP_HEIGHT 8
// One group: a thread per scan sample, and at least the 31 points of a round of the bisection.
#define ANCHOR_GROUP_THREADS 32

#endif
