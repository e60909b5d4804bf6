// The fire kernels' common body: FireTexel, the texel of one pixel, computed by its group
// together. Neighbouring pixels share lattice points, and each gradient costs two sines. So a
// group first finds, per octave, the rectangle of lattice points its pixels reach (each lit pixel
// adds its cell with atomic min/max), then its threads hash each point of those rectangles once
// into a shared table, and each pixel reads its corners' gradients from there. An octave whose
// rectangle does not fit its share of the table (extreme detail or downsampling), or whose
// cells lie beyond where floats count every integer, is hashed directly: each thread hashes its
// own three corners into its own slots. The same gradients either way, so the same bits. All
// hashing happens in one loop whose trip count the whole group shares, and the evaluation only
// reads, so a device that runs both sides of every branch (llvmpipe does) hashes nothing there.
#ifndef FIRE_GROUP_HLSLI
#define FIRE_GROUP_HLSLI

#include "kernel_interface.hlsli"
#include "pixel_conversion.hlsli"

#define FIRE_OCTAVES 5
#define FIRE_GROUP_THREADS (FIRE_GROUP_WIDTH * FIRE_GROUP_HEIGHT)
// Lattice points per octave. Hashing a point into the table costs two sines, hashing a pixel's
// corners directly six: beyond about three points per pixel the table no longer pays.
#define FIRE_TABLE_POINTS 256
// The slots of directly hashed corners (per such octave, corner and thread) follow the table's
// points. An octave takes at most 3 * 128 = 384 entries either way, so five octaves' worth is
// enough for any mix.
#define FIRE_DIRECT_ENTRIES (3 * FIRE_GROUP_THREADS)
#define FIRE_GRADIENT_ENTRIES (FIRE_OCTAVES * FIRE_DIRECT_ENTRIES)
// The group's plan lives in the last 32 words of the gradients, which only a group hashing all
// five octaves directly fills; such a group reads the plan before hashing and knows where its
// gradients are without it. So the group-shared memory is 15 KB in all, which lets ten waves
// share a SIMD on current GPUs.
#define FIRE_PLAN_WORD (2 * FIRE_GRADIENT_ENTRIES - 32)
#define FIRE_CELL_MIN_X FIRE_PLAN_WORD
#define FIRE_CELL_MAX_X (FIRE_PLAN_WORD + FIRE_OCTAVES)
#define FIRE_CELL_MIN_Y (FIRE_PLAN_WORD + 2 * FIRE_OCTAVES)
#define FIRE_CELL_MAX_Y (FIRE_PLAN_WORD + 3 * FIRE_OCTAVES)
#define FIRE_OUT_OF_REACH (FIRE_PLAN_WORD + 4 * FIRE_OCTAVES)
#define FIRE_GRADIENT_BASE (FIRE_OUT_OF_REACH + 1)
#define FIRE_TABLE_WIDTH (FIRE_GRADIENT_BASE + FIRE_OCTAVES)
// Cells within +-2^23: there every lattice coordinate and its neighbour are exact in a float.
#define FIRE_TABLE_REACH 8388608.0f

// The group's rectangles of lattice cells, each coordinate plus FIRE_CELL_BIAS, so that the
// atomics compare non-negative values only: Wine's Direct3D ran signed atomic min/max of
// group-shared memory as unsigned ones.
#define FIRE_CELL_BIAS 16777216
// Gradient e in words 2e and 2e + 1, and the plan: the rectangles (FIRE_CELL_*), bit o of
// FIRE_OUT_OF_REACH: some cell of octave o is beyond the reach; per octave, FIRE_GRADIENT_BASE:
// >= 0, the table entry of the rectangle's first point, < 0, -1 - the entry of the octave's
// first directly hashed corner; FIRE_TABLE_WIDTH: points per row of the octave's rectangle.
groupshared uint gradientWords[2 * FIRE_GRADIENT_ENTRIES];
// Set after hashing: the group hashed all five octaves directly, and the plan is overwritten.
static bool allDirect = false;

int MinX(int octave)
{
    return int(gradientWords[FIRE_CELL_MIN_X + octave]) - FIRE_CELL_BIAS;
}

int MinY(int octave)
{
    return int(gradientWords[FIRE_CELL_MIN_Y + octave]) - FIRE_CELL_BIAS;
}

