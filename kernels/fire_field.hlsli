// The procedural fire field. The C++ build in fire_field.h/.cpp mirrors this file function by
// function and constant by constant (same literals, same operation order); keep them in step.
// Every float is precise: no compiler or driver may fuse or reorder its arithmetic.
#ifndef FIRE_FIELD_HLSLI
#define FIRE_FIELD_HLSLI

#include "kernel_interface.hlsli"
#include "exact_math.hlsli"
#include "exact_sin.hlsli"

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
// The bound of |simplexNoise| and the distance from which a point is black: see
// fire_field_constants.h.
static const float kNoiseBound = 1.02f;
static const float kBlackDistance = 0.1f;

struct FireColour
{
    float red;
    float green;
    float blue;
};

// The parameters of one dispatch and the values derived from them once per dispatch. The
// amplitudes are scalars, chosen by octave with comparisons: an array indexed in a loop would
// live in indexable memory instead of registers.
struct FireFieldParams
{
    float detail;
    float time;
    float emitterSize;
    float softness;
    float contrast;    // g = 1 - 0.75 s
    float amplitude0;  // 0.5, 0.35 k, 0.25 k^2, 0.125 k^3, 0.0625 k^4
    float amplitude1;
    float amplitude2;
    float amplitude3;
    float amplitude4;
    float maxTurbulence;  // no point's turbulence is larger
};

// Shape coordinates of a domain point: X scaled by the emitter size, Y only above the emitter,
// W the height coordinate that drives the taper and the fade, and the radius of the tapered
// distance from the emitter.
struct ShapePoint
{
    float x;
    float y;
    float w;
    float radius;
};

// Every float result below is first held by a precise local: a compiler may contract what
// reaches a return value, a struct member or an out parameter unmarked.
float fract(float x)
{
    precise const float r = x - floor(x);
    return r;
}

float pow4(float x)
{
    precise const float r = x * x * x * x;
    return r;
}

FireFieldParams MakeFireFieldParams()
{
    precise const float k = 1.0f - 0.9f * softness;
    precise const float contrast = 1.0f - 0.75f * softness;
    precise const float a0 = 0.5f;
    precise const float a1 = 0.35f * k;
    precise const float a2 = 0.25f * (k * k);
    precise const float a3 = 0.125f * (k * k * k);
    precise const float a4 = 0.0625f * (k * k * k * k);
    precise const float amplitudes = abs(a0) + abs(a1) + abs(a2) + abs(a3) + abs(a4);
    precise const float maxTurbulence = 0.5f + 0.5f * abs(contrast) * (amplitudes * kNoiseBound);
    FireFieldParams field;
    field.detail = detail;
    field.time = time;
    field.emitterSize = emitterSize;
    field.softness = softness;
    field.contrast = contrast;
    field.amplitude0 = a0;
    field.amplitude1 = a1;
    field.amplitude2 = a2;
    field.amplitude3 = a3;
    field.amplitude4 = a4;
    field.maxTurbulence = maxTurbulence;
    return field;
}

float octaveAmplitude(FireFieldParams field, int octave)
{
    return octave == 0   ? field.amplitude0
           : octave == 1 ? field.amplitude1
           : octave == 2 ? field.amplitude2
           : octave == 3 ? field.amplitude3
                         : field.amplitude4;
}

// A kernel may define FIRE_SINE(x), its own sine for the gradients (the fire kernel's first pass
// takes the float path alone and marks what it leaves undecided).
float hashSine(float x)
{
#ifdef FIRE_SINE
    return FIRE_SINE(x);
#else
    return ExactSin(x);
#endif
}

// The octave and corner loops below stay loops, so that the sine's code appears once per row of
// the hash per call site: inlined 30 times over, it makes the kernels too large for the compiler
// to handle in reasonable time. They select scalars by index rather than index arrays, which
// would not stay in registers.
float2 gradientHash(float cx, float cy)
{
    precise const float a = kHashRowAX * cx + kHashRowAY * cy;
    precise const float b = kHashRowBX * cx + kHashRowBY * cy;
    precise const float ha = fract(kHashScale * hashSine(a));
    precise const float hb = fract(kHashScale * hashSine(b));
    precise const float gx = 2.0f * ha - 1.0f;
    precise const float gy = 2.0f * hb - 1.0f;
    return float2(gx, gy);
}

