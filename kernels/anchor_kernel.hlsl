// AnchorKernel: one group finds the height at which the fire becomes visible on the emitter's
// centre line (red above 0.02), by a coarse scan from -0.25 up to 0 and a bisection of the first
// visible step. FireKernel shifts the field by the result. The CPU build is RunAnchorKernel in
// cpu_kernels.cpp, which takes the steps one after the other.
//
// Here every thread evaluates one point per round, so four rounds of field evaluations replace
// 46 in series: the 32 samples of the scan at once, then the bisection's 14 steps as three
// trees of 5, 5 and 4 levels. Thread k evaluates node k of the tree (node n's children are
// 2n + 1, taken when n's midpoint is visible, and 2n + 2), at the midpoint that the serial
// bisection would reach by the same decisions; every thread then walks the tree from its root
// through the decisions found. The same floats from the same operations: the same bits.
#include "kernel_interface.hlsli"
#include "fire_field.hlsli"

RWStructuredBuffer<float4> anchorOutput : register(u1);

static const float kScanStart = -0.25f;
static const float kScanStep = 0.0078125f;
static const int kScanSamples = 32;
static const int kRefinementSteps = 14;
static const float kVisibleRed = 0.02f;
// Bisection levels per round: 5 + 5 + 4 = kRefinementSteps, at most 31 nodes in a round.
static const uint kTreeLevels = 5u;

// Bit k: the point of thread k in that round is visible.
groupshared uint visibleIn[4];

bool IsVisible(FireFieldParams field, float y)
{
    const ShapePoint shape = shapeCoordinates(field, 0.0f, y);
    if (surelyDark(field, shape))
    {
        return false;
    }
    return fireShade(field, shape, turbulence(field, 0.0f, y, 0u)).red > kVisibleRed;
}

float ScanSample(uint sample)
{
    precise const float y = float(sample) * kScanStep + kScanStart;
    return y;
}

// The midpoint of tree node `node`: the serial bisection's interval after the decisions on the
// path from the root, halved once more.
float NodeMidpoint(uint node, float lo, float hi)
{
    const uint path = node + 1u;
    precise float low = lo;
    precise float high = hi;
    [loop]
    for (int level = int(firstbithigh(path)) - 1; level >= 0; --level)
    {
        precise const float mid = 0.5f * (low + high);
        if (((path >> uint(level)) & 1u) == 0u)
        {
            high = mid;
        }
        else
        {
            low = mid;
        }
    }
    precise const float y = 0.5f * (low + high);
    return y;
}

// The serial bisection's `levels` steps, through the decisions the group found.
void WalkTree(uint visible, uint levels, inout float lo, inout float hi)
{
    uint node = 0u;
    [loop]
    for (uint level = 0u; level < levels; ++level)
    {
        precise const float mid = 0.5f * (lo + hi);
        if (((visible >> node) & 1u) != 0u)
        {
            hi = mid;
            node = 2u * node + 1u;
        }
        else
        {
            lo = mid;
            node = 2u * node + 2u;
        }
    }
}

// The scan's outcome: hi at the first visible sample and lo at the sample before (sample 0 is
// the start); none visible, both at the last sample.
void ScanResult(uint visible, out float lo, out float hi)
{
    if (visible == 0u)
    {
        lo = ScanSample(uint(kScanSamples));
        hi = 0.0f;
        return;
    }
    const uint first = firstbitlow(visible);
    hi = ScanSample(first + 1u);
    lo = ScanSample(first);
}

[numthreads(ANCHOR_GROUP_THREADS, 1, 1)]
void AnchorKernel(uint thread : SV_GroupIndex)
{
    if (0.0f >= emitterSize)
    {
        if (thread == 0u)
        {
            anchorOutput[0] = float4(0.0f, 0.0f, 0.0f, 0.0f);
        }
        return;
    }
    if (thread < 4u)
    {
        visibleIn[thread] = 0u;
    }
    GroupMemoryBarrierWithGroupSync();
    const FireFieldParams field = MakeFireFieldParams();
    precise float lo = kScanStart;
    precise float hi = 0.0f;
    uint levelsLeft = uint(kRefinementSteps);
    // One evaluation site, so that the fire field is inlined once.
    [loop]
    for (uint round = 0u; round < 4u; ++round)
    {
        const uint levels = min(levelsLeft, kTreeLevels);
        const uint points = round == 0u ? uint(kScanSamples) : (1u << levels) - 1u;
        precise const float y = round == 0u ? ScanSample(thread + 1u) : NodeMidpoint(thread, lo, hi);
        if (thread < points)
        {
            if (IsVisible(field, y))
            {
                InterlockedOr(visibleIn[round], 1u << thread);
            }
        }
        GroupMemoryBarrierWithGroupSync();
        const uint visible = visibleIn[round];
        if (round == 0u)
        {
            ScanResult(visible, lo, hi);
        }
        else
        {
            WalkTree(visible, levels, lo, hi);
            levelsLeft = levelsLeft - levels;
        }
    }
    if (thread == 0u)
    {
        precise const float baseOffset = 0.5f * (lo + hi);
        anchorOutput[0] = float4(baseOffset, 0.0f, 0.0f, 0.0f);
    }
}
