// The procedural fire field, built for the CPU. This is the one C++ evaluation of the field that
// both CPU kernels share, and the scalar reference that any faster path has to match bit for
// bit. It mirrors kernels/fire_field.hlsli function by function and constant by constant.
//
// Every translation unit that evaluates the field must be compiled without contraction
// (-ffp-contract=off) and without fast-math: a fused multiply-add in the hash argument selects
// a different gradient after the x43758.547 and the fraction. Sine, exp2, log2, division and
// square root are the exact operations of exact_math.h, never the C library's; the kernels
// evaluate the field with denormals flushed (FlushDenormals), as Direct3D does.
#pragma once

#include <cstdint>

#include "fire_field_constants.h"
#include "params_block.h"

namespace pyrix {

struct Float2 {
    float x;
    float y;
};

struct FireColour {
    float red;
    float green;
    float blue;
};

// The parameters of one dispatch and the values derived from them once per dispatch.
struct FireFieldParams {
    float detail;
    float time;
    float emitterSize;
    float softness;
    float contrast;       // g = 1 - 0.75 s
    float amplitude[5];   // 0.5, 0.35 k, 0.25 k^2, 0.125 k^3, 0.0625 k^4 with k = 1 - 0.9 s
    float maxTurbulence;  // no point's turbulence is larger
};

// Shape coordinates of a domain point: X scaled by the emitter size, Y only above the emitter,
// W the height coordinate that drives the taper and the fade, and the radius of the tapered
// distance from the emitter.
struct ShapePoint {
    float x;
    float y;
    float w;
    float radius;
};

FireFieldParams MakeFireFieldParams(float detail, float time, float emitterSize, float softness);
FireFieldParams MakeFireFieldParams(const ParamsBlock& params);

// The domain point of the full-frame pixel (px, py), its height shifted by the anchor's
// baseOffset: x depends on the column alone and y on the row alone.
float domainX(const ParamsBlock& params, float px);
float domainY(const ParamsBlock& params, float baseOffset, float py);
Float2 domainPoint(const ParamsBlock& params, float baseOffset, float px, float py);

// The first octave's point of domain point q: scaled by the detail, scrolled by the time.
Float2 firstOctave(const FireFieldParams& field, float qx, float qy);

// The point of octave `octave` (1 to 4) from the previous octave's point p.
Float2 nextOctave(int octave, Float2 p);

// The lattice cell of p: the simplex skew's whole part.
Float2 latticeCell(Float2 p);

// Gradient of the lattice point (cx, cy), each component in [-1, 1).
Float2 gradientHash(float cx, float cy);

// 2D simplex noise, roughly within [-1, 1].
float simplexNoise(float px, float py);

// Five-octave turbulence of the domain point q, centred on 0.5.
float turbulence(const FireFieldParams& field, float qx, float qy);

ShapePoint shapeCoordinates(const FireFieldParams& field, float qx, float qy);

// The height coordinate and the radius of shape coordinates x and y: a kernel that shares the
// divisions of shapeCoordinates among a row's or a column's pixels finishes the point here.
ShapePoint shapePoint(float x, float y);

// Whether the point is black whatever its turbulence: its distance stays beyond the flame's
// even with the largest turbulence. Lets a kernel skip the noise where the flame cannot reach.
bool surelyDark(const FireFieldParams& field, const ShapePoint& shape);

// Colour of the domain point q, each channel in [0, 1].
FireColour fireSample(const FireFieldParams& field, float qx, float qy);

// The shape, heat, colour and fade of q for a turbulence value f already computed there:
// fireSample(field, qx, qy) is fireSample(field, qx, qy, turbulence(field, qx, qy)). Lets a
// faster evaluation of the turbulence reuse the one shading code.
FireColour fireSample(const FireFieldParams& field, float qx, float qy, float f);

// The same for the point's shape coordinates.
FireColour fireShade(const FireFieldParams& field, const ShapePoint& shape, float f);

}  // namespace pyrix