// The octave's rectangle of points: its cells and their far corners, one further on each axis.
int TableWidth(int octave)
{
    return int(gradientWords[FIRE_CELL_MAX_X + octave] - gradientWords[FIRE_CELL_MIN_X + octave]) +
           2;
}

int TableHeight(int octave)
{
    return int(gradientWords[FIRE_CELL_MAX_Y + octave] - gradientWords[FIRE_CELL_MIN_Y + octave]) +
           2;
}

// What a pixel needs to find the octave's gradients: x, the first entry of the octave's
// points or -1 - the first entry of its directly hashed corners; y and z, the rectangle's corner;
// w, its width. Read once per octave: each read of group-shared memory costs.
int4 OctavePlan(int octave)
{
    if (allDirect)
    {
        return int4(-1 - octave * FIRE_DIRECT_ENTRIES, 0, 0, 1);
    }
    return int4(int(gradientWords[FIRE_GRADIENT_BASE + octave]), MinX(octave), MinY(octave),
                int(gradientWords[FIRE_TABLE_WIDTH + octave]));
}

float2 GroupGradient(uint thread, int4 plan, int corner, float cx, float cy)
{
    const int tableEntry = plan.x + (int(cy) - plan.z) * plan.w + (int(cx) - plan.y);
    const int directEntry = (-1 - plan.x) + corner * FIRE_GROUP_THREADS + int(thread);
    // Never outside the gradients, whatever a slip would compute.
    const int entry = clamp(plan.x >= 0 ? tableEntry : directEntry, 0, FIRE_GRADIENT_ENTRIES - 1);
    return asfloat(uint2(gradientWords[2 * entry], gradientWords[2 * entry + 1]));
}

#define FIRE_GROUP_PLAN OctavePlan
#define FIRE_GROUP_GRADIENT GroupGradient
#include "fire_field.hlsli"

StructuredBuffer<float4> anchorInput : register(t0);
// The outputs: the Direct3D 11 renderer's texture of the rectangle, converted to host pixels
// afterwards, or the host's GPU world (Direct3D 12), rows of rowPitch pixels of four floats
// (b, g, r, a) written as the host's 32-bit pixels.
RWTexture2D<float4> output : register(u0);
cbuffer Output : register(b2)
{
    uint rowPitch;  // pixels per row of the host's buffer
};
RWStructuredBuffer<uint4> worldPixels : register(u2);
// Per group of the dispatch, row by row: 1 where the first pass met a sine it left undecided;
// then one word more, MarkedGroups(): 1 where any group is marked. The renderer reads that one
// and runs the second pass only then.
RWStructuredBuffer<uint> redoGroups : register(u3);

uint GroupIndex(uint3 group)
{
    return group.y * ((width + FIRE_GROUP_WIDTH - 1u) / FIRE_GROUP_WIDTH) + group.x;
}

uint MarkedGroups()
{
    return GroupIndex(uint3(0u, (height + FIRE_GROUP_HEIGHT - 1u) / FIRE_GROUP_HEIGHT, 0u));
}

// Adds the lattice cells of a pixel's five octaves to the group's rectangles.
void AddCells(FireFieldParams field, float qx, float qy)
{
    precise float2 p = firstOctave(field, qx, qy);
    [loop]
    for (int octave = 0; octave < FIRE_OCTAVES; ++octave)
    {
        if (octave > 0)
        {
            p = nextOctave(octave, p.x, p.y);
        }
        const float2 cell = latticeCell(p.x, p.y);
        if (abs(cell.x) < FIRE_TABLE_REACH && abs(cell.y) < FIRE_TABLE_REACH)
        {
            const uint x = uint(int(cell.x) + FIRE_CELL_BIAS);
            const uint y = uint(int(cell.y) + FIRE_CELL_BIAS);
            InterlockedMin(gradientWords[FIRE_CELL_MIN_X + octave], x);
            InterlockedMax(gradientWords[FIRE_CELL_MAX_X + octave], x);
            InterlockedMin(gradientWords[FIRE_CELL_MIN_Y + octave], y);
            InterlockedMax(gradientWords[FIRE_CELL_MAX_Y + octave], y);
        }
        else
        {
            InterlockedOr(gradientWords[FIRE_OUT_OF_REACH], 1u << uint(octave));
        }
    }
}

