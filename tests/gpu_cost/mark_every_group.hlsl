// A first pass for the redo test (redo_pass_test.py): every texel wrong, every group marked, so
// that only a redo pass bound to the same marks gives the CPU build's bits.
#include "fire_group.hlsli"

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void MarkEveryGroup(uint3 id : SV_DispatchThreadID, uint3 group : SV_GroupID,
                    uint thread : SV_GroupIndex)
{
    if (thread == 0u)
    {
        redoGroups[GroupIndex(group)] = 1u;
        redoGroups[MarkedGroups()] = 1u;
    }
    if (id.x < width && id.y < height)
    {
        output[id.xy] = float4(-1.0f, -1.0f, -1.0f, -1.0f);
    }
}
