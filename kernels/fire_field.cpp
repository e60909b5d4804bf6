// The fire field in single precision, one operation per written operator, evaluated left to
// right: the order of the roundings is part of the result.
#include "kernels/fire_field.h"

#include <algorithm>
#include <cmath>

#include "kernels/exact_math.h"

namespace pyrix {

namespace {

float fract(float x) {
    return x - std::floor(x);
}

float saturate(float x) {
    return std::min(std::max(x, 0.0f), 1.0f);
}

float pow4(float x) {
    return x * x * x * x;
}

// 1 - 16 d^1.2; the power goes through log2/exp2, so d = 0 gives exactly 1.
float baseIntensity(const ShapePoint& shape, float f) {
    const float d = std::max(0.0f, shape.radius - f * std::max(0.0f, shape.y + 0.25f));
    return 1.0f - 16.0f * ExactExp2(1.2f * ExactLog2(d));
}

float softIntensity(const FireFieldParams& field, float c) {
    if (field.softness > 0.0f) {
        return c + field.softness * (c * c * (3.0f - 2.0f * c) - c);
    }
    return c;
}

float heat(const ShapePoint& shape, float c2, float f) {
    return c2 * f * (1.5f - pow4(1.3f * shape.w));
}

FireColour fireColour(const FireFieldParams& field, float a) {
    FireColour base;
    base.red = saturate(1.5f * a);
    base.green = saturate(1.5f * (a * a * a));
    base.blue = saturate(a * a * a * a * a);
    if (!(field.softness > 0.0f)) {
        return base;
    }
    const float e = 1.0f - ExactExp2(kHeatExponent * std::max(a, 0.0f));
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

float fade(const ShapePoint& shape, float c2) {
    return saturate(c2 * (1.0f - shape.w * shape.w * shape.w));
}

// One simplex corner: radial falloff to the fourth power times the gradient's dot product.
float cornerContribution(float x, float y, float latticeX, float latticeY) {
    const float h = std::max(0.5f - (x * x + y * y), 0.0f);
    const Float2 gradient = gradientHash(latticeX, latticeY);
    return pow4(h) * (x * gradient.x + y * gradient.y);
}

}  // namespace

FireFieldParams MakeFireFieldParams(float detail, float time, float emitterSize, float softness) {
    FireFieldParams field;
    field.detail = detail;
    field.time = time;
    field.emitterSize = emitterSize;
    field.softness = softness;
    const float k = 1.0f - 0.9f * softness;
    field.contrast = 1.0f - 0.75f * softness;
    field.amplitude[0] = 0.5f;
    field.amplitude[1] = 0.35f * k;
    field.amplitude[2] = 0.25f * (k * k);
    field.amplitude[3] = 0.125f * (k * k * k);
    field.amplitude[4] = 0.0625f * (k * k * k * k);
    const float amplitudes = std::fabs(field.amplitude[0]) + std::fabs(field.amplitude[1]) +
                             std::fabs(field.amplitude[2]) + std::fabs(field.amplitude[3]) +
                             std::fabs(field.amplitude[4]);
    field.maxTurbulence = 0.5f + 0.5f * std::fabs(field.contrast) * (amplitudes * kNoiseBound);
    return field;
}

FireFieldParams MakeFireFieldParams(const ParamsBlock& params) {
    return MakeFireFieldParams(params.detail, params.time, params.emitterSize, params.softness);
}

float domainX(const ParamsBlock& params, float px) {
    const float column = px + 0.5f;
    const float u = ExactDiv(column, params.fullWidth) - params.shiftX;
    return 5.0f * u - 2.5f;
}

float domainY(const ParamsBlock& params, float baseOffset, float py) {
    const float row = py + 0.5f;
    const float v = 1.0f - ExactDiv(row, params.fullHeight) + params.shiftY;
    const float qy = 2.0f * v - 0.18f;
    return qy + baseOffset;
}

Float2 domainPoint(const ParamsBlock& params, float baseOffset, float px, float py) {
    return Float2{domainX(params, px), domainY(params, baseOffset, py)};
}

Float2 firstOctave(const FireFieldParams& field, float qx, float qy) {
    return Float2{field.detail * qx, field.detail * qy - 3.0f * field.time};
}

Float2 nextOctave(int octave, Float2 p) {
    const float mx = 1.7f * p.x - 1.3f * p.y;
    const float my = 1.1f * p.x + 1.5f * p.y;
    return Float2{kOctaveScale[octave - 1] * mx, kOctaveScale[octave - 1] * my};
}

Float2 latticeCell(Float2 p) {
    const float sk = (p.x + p.y) * kSkewF2;
    return Float2{std::floor(p.x + sk), std::floor(p.y + sk)};
}

Float2 gradientHash(float cx, float cy) {
    const float a = kHashRowAX * cx + kHashRowAY * cy;
    const float b = kHashRowBX * cx + kHashRowBY * cy;
    const float ha = fract(kHashScale * ExactSin(a));
    const float hb = fract(kHashScale * ExactSin(b));
    return Float2{2.0f * ha - 1.0f, 2.0f * hb - 1.0f};
}

float simplexNoise(float px, float py) {
    const Float2 cell = latticeCell(Float2{px, py});
    const float ix = cell.x;
    const float iy = cell.y;
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

float turbulence(const FireFieldParams& field, float qx, float qy) {
    Float2 p = firstOctave(field, qx, qy);
    float sum = field.amplitude[0] * simplexNoise(p.x, p.y);
    for (int octave = 1; octave < 5; ++octave) {
        p = nextOctave(octave, p);
        sum = sum + field.amplitude[octave] * simplexNoise(p.x, p.y);
    }
    return 0.5f + 0.5f * field.contrast * sum;
}

FireColour fireSample(const FireFieldParams& field, float qx, float qy) {
    return fireSample(field, qx, qy, turbulence(field, qx, qy));
}

ShapePoint shapeCoordinates(const FireFieldParams& field, float qx, float qy) {
    const float x = ExactDiv(qx, field.emitterSize);
    const float y = qy > 0.0f ? ExactDiv(qy, field.emitterSize) : qy;
    return shapePoint(x, y);
}

ShapePoint shapePoint(float x, float y) {
    ShapePoint shape;
    shape.x = x;
    shape.y = y;
    shape.w = 0.5f * shape.y + 0.09f;
    const float rx = (1.5f * shape.y + 1.8f) * shape.x;
    const float ry = 0.75f * shape.y;
    shape.radius = ExactSqrt(rx * rx + ry * ry);
    return shape;
}

// Black whatever f is, two ways.
// - With f <= maxTurbulence and every step rounded monotonically, the distance baseIntensity
//   computes is at least d here, and from kBlackDistance on its intensity is below 0.
// - Above the fade (W > 1) with s <= 1 every channel is +0. Either c <= 0 (black), or the pixel
//   is nearly lit: W > 1 means Y > 1.82, so r >= 0.75 Y > 1.36, and d < 0.0992 needs
//   f > (0.75 Y - 0.0992) / (Y + 0.25) > 0.61. Then c >= 2^-24 (1 - 16 d^1.2 rounds to a
//   multiple of 2^-24 below 1) and c2 > 0 (for 0 < s <= 1 the blend c + s (c^2 (3 - 2c) - c)
//   cannot cancel c, since c^2 (3 - 2c) exceeds half an ulp of c). So fade =
//   saturate(c2 (1 - W^3)) = +0, as 1 - W^3 <= -2^-23; and the colour is +0 or positive: for
//   s <= 0 the heat a = c f (1.5 - (1.3 W)^4) is negative with |a| > 2^-24 * 0.61 * 1.35, so not
//   even a^5 underflows to -0 and each channel saturates a negative number to +0; for
//   0 < s <= 1 base + s (hot - base) is never -0 (hot is +0 for a <= 0). fade * colour = +0.
bool surelyDark(const FireFieldParams& field, const ShapePoint& shape) {
    const float d = shape.radius - field.maxTurbulence * std::max(0.0f, shape.y + 0.25f);
    return d >= kBlackDistance || (field.softness <= 1.0f && shape.w > 1.0f);
}

FireColour fireSample(const FireFieldParams& field, float qx, float qy, float f) {
    return fireShade(field, shapeCoordinates(field, qx, qy), f);
}

FireColour fireShade(const FireFieldParams& field, const ShapePoint& shape, float f) {
    const float c = baseIntensity(shape, f);
    if (!(c > 0.0f)) {
        return FireColour{0.0f, 0.0f, 0.0f};
    }
    const float c2 = softIntensity(field, c);
    const float a = heat(shape, c2, f);
    const FireColour colour = fireColour(field, a);
    const float m = fade(shape, c2);
    return FireColour{m * colour.red, m * colour.green, m * colour.blue};
}

}  // namespace pyrix