// The point of octave `octave` of domain point q.
float2 OctavePoint(FireFieldParams field, float qx, float qy, int octave)
{
    precise float2 p = firstOctave(field, qx, qy);
    [loop]
    for (int step = 1; step <= octave; ++step)
    {
        p = nextOctave(step, p.x, p.y);
    }
    return p;
}

bool Reached(int octave)
{
    return (gradientWords[FIRE_OUT_OF_REACH] & (1u << uint(octave))) != 0u ||
           gradientWords[FIRE_CELL_MAX_X + octave] >= gradientWords[FIRE_CELL_MIN_X + octave];
}

// The number of lattice points of the octave that the table holds: its rectangle (the cells
// and their far corners, one further on each axis), or 0 where it is hashed directly.
int TablePoints(int octave)
{
    if ((gradientWords[FIRE_OUT_OF_REACH] & (1u << uint(octave))) != 0u ||
        gradientWords[FIRE_CELL_MAX_X + octave] < gradientWords[FIRE_CELL_MIN_X + octave])
    {
        return 0;
    }
    // Both spans are below 2^24 here, so neither the spans nor the product overflow.
    const int width = TableWidth(octave);
    const int height = TableHeight(octave);
    if (width > FIRE_TABLE_POINTS || height > FIRE_TABLE_POINTS ||
        width * height > FIRE_TABLE_POINTS)
    {
        return 0;
    }
    return width * height;
}

int Choose(int index, int v0, int v1, int v2, int v3, int v4)
{
    return index == 0 ? v0 : index == 1 ? v1 : index == 2 ? v2 : index == 3 ? v3 : v4;
}

// Where each octave's gradients go: the table's points of octave i from start[i] on (total in
// all), and the directly hashed octaves counted up to and including i in direct[i].
struct GradientLayout
{
    int start1, start2, start3, start4;
    int total;
    int direct0, direct1, direct2, direct3, direct4;
};

// Once planned, the layout lives in the words of the rectangles' far ends: only the planning
// reads those.
#define FIRE_LAYOUT_STARTS FIRE_CELL_MAX_X  // start1 to start4, then total
#define FIRE_LAYOUT_DIRECT FIRE_CELL_MAX_Y  // direct0 to direct4

void PublishOctave(int octave, int points, int start, int direct, int total)
{
    const int base = points > 0 ? start : -1 - (total + (direct - 1) * FIRE_DIRECT_ENTRIES);
    gradientWords[FIRE_GRADIENT_BASE + octave] = uint(base);
    gradientWords[FIRE_TABLE_WIDTH + octave] = uint(TableWidth(octave));
}

// One thread plans for its group: each octave's place and the layout.
void PlanGradients()
{
    const int points0 = TablePoints(0);
    const int points1 = TablePoints(1);
    const int points2 = TablePoints(2);
    const int points3 = TablePoints(3);
    const int points4 = TablePoints(4);
    const int start1 = points0;
    const int start2 = start1 + points1;
    const int start3 = start2 + points2;
    const int start4 = start3 + points3;
    const int total = start4 + points4;
    const int direct0 = Reached(0) && points0 == 0 ? 1 : 0;
    const int direct1 = direct0 + (Reached(1) && points1 == 0 ? 1 : 0);
    const int direct2 = direct1 + (Reached(2) && points2 == 0 ? 1 : 0);
    const int direct3 = direct2 + (Reached(3) && points3 == 0 ? 1 : 0);
    const int direct4 = direct3 + (Reached(4) && points4 == 0 ? 1 : 0);
    PublishOctave(0, points0, 0, direct0, total);
    PublishOctave(1, points1, start1, direct1, total);
    PublishOctave(2, points2, start2, direct2, total);
    PublishOctave(3, points3, start3, direct3, total);
    PublishOctave(4, points4, start4, direct4, total);
    gradientWords[FIRE_LAYOUT_STARTS] = uint(start1);
    gradientWords[FIRE_LAYOUT_STARTS + 1] = uint(start2);
    gradientWords[FIRE_LAYOUT_STARTS + 2] = uint(start3);
    gradientWords[FIRE_LAYOUT_STARTS + 3] = uint(start4);
    gradientWords[FIRE_LAYOUT_STARTS + 4] = uint(total);
    gradientWords[FIRE_LAYOUT_DIRECT] = uint(direct0);
    gradientWords[FIRE_LAYOUT_DIRECT + 1] = uint(direct1);
    gradientWords[FIRE_LAYOUT_DIRECT + 2] = uint(direct2);
    gradientWords[FIRE_LAYOUT_DIRECT + 3] = uint(direct3);
    gradientWords[FIRE_LAYOUT_DIRECT + 4] = uint(direct4);
}

