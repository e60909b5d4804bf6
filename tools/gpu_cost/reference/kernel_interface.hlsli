// The contract between the renderer and the two kernels: the constant buffer Params at b0 (the
// host-side image is ParamsBlock in params_block.h, field for field) and the thread-group sizes.
// The kernels declare their own resources: anchorOutput (u1) in anchor_kernel.hlsl, anchorInput
// (t0) and output (u0) in fire_kernel.hlsl.
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

#define FIRE_GROUP_WIDTH 16
#define FIRE_GROUP_HEIGHT 8

#endif
