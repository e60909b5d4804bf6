// The procedural fire field. The C++ build in fire_field.h/.cpp mirrors this file function by
// function and constant by constant (same literals, same operation order); keep them in step.
// Every float is precise: no compiler or driver may fuse or reorder its arithmetic.
#ifndef FIRE_FIELD_HLSLI
#define FIRE_FIELD_HLSLI

#include "kernel_interface.hlsli"
#include "exact_math.hlsli"

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
    precise FireFieldParams field;
    field.detail = detail;
    field.time = time;
    field.emitterSize = emitterSize;
    field.softness = softness;
    precise const float k = 1.0f - 0.9f * softness;
    field.contrast = 1.0f - 0.75f * softness;
    field.amplitude[0] = 0.5f;
    field.amplitude[1] = 0.35f * k;
    field.amplitude[2] = 0.25f * (k * k);
    field.amplitude[3] = 0.125f * (k * k * k);
    field.amplitude[4] = 0.0625f * (k * k * k * k);
    return field;
}

// The loops below stay loops, so that the sine's code appears once: inlined 30 times over, it
// makes the kernels too large for the compiler to handle in reasonable time.
float2 gradientHash(float cx, float cy)
{
    precise float argument[2];
    argument[0] = kHashRowAX * cx + kHashRowAY * cy;
    argument[1] = kHashRowBX * cx + kHashRowBY * cy;
    precise float hash[2];
    [loop]
    for (int row = 0; row < 2; ++row)
    {
        hash[row] = fract(kHashScale * ExactSin(argument[row]));
    }
    return float2(2.0f * hash[0] - 1.0f, 2.0f * hash[1] - 1.0f);
}

// One simplex corner: radial falloff to the fourth power times the gradient's dot product.
float cornerContribution(float x, float y, float latticeX, float latticeY)
{
    precise const float h = max(0.5f - (x * x + y * y), 0.0f);
    precise const float2 gradient = gradientHash(latticeX, latticeY);
    return pow4(h) * (x * gradient.x + y * gradient.y);
}

float simplexNoise(float px, float py)
{
    precise const float sk = (px + py) * kSkewF2;
    precise const float ix = floor(px + sk);
    precise const float iy = floor(py + sk);
    precise const float t = (ix + iy) * kUnskewG2;
    precise const float x0x = px - ix + t;
    precise const float x0y = py - iy + t;
    // A tie goes to (0, 1).
    precise const float ox = x0y < x0x ? 1.0f : 0.0f;
    precise const float oy = x0y < x0x ? 0.0f : 1.0f;
    precise float cornerX[3];
    precise float cornerY[3];
    precise float latticeX[3];
    precise float latticeY[3];
    cornerX[0] = x0x;
    cornerY[0] = x0y;
    latticeX[0] = ix;
    latticeY[0] = iy;
    cornerX[1] = x0x - ox + kUnskewG2;
    cornerY[1] = x0y - oy + kUnskewG2;
    latticeX[1] = ix + ox;
    latticeY[1] = iy + oy;
    cornerX[2] = x0x + kFarCornerOffset;
    cornerY[2] = x0y + kFarCornerOffset;
    latticeX[2] = ix + 1.0f;
    latticeY[2] = iy + 1.0f;
    precise float n[3];
    [loop]
    for (int corner = 0; corner < 3; ++corner)
    {
        n[corner] = cornerContribution(cornerX[corner], cornerY[corner], latticeX[corner],
                                       latticeY[corner]);
    }
    return kNoiseScale * (n[0] + n[1] + n[2]);
}

float turbulence(FireFieldParams field, float qx, float qy)
{
    // noiseInput: the domain point scaled by the detail and scrolled by the time.
    precise float px = field.detail * qx;
    precise float py = field.detail * qy - 3.0f * field.time;
    precise const float octaveScale[4] = {1.01f, 1.04f, 1.04f, 1.03f};
    precise float sum = field.amplitude[0] * simplexNoise(px, py);
    [loop]
    for (int octave = 1; octave < 5; ++octave)
    {
        precise const float mx = 1.7f * px - 1.3f * py;
        precise const float my = 1.1f * px + 1.5f * py;
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
    precise ShapePoint shape;
    shape.x = ExactDiv(qx, field.emitterSize);
    shape.y = qy > 0.0f ? ExactDiv(qy, field.emitterSize) : qy;
    shape.w = 0.5f * shape.y + 0.09f;
    return shape;
}

// 1 - 16 d^1.2; the power goes through log2/exp2, so d = 0 gives exactly 1.
float baseIntensity(ShapePoint shape, float f)
{
    precise const float rx = (1.5f * shape.y + 1.8f) * shape.x;
    precise const float ry = 0.75f * shape.y;
    precise const float r = ExactSqrt(rx * rx + ry * ry);
    precise const float d = max(0.0f, r - f * max(0.0f, shape.y + 0.25f));
    return 1.0f - 16.0f * ExactExp2(1.2f * ExactLog2(d));
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
    precise FireColour base;
    base.red = saturate(1.5f * a);
    base.green = saturate(1.5f * (a * a * a));
    base.blue = saturate(a * a * a * a * a);
    if (!(field.softness > 0.0f))
    {
        return base;
    }
    precise const float e = 1.0f - ExactExp2(kHeatExponent * max(a, 0.0f));
    precise FireColour hot;
    hot.red = e;
    hot.green = e * (0.52f + 0.15f * e);
    hot.blue = e * (0.09f + 0.12f * e);
    precise const float s = field.softness;
    precise FireColour colour;
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
    precise const float f = turbulence(field, qx, qy);
    precise const ShapePoint shape = shapeCoordinates(field, qx, qy);
    precise const float c = baseIntensity(shape, f);
    precise FireColour black;
    black.red = 0.0f;
    black.green = 0.0f;
    black.blue = 0.0f;
    if (!(c > 0.0f))
    {
        return black;
    }
    precise const float c2 = softIntensity(field, c);
    precise const float a = heat(shape, c2, f);
    precise const FireColour colour = fireColour(field, a);
    precise const float m = fade(shape, c2);
    precise FireColour result;
    result.red = m * colour.red;
    result.green = m * colour.green;
    result.blue = m * colour.blue;
    return result;
}

#endif
