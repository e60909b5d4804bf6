// FireKernel: one thread per texel of the output rectangle evaluates the fire field at its
// pixel's domain point, shifted by the anchor's baseOffset (FireTexel, fire_group.hlsli). The CPU
// build is RunFireKernel in cpu_kernels.cpp.
//
// The first of two passes. Its gradients' sines take the float path alone, which decides all but
// about one argument in 80,000: a group that meets such an argument marks itself in redoGroups,
// and where any group is marked, the renderer runs FireKernelRedo (fire_kernel_redo.hlsl), with
// the whole sine, which renders the marked groups again. So the sine's integer series, which
// most frames never run, sets neither the registers nor the work of every frame.
//
// Two output forms of the one texel: FireKernel writes the Direct3D 11 renderer's texture,
// FireKernelToBuffer the host's own GPU buffer (Direct3D 12) as host pixels.
#include "exact_sin.hlsli"

static bool sineUndecided = false;

// The float path's sine; where it cannot decide, its bits are not the field's, and the pixel's
// group is rendered again.
float FloatPathSine(float x)
{
    return Sine(x, false, sineUndecided);
}

#define FIRE_SINE FloatPathSine
#include "fire_group.hlsli"

// Every thread of the group calls it. The marks start at 0 and the second pass clears the
// ones it finds, so that they are 0 again for the next frame.
float4 FirstPassTexel(uint3 id, uint3 group, uint thread, bool inside)
{
    const float4 texel = FireTexel(id, thread, inside);
    if (sineUndecided)
    {
        redoGroups[GroupIndex(group)] = 1u;
        redoGroups[MarkedGroups()] = 1u;
    }
    return texel;
}

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernel(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                uint thread : SV_GroupIndex)
{
    const bool inside = id.x < width && id.y < height;
    const float4 texel = FirstPassTexel(id, group, thread, inside);
    if (inside)
    {
        output[id.xy] = texel;
    }
}

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernelToBuffer(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                        uint thread : SV_GroupIndex)
{
    const bool inside = id.x < width && id.y < height;
    const float4 texel = FirstPassTexel(id, group, thread, inside);
    if (inside)
    {
        worldPixels[id.y * rowPitch + id.x] = PackGpuBgra128(texel);
    }
}
