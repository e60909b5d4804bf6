// ConvertKernel: one thread per pixel turns the fire texture's float texels into the host's
// pixels (pixel_conversion.hlsli), packed row after row into 32-bit words, so that the renderer
// reads back 4 or 8 bytes per pixel instead of 16. The CPU build is RunConvertKernel in
// convert_kernel.cpp; the constant buffer's image is ConversionBlock in conversion_block.h.
#include "pixel_conversion.hlsli"

cbuffer Conversion : register(b0)
{
    uint width;
    uint rows;
    uint pixelWords;
    uint unused;
};

Texture2D<float4> fireImage : register(t0);
RWStructuredBuffer<uint> pixels : register(u0);

#define CONVERT_GROUP_WIDTH 64

[numthreads(CONVERT_GROUP_WIDTH, 1, 1)]
void ConvertKernel(uint3 id : SV_DispatchThreadID)
{
    if (id.x >= width || id.y >= rows)
    {
        return;
    }
    const float4 texel = fireImage.Load(int3(int(id.x), int(id.y), 0));
    const uint stride = pixelWords == 1u ? 1u : (pixelWords == 2u ? 2u : 4u);
    const uint first = (id.y * width + id.x) * stride;
    if (stride == 1u)
    {
        pixels[first] = Pack8Bit(texel);
    }
    else if (stride == 2u)
    {
        const uint2 words = Pack16Bit(texel);
        pixels[first] = words.x;
        pixels[first + 1u] = words.y;
    }
    else
    {
        const uint4 words = Pack32Bit(texel);
        pixels[first] = words.x;
        pixels[first + 1u] = words.y;
        pixels[first + 2u] = words.z;
        pixels[first + 3u] = words.w;
    }
}