// A kernel that has the gradients at hand defines FIRE_GROUP_PLAN(octave), what it needs to
// find them for one octave, and FIRE_GROUP_GRADIENT(thread, plan, corner, cx, cy), the gradient
// of lattice point (cx, cy), corner `corner` of the simplex at the pixel of thread `thread` of
// its group. Without them every gradient is hashed.
int4 octavePlan(int octave)
{
#ifdef FIRE_GROUP_PLAN
    return FIRE_GROUP_PLAN(octave);
#else
    return int4(octave, 0, 0, 0);
#endif
}

float2 latticeGradient(uint thread, int4 plan, int corner, float cx, float cy)
{
#ifdef FIRE_GROUP_GRADIENT
    return FIRE_GROUP_GRADIENT(thread, plan, corner, cx, cy);
#else
    return gradientHash(cx, cy);
#endif
}

// One simplex corner: radial falloff to the fourth power times the gradient's dot product.
float cornerContribution(uint thread, int4 plan, int corner, float x, float y, float latticeX, float latticeY)
{
    precise const float h = max(0.5f - (x * x + y * y), 0.0f);
    precise const float2 gradient = latticeGradient(thread, plan, corner, latticeX, latticeY);
    precise const float slope = x * gradient.x + y * gradient.y;
    precise const float n = pow4(h) * slope;
    return n;
}

// The lattice cell (skewed coordinates, rounded down) of the point p.
float2 latticeCell(float px, float py)
{
    precise const float sk = (px + py) * kSkewF2;
    precise const float ix = floor(px + sk);
    precise const float iy = floor(py + sk);
    return float2(ix, iy);
}

// The three corners of the simplex around p: offsets from p to each (x, y) and their lattice
// points (latticeX, latticeY).
struct SimplexCorners
{
    float3 x;
    float3 y;
    float3 latticeX;
    float3 latticeY;
};

SimplexCorners simplexCorners(float px, float py)
{
    precise const float2 cell = latticeCell(px, py);
    precise const float ix = cell.x;
    precise const float iy = cell.y;
    precise const float t = (ix + iy) * kUnskewG2;
    precise const float x0x = px - ix + t;
    precise const float x0y = py - iy + t;
    // A tie goes to (0, 1).
    precise const float ox = x0y < x0x ? 1.0f : 0.0f;
    precise const float oy = x0y < x0x ? 0.0f : 1.0f;
    precise const float x1x = x0x - ox + kUnskewG2;
    precise const float x1y = x0y - oy + kUnskewG2;
    precise const float l1x = ix + ox;
    precise const float l1y = iy + oy;
    precise const float x2x = x0x + kFarCornerOffset;
    precise const float x2y = x0y + kFarCornerOffset;
    precise const float l2x = ix + 1.0f;
    precise const float l2y = iy + 1.0f;
    SimplexCorners corners;
    corners.x = float3(x0x, x1x, x2x);
    corners.y = float3(x0y, x1y, x2y);
    corners.latticeX = float3(ix, l1x, l2x);
    corners.latticeY = float3(iy, l1y, l2y);
    return corners;
}

// Component `index` of v, chosen by comparisons rather than by indexing.
float component(float3 v, int index)
{
    return index == 0 ? v.x : index == 1 ? v.y : v.z;
}

float simplexNoise(uint thread, int octave, float px, float py)
{
    const SimplexCorners corners = simplexCorners(px, py);
    const int4 plan = octavePlan(octave);
    precise float n0 = px;
    precise float n1 = px;
    precise float n2 = px;
    [loop]
    for (int corner = 0; corner < 3; ++corner)
    {
        precise const float n = cornerContribution(
            thread, plan, corner, component(corners.x, corner), component(corners.y, corner),
            component(corners.latticeX, corner), component(corners.latticeY, corner));
        if (corner == 0)
        {
            n0 = n;
        }
        else if (corner == 1)
        {
            n1 = n;
        }
        else
        {
            n2 = n;
        }
    }
    precise const float noise = kNoiseScale * (n0 + n1 + n2);
    return noise;
}

// noiseInput: the domain point scaled by the detail and scrolled by the time; the first
// octave's point.
float2 firstOctave(FireFieldParams field, float qx, float qy)
{
    precise const float px = field.detail * qx;
    precise const float py = field.detail * qy - 3.0f * field.time;
    return float2(px, py);
}

// The point of octave `octave` (1 to 4) from the previous octave's point p.
float2 nextOctave(int octave, float px, float py)
{
    const float scale = octave == 1   ? 1.01f
                        : octave == 2 ? 1.04f
                        : octave == 3 ? 1.04f
                                      : 1.03f;
    precise const float mx = 1.7f * px - 1.3f * py;
    precise const float my = 1.1f * px + 1.5f * py;
    precise const float nx = scale * mx;
    precise const float ny = scale * my;
    return float2(nx, ny);
}

