// FireKernelRedo: the second pass after FireKernel (fire_kernel.hlsl), over the same groups, run
// where the first marked any. A group that the first pass marked renders its texels again with
// the whole sine and clears its mark and the word that said some group was marked; the others
// leave at once, all their threads together.
#include "fire_group.hlsli"

// False, with no texel, in an unmarked group.
bool RedoneTexel(uint3 id, uint3 group, uint thread, out float4 texel)
{
    texel = float4(0.0f, 0.0f, 0.0f, 0.0f);
    if (redoGroups[GroupIndex(group)] == 0u)
    {
        return false;
    }
    texel = FireTexel(id, thread, id.x < width && id.y < height);
    // Every thread read the mark before FireTexel's barriers.
    if (thread == 0u)
    {
        redoGroups[GroupIndex(group)] = 0u;
        redoGroups[MarkedGroups()] = 0u;
    }
    return true;
}

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernelRedo(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                    uint thread : SV_GroupIndex)
{
    float4 texel;
    if (RedoneTexel(id, group, thread, texel) && id.x < width && id.y < height)
    {
        output[id.xy] = texel;
    }
}

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernelToBufferRedo(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                            uint thread : SV_GroupIndex)
{
    float4 texel;
    if (RedoneTexel(id, group, thread, texel) && id.x < width && id.y < height)
    {
        worldPixels[id.y * rowPitch + id.x] = PackGpuBgra128(texel);
    }
}