GradientLayout ReadLayout()
{
    GradientLayout l;
    l.start1 = int(gradientWords[FIRE_LAYOUT_STARTS]);
    l.start2 = int(gradientWords[FIRE_LAYOUT_STARTS + 1]);
    l.start3 = int(gradientWords[FIRE_LAYOUT_STARTS + 2]);
    l.start4 = int(gradientWords[FIRE_LAYOUT_STARTS + 3]);
    l.total = int(gradientWords[FIRE_LAYOUT_STARTS + 4]);
    l.direct0 = int(gradientWords[FIRE_LAYOUT_DIRECT]);
    l.direct1 = int(gradientWords[FIRE_LAYOUT_DIRECT + 1]);
    l.direct2 = int(gradientWords[FIRE_LAYOUT_DIRECT + 2]);
    l.direct3 = int(gradientWords[FIRE_LAYOUT_DIRECT + 3]);
    l.direct4 = int(gradientWords[FIRE_LAYOUT_DIRECT + 4]);
    return l;
}

// The step'th gradient of this thread: a table point while step < tableSteps, then the
// corner'th corner of the place'th directly hashed octave, which only a lit pixel reads.
void HashGradient(uint thread, FireFieldParams field, float qx, float qy, bool lit,
                  GradientLayout l, int step, int tableSteps)
{
    const int entry = step * FIRE_GROUP_THREADS + int(thread);
    const int tableOctave = entry >= l.start4   ? 4
                            : entry >= l.start3 ? 3
                            : entry >= l.start2 ? 2
                            : entry >= l.start1 ? 1
                                                : 0;
    const int offset = entry - Choose(tableOctave, 0, l.start1, l.start2, l.start3, l.start4);
    float cx = 0.0f;
    float cy = 0.0f;
    int slot = entry < l.total ? entry : -1;
    if (step < tableSteps)
    {
        const int width = max(int(gradientWords[FIRE_TABLE_WIDTH + tableOctave]), 1);
        cx = float(MinX(tableOctave) + offset % width);
        cy = float(MinY(tableOctave) + offset / width);
    }
    else
    {
        const int direct = step - tableSteps;
        const int place = direct / 3;
        const int corner = direct - 3 * place;
        const int octave = place < l.direct0   ? 0
                           : place < l.direct1 ? 1
                           : place < l.direct2 ? 2
                           : place < l.direct3 ? 3
                                               : 4;
        const float2 p = OctavePoint(field, qx, qy, octave);
        const SimplexCorners corners = simplexCorners(p.x, p.y);
        cx = component(corners.latticeX, corner);
        cy = component(corners.latticeY, corner);
        slot = lit ? l.total + direct * FIRE_GROUP_THREADS + int(thread) : -1;
    }
    if (slot >= 0)
    {
        const uint2 gradient = asuint(gradientHash(cx, cy));
        gradientWords[2 * slot] = gradient.x;
        gradientWords[2 * slot + 1] = gradient.y;
    }
}

// The group hashes every gradient its pixels need: first the table's points, spread over all
// threads, then for each directly hashed octave each lit thread its own three corners. Returns
// whether it hashed all octaves directly.
bool HashGradients(uint thread, FireFieldParams field, float qx, float qy, bool lit)
{
    if (thread == 0u)
    {
        PlanGradients();
    }
    GroupMemoryBarrierWithGroupSync();
    const GradientLayout layout = ReadLayout();
    // Every thread has read the layout before any hashes over it.
    GroupMemoryBarrierWithGroupSync();
    const int tableSteps = (layout.total + FIRE_GROUP_THREADS - 1) / FIRE_GROUP_THREADS;
    const int steps = tableSteps + 3 * layout.direct4;
    [loop]
    for (int step = 0; step < steps; ++step)
    {
        HashGradient(thread, field, qx, qy, lit, layout, step, tableSteps);
    }
    return layout.direct4 == FIRE_OCTAVES;
}

