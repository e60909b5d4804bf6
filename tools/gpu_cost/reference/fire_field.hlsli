// The procedural fire field. The C++ build in fire_field.h/.cpp mirrors this file function by
// function and constant by constant (same literals, same operation order); keep them in step.
#ifndef FIRE_FIELD_HLSLI
#define FIRE_FIELD_HLSLI

#include "kernel_interface.hlsli"

static const float kSkewF2 = 0.36602542f;           // (sqrt(3) - 1) / 2
static const float kUnskewG2 = 0.21132487f;         // (3 - sqrt(3)) / 6
static const float kFarCornerOffset = -0.57735026f;  // 2 * G2 - 1
static const float kHashRowAX = 127.1f;
static const float kHashRowAY = 311.7f;
static const float kHashRowBX = 269.5f;
static const float kHashRowBY = 183.3f;
static const float kHashScale = 43758.547f;
static const float kNoiseScale = 70.0f;
static const float kHeatExponent = -2.596851f;  // -1.8 / ln 2: 2^(k x) = exp(-1.8 x)

struct FireColour
{
    float red;
    float green;
    float blue;
};

// The parameters of one dispatch and the values derived from them once per dispatch.
struct FireFieldParams
{
    float detail;
    float time;
    float emitterSize;
    float softness;
    float octaveGain;    // k = 1 - 0.9 s
    float contrast;      // g = 1 - 0.75 s
    float amplitude[5];  // 0.5, 0.35 k, 0.25 k^2, 0.125 k^3, 0.0625 k^4
};

struct ShapePoint
{
    float x;
    float y;
    float w;
};

float fract(float x)
{
    return x - floor(x);
}

float pow4(float x)
{
    return x * x * x * x;
}

FireFieldParams MakeFireFieldParams()
{
    FireFieldParams field;
    field.detail = detail;
    field.time = time;
    field.emitterSize = emitterSize;
    field.softness = softness;
    const float k = 1.0f - 0.9f * softness;
    field.octaveGain = k;
    field.contrast = 1.0f - 0.75f * softness;
    field.amplitude[0] = 0.5f;
    field.amplitude[1] = 0.35f * k;
    field.amplitude[2] = 0.25f * (k * k);
    field.amplitude[3] = 0.125f * (k * k * k);
    field.amplitude[4] = 0.0625f * (k * k * k * k);
    return field;
}

float2 gradientHash(float cx, float cy)
{
    const float a = kHashRowAX * cx + kHashRowAY * cy;
    const float b = kHashRowBX * cx + kHashRowBY * cy;
    const float ha = fract(kHashScale * sin(a));
    const float hb = fract(kHashScale * sin(b));
    return float2(2.0f * ha - 1.0f, 2.0f * hb - 1.0f);
}

// One simplex corner: radial falloff to the fourth power times the gradient's dot product.
float cornerContribution(float x, float y, float latticeX, float latticeY)
{
    const float h = max(0.5f - (x * x + y * y), 0.0f);
    const float2 gradient = gradientHash(latticeX, latticeY);
    return pow4(h) * (x * gradient.x + y * gradient.y);
}

float simplexNoise(float px, float py)
{
    const float sk = (px + py) * kSkewF2;
    const float ix = floor(px + sk);
    const float iy = floor(py + sk);
    const float t = (ix + iy) * kUnskewG2;
    const float x0x = px - ix + t;
    const float x0y = py - iy + t;
    // A tie goes to (0, 1).
    const float ox = x0y < x0x ? 1.0f : 0.0f;
    const float oy = x0y < x0x ? 0.0f : 1.0f;
    const float x1x = x0x - ox + kUnskewG2;
    const float x1y = x0y - oy + kUnskewG2;
    const float x2x = x0x + kFarCornerOffset;
    const float x2y = x0y + kFarCornerOffset;
    const float n0 = cornerContribution(x0x, x0y, ix, iy);
    const float n1 = cornerContribution(x1x, x1y, ix + ox, iy + oy);
    const float n2 = cornerContribution(x2x, x2y, ix + 1.0f, iy + 1.0f);
    return kNoiseScale * (n0 + n1 + n2);
}

