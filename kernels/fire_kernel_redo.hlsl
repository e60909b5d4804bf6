// FireKernelRedo: the second pass after FireKernel (fire_kernel.hlsl), over the same groups. A
// group that the first pass marked renders its texels again with the whole sine and clears its
// mark; the others leave at once, all their threads together.
#include "fire_group.hlsli"

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernelRedo(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                    uint thread : SV_GroupIndex)
{
    if (redoGroups[GroupIndex(group)] == 0u)
    {
        return;
    }
    const bool inside = id.x < width && id.y < height;
    const float4 texel = FireTexel(id, thread, inside);
    // Every thread read the mark before FireTexel's barriers.
    if (thread == 0u)
    {
        redoGroups[GroupIndex(group)] = 0u;
    }
    if (inside)
    {
        output[id.xy] = texel;
    }
}

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernelToBufferRedo(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                            uint thread : SV_GroupIndex)
{
    if (redoGroups[GroupIndex(group)] == 0u)
    {
        return;
    }
    const bool inside = id.x < width && id.y < height;
    const float4 texel = FireTexel(id, thread, inside);
    // Every thread read the mark before FireTexel's barriers.
    if (thread == 0u)
    {
        redoGroups[GroupIndex(group)] = 0u;
    }
    if (inside)
    {
        worldPixels[id.y * rowPitch + id.x] = PackGpuBgra128(texel);
    }
}