// The domain and shape coordinates of the group's columns (words 0 to 15 and 24 to 39) and rows
// (16 to 23 and 40 to 47), in the gradients' first words until the hashing: thread t works out
// column t or row t - 16, so each division runs once per column or row, not per pixel.
#define FIRE_SHARED_SHAPE (FIRE_GROUP_WIDTH + FIRE_GROUP_HEIGHT)

void ShareDomain(uint3 id, uint thread)
{
    if (thread >= FIRE_SHARED_SHAPE)
    {
        return;
    }
    const bool column = thread < FIRE_GROUP_WIDTH;
    const uint along = column ? thread : thread - FIRE_GROUP_WIDTH;
    const int px = int(id.x - thread % FIRE_GROUP_WIDTH + along) + originX;
    const int py = int(id.y - thread / FIRE_GROUP_WIDTH + along) + originY;
    precise const float columnPosition = float(px) + 0.5f;
    precise const float rowPosition = float(py) + 0.5f;
    precise const float position = column ? columnPosition : rowPosition;
    precise const float fraction = ExactDiv(position, column ? fullWidth : fullHeight);
    precise const float u = fraction - shiftX;
    precise const float v = 1.0f - fraction + shiftY;
    precise const float qx = 5.0f * u - 2.5f;
    precise float qy = 2.0f * v - 0.18f;
    qy = qy + anchorInput[0].x;
    precise const float q = column ? qx : qy;
    precise const float scaled = ExactDiv(q, emitterSize);
    precise const float shape = column || q > 0.0f ? scaled : q;
    gradientWords[thread] = asuint(q);
    gradientWords[FIRE_SHARED_SHAPE + thread] = asuint(shape);
}

// The texel of pixel `id`: every thread of the group calls it and meets its barriers.
float4 FireTexel(uint3 id, uint thread, bool inside)
{
    if (thread < FIRE_OCTAVES)
    {
        gradientWords[FIRE_CELL_MIN_X + thread] = 0xFFFFFFFFu;
        gradientWords[FIRE_CELL_MAX_X + thread] = 0u;
        gradientWords[FIRE_CELL_MIN_Y + thread] = 0xFFFFFFFFu;
        gradientWords[FIRE_CELL_MAX_Y + thread] = 0u;
    }
    if (thread == 0u)
    {
        gradientWords[FIRE_OUT_OF_REACH] = 0u;
    }
    ShareDomain(id, thread);
    GroupMemoryBarrierWithGroupSync();

    // The threads outside the rectangle, the frame or the flame only add no cells.
    const int px = int(id.x) + originX;
    const int py = int(id.y) + originY;
    const bool inFrame = inside && !(px < 0 || py < 0 || float(px) >= fullWidth ||
                                     float(py) >= fullHeight);
    float4 unlit = float4(0.0f, 0.0f, 0.0f, 0.0f);
    const uint column = thread % FIRE_GROUP_WIDTH;
    const uint row = FIRE_GROUP_WIDTH + thread / FIRE_GROUP_WIDTH;
    const float qx = asfloat(gradientWords[column]);
    const float qy = asfloat(gradientWords[row]);
    const FireFieldParams field = MakeFireFieldParams();
    const ShapePoint shape = shapePoint(asfloat(gradientWords[FIRE_SHARED_SHAPE + column]),
                                        asfloat(gradientWords[FIRE_SHARED_SHAPE + row]));
    // Where the flame cannot reach, a pixel is black whatever its noise: it needs no gradients.
    const bool lit = inFrame && !(0.0f >= emitterSize) && !surelyDark(field, shape);
    if (inFrame && !lit)
    {
        unlit = float4(0.0f, 0.0f, 0.0f, 1.0f);
    }
    if (lit)
    {
        AddCells(field, qx, qy);
    }
    GroupMemoryBarrierWithGroupSync();
    allDirect = HashGradients(thread, field, qx, qy, lit);
    GroupMemoryBarrierWithGroupSync();

    if (!lit)
    {
        return unlit;
    }
    const FireColour colour = fireShade(field, shape, turbulence(field, qx, qy, thread));
    return float4(colour.red, colour.green, colour.blue, 1.0f);
}

#endif