float turbulence(FireFieldParams field, float qx, float qy)
{
    // noiseInput: the domain point scaled by the detail and scrolled by the time.
    float px = field.detail * qx;
    float py = field.detail * qy - 3.0f * field.time;
    const float octaveScale[4] = {1.01f, 1.04f, 1.04f, 1.03f};
    float sum = field.amplitude[0] * simplexNoise(px, py);
    [unroll]
    for (int octave = 1; octave < 5; ++octave)
    {
        const float mx = 1.7f * px - 1.3f * py;
        const float my = 1.1f * px + 1.5f * py;
        px = octaveScale[octave - 1] * mx;
        py = octaveScale[octave - 1] * my;
        sum = sum + field.amplitude[octave] * simplexNoise(px, py);
    }
    return 0.5f + 0.5f * field.contrast * sum;
}

// Shape coordinates of a domain point: X scaled by the emitter size, Y only above the emitter,
// W the height coordinate that drives the taper and the fade.
ShapePoint shapeCoordinates(FireFieldParams field, float qx, float qy)
{
    ShapePoint shape;
    shape.x = qx / field.emitterSize;
    shape.y = qy > 0.0f ? qy / field.emitterSize : qy;
    shape.w = 0.5f * shape.y + 0.09f;
    return shape;
}

// 1 - 16 d^1.2; the power goes through log2/exp2, so d = 0 gives exactly 1.
float baseIntensity(ShapePoint shape, float f)
{
    const float rx = (1.5f * shape.y + 1.8f) * shape.x;
    const float ry = 0.75f * shape.y;
    const float r = sqrt(rx * rx + ry * ry);
    const float d = max(0.0f, r - f * max(0.0f, shape.y + 0.25f));
    return 1.0f - 16.0f * exp2(1.2f * log2(d));
}

float softIntensity(FireFieldParams field, float c)
{
    if (field.softness > 0.0f)
    {
        return c + field.softness * (c * c * (3.0f - 2.0f * c) - c);
    }
    return c;
}

float heat(ShapePoint shape, float c2, float f)
{
    return c2 * f * (1.5f - pow4(1.3f * shape.w));
}

FireColour fireColour(FireFieldParams field, float a)
{
    FireColour base;
    base.red = saturate(1.5f * a);
    base.green = saturate(1.5f * (a * a * a));
    base.blue = saturate(a * a * a * a * a);
    if (!(field.softness > 0.0f))
    {
        return base;
    }
    const float e = 1.0f - exp2(kHeatExponent * max(a, 0.0f));
    FireColour hot;
    hot.red = e;
    hot.green = e * (0.52f + 0.15f * e);
    hot.blue = e * (0.09f + 0.12f * e);
    const float s = field.softness;
    FireColour colour;
    colour.red = base.red + s * (hot.red - base.red);
    colour.green = base.green + s * (hot.green - base.green);
    colour.blue = base.blue + s * (hot.blue - base.blue);
    return colour;
}

float fade(ShapePoint shape, float c2)
{
    return saturate(c2 * (1.0f - shape.w * shape.w * shape.w));
}

FireColour fireSample(FireFieldParams field, float qx, float qy)
{
    const float f = turbulence(field, qx, qy);
    const ShapePoint shape = shapeCoordinates(field, qx, qy);
    const float c = baseIntensity(shape, f);
    FireColour black;
    black.red = 0.0f;
    black.green = 0.0f;
    black.blue = 0.0f;
    if (!(c > 0.0f))
    {
        return black;
    }
    const float c2 = softIntensity(field, c);
    const float a = heat(shape, c2, f);
    const FireColour colour = fireColour(field, a);
    const float m = fade(shape, c2);
    FireColour result;
    result.red = m * colour.red;
    result.green = m * colour.green;
    result.blue = m * colour.blue;
    return result;
}

#endif
