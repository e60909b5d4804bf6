// FireKernel: one thread per texel of the output rectangle evaluates the fire field at its
// pixel's domain point, shifted by the anchor's baseOffset. The CPU build is RunFireKernel in
// cpu_kernels.cpp.
#include "kernel_interface.hlsli"
#include "fire_field.hlsli"

StructuredBuffer<float4> anchorInput : register(t0);
RWTexture2D<float4> output : register(u0);

[numthreads(FIRE_GROUP_WIDTH, FIRE_GROUP_HEIGHT, 1)]
void FireKernel(uint3 id : SV_DispatchThreadID)
{
    if (id.x >= width || id.y >= height)
    {
        return;
    }
    const int px = int(id.x) + originX;
    const int py = int(id.y) + originY;
    if (px < 0 || py < 0 || float(px) >= fullWidth || float(py) >= fullHeight)
    {
        output[id.xy] = float4(0.0f, 0.0f, 0.0f, 0.0f);
        return;
    }
    if (0.0f >= emitterSize)
    {
        output[id.xy] = float4(0.0f, 0.0f, 0.0f, 1.0f);
        return;
    }
    const float u = (float(px) + 0.5f) / fullWidth - shiftX;
    const float v = 1.0f - (float(py) + 0.5f) / fullHeight + shiftY;
    const float qx = 5.0f * u - 2.5f;
    float qy = 2.0f * v - 0.18f;
    qy = qy + anchorInput[0].x;
    const FireColour colour = fireSample(MakeFireFieldParams(), qx, qy);
    output[id.xy] = float4(colour.red, colour.green, colour.blue, 1.0f);
}