float turbulence(FireFieldParams field, float qx, float qy, uint thread)
{
    precise float2 p = firstOctave(field, qx, qy);
    precise float sum = field.amplitude0 * simplexNoise(thread, 0, p.x, p.y);
    [loop]
    for (int octave = 1; octave < 5; ++octave)
    {
        p = nextOctave(octave, p.x, p.y);
        precise const float n = simplexNoise(thread, octave, p.x, p.y);
        sum = sum + octaveAmplitude(field, octave) * n;
    }
    precise const float f = 0.5f + 0.5f * field.contrast * sum;
    return f;
}

// The height coordinate and the radius of shape coordinates x and y.
ShapePoint shapePoint(float x, float y)
{
    precise const float w = 0.5f * y + 0.09f;
    precise const float rx = (1.5f * y + 1.8f) * x;
    precise const float ry = 0.75f * y;
    precise const float radius = ExactSqrt(rx * rx + ry * ry);
    ShapePoint shape;
    shape.x = x;
    shape.y = y;
    shape.w = w;
    shape.radius = radius;
    return shape;
}

ShapePoint shapeCoordinates(FireFieldParams field, float qx, float qy)
{
    precise const float x = ExactDiv(qx, field.emitterSize);
    precise const float y = qy > 0.0f ? ExactDiv(qy, field.emitterSize) : qy;
    return shapePoint(x, y);
}

// Black whatever f is: beyond the flame's reach, or above the fade; see fire_field.cpp.
bool surelyDark(FireFieldParams field, ShapePoint shape)
{
    precise const float d = shape.radius - field.maxTurbulence * max(0.0f, shape.y + 0.25f);
    return d >= kBlackDistance || (field.softness <= 1.0f && shape.w > 1.0f);
}

// 1 - 16 d^1.2; the power goes through log2/exp2, so d = 0 gives exactly 1.
float baseIntensity(ShapePoint shape, float f)
{
    precise const float d = max(0.0f, shape.radius - f * max(0.0f, shape.y + 0.25f));
    precise const float c = 1.0f - 16.0f * ExactExp2(1.2f * ExactLog2(d));
    return c;
}

float softIntensity(FireFieldParams field, float c)
{
    if (field.softness > 0.0f)
    {
        precise const float c2 = c + field.softness * (c * c * (3.0f - 2.0f * c) - c);
        return c2;
    }
    return c;
}

float heat(ShapePoint shape, float c2, float f)
{
    precise const float a = c2 * f * (1.5f - pow4(1.3f * shape.w));
    return a;
}

FireColour fireColour(FireFieldParams field, float a)
{
    precise const float baseRed = saturate(1.5f * a);
    precise const float baseGreen = saturate(1.5f * (a * a * a));
    precise const float baseBlue = saturate(a * a * a * a * a);
    FireColour colour;
    colour.red = baseRed;
    colour.green = baseGreen;
    colour.blue = baseBlue;
    if (!(field.softness > 0.0f))
    {
        return colour;
    }
    precise const float e = 1.0f - ExactExp2(kHeatExponent * max(a, 0.0f));
    precise const float hotGreen = e * (0.52f + 0.15f * e);
    precise const float hotBlue = e * (0.09f + 0.12f * e);
    precise const float s = field.softness;
    precise const float red = baseRed + s * (e - baseRed);
    precise const float green = baseGreen + s * (hotGreen - baseGreen);
    precise const float blue = baseBlue + s * (hotBlue - baseBlue);
    colour.red = red;
    colour.green = green;
    colour.blue = blue;
    return colour;
}

float fade(ShapePoint shape, float c2)
{
    precise const float m = saturate(c2 * (1.0f - shape.w * shape.w * shape.w));
    return m;
}

// The colour of a point of shape `shape` and turbulence f.
FireColour fireShade(FireFieldParams field, ShapePoint shape, float f)
{
    precise const float c = baseIntensity(shape, f);
    FireColour result;
    result.red = 0.0f;
    result.green = 0.0f;
    result.blue = 0.0f;
    if (!(c > 0.0f))
    {
        return result;
    }
    precise const float c2 = softIntensity(field, c);
    precise const float a = heat(shape, c2, f);
    const FireColour colour = fireColour(field, a);
    precise const float m = fade(shape, c2);
    precise const float red = m * colour.red;
    precise const float green = m * colour.green;
    precise const float blue = m * colour.blue;
    result.red = red;
    result.green = green;
    result.blue = blue;
    return result;
}

#endif
