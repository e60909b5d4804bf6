// One resource of each kind a kernel may bind, for the layout test (layout_test.py).
cbuffer Constants : register(b0) { uint width; };
cbuffer Tables : register(b1) { float4 table[4]; };
StructuredBuffer<float4> input : register(t0);
Texture2D<float4> picture : register(t1);
Buffer<float> samples : register(t2);
RWTexture2D<float4> output : register(u0);
RWStructuredBuffer<uint> counts : register(u1);
RWBuffer<uint> pixels : register(u2);
SamplerState smooth : register(s0);

[numthreads(8, 4, 1)]
void EveryResource(uint3 id : SV_DispatchThreadID)
{
    const float4 colour = picture.SampleLevel(smooth, float2(id.xy) / 64.0f, 0.0f) +
                          input[id.x] + table[id.y & 3u] + samples[id.x];
    output[id.xy] = colour;
    counts[id.x] = width;
    pixels[id.y * width + id.x] = uint(colour.x);
}
