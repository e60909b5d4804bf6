// The host's pixels from float texels: the definition written in kernels/pixel_conversion.h,
// function for function and constant for constant (kernel_sources_test holds them together).
// Denormals are settled by their bits and the clamps select without computing, so that a GPU
// which flushes denormals in its arithmetic gives the CPU's bits.
#ifndef PIXEL_CONVERSION_HLSLI
#define PIXEL_CONVERSION_HLSLI

static const float kSanitizeLimit = 1000000.0f;
static const float kScale8Bit = 255.0f;
static const float kScale16Bit = 32768.0f;
static const float kRoundHalf = 0.5f;

float SanitizeFloat(float v)
{
    const uint bits = asuint(v);
    const uint exponent = bits & 0x7F800000u;
    const float signedZero = asfloat(bits & 0x80000000u);
    const float clamped =
        v < -kSanitizeLimit ? -kSanitizeLimit : (kSanitizeLimit < v ? kSanitizeLimit : v);
    const float settled = exponent == 0u ? signedZero : clamped;
    return exponent == 0x7F800000u ? 0.0f : settled;
}

float SanitizeUnit(float v)
{
    const float s = SanitizeFloat(v);
    return s < 0.0f ? 0.0f : (1.0f < s ? 1.0f : s);
}

uint ConvertChannel8(float v)
{
    precise const float scaled = SanitizeUnit(v) * kScale8Bit;
    precise const float rounded = scaled + kRoundHalf;
    return uint(rounded);
}

uint ConvertChannel16(float v)
{
    precise const float scaled = SanitizeUnit(v) * kScale16Bit;
    precise const float rounded = scaled + kRoundHalf;
    return uint(rounded);
}

// A texel (red, green, blue, alpha) as host pixels, packed into little-endian words in the
// host's byte order: alpha, red, green, blue.
uint Pack8Bit(float4 texel)
{
    return ConvertChannel8(texel.a) | (ConvertChannel8(texel.r) << 8) |
           (ConvertChannel8(texel.g) << 16) | (ConvertChannel8(texel.b) << 24);
}

uint2 Pack16Bit(float4 texel)
{
    return uint2(ConvertChannel16(texel.a) | (ConvertChannel16(texel.r) << 16),
                 ConvertChannel16(texel.g) | (ConvertChannel16(texel.b) << 16));
}

uint4 Pack32Bit(float4 texel)
{
    return uint4(asuint(SanitizeUnit(texel.a)), asuint(SanitizeFloat(texel.r)),
                 asuint(SanitizeFloat(texel.g)), asuint(SanitizeFloat(texel.b)));
}

// The host's GPU pixels: the 32-bit values in the order blue, green, red, alpha.
uint4 PackGpuBgra128(float4 texel)
{
    return Pack32Bit(texel).wzyx;
}

#endif
