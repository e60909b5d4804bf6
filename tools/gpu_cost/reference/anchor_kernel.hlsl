// AnchorKernel: one thread finds the height at which the fire becomes visible on the emitter's
// centre line (red above 0.02), by a coarse scan from -0.25 up to 0 and a bisection of the first
// visible step. FireKernel shifts the field by the result. The CPU build is RunAnchorKernel in
// cpu_kernels.cpp.
#include "kernel_interface.hlsli"
#include "fire_field.hlsli"

RWStructuredBuffer<float4> anchorOutput : register(u1);

static const float kScanStart = -0.25f;
static const float kScanStep = 0.0078125f;
static const int kScanSamples = 32;
static const int kRefinementSteps = 14;
static const float kVisibleRed = 0.02f;

bool IsVisible(FireFieldParams field, float y)
{
    return fireSample(field, 0.0f, y).red > kVisibleRed;
}

[numthreads(1, 1, 1)]
void AnchorKernel()
{
    if (0.0f >= emitterSize)
    {
        anchorOutput[0] = float4(0.0f, 0.0f, 0.0f, 0.0f);
        return;
    }
    const FireFieldParams field = MakeFireFieldParams();
    float lo = kScanStart;
    float hi = 0.0f;
    // Both loops stay loops: unrolled, each holds the whole fire field dozens of times over.
    [loop]
    for (int i = 1; i <= kScanSamples; ++i)
    {
        const float y = float(i) * kScanStep + kScanStart;
        if (IsVisible(field, y))
        {
            hi = y;
            break;
        }
        lo = y;
    }
    [loop]
    for (int step = 0; step < kRefinementSteps; ++step)
    {
        const float mid = 0.5f * (lo + hi);
        if (IsVisible(field, mid))
        {
            hi = mid;
        }
        else
        {
            lo = mid;
        }
    }
    anchorOutput[0] = float4(0.5f * (lo + hi), 0.0f, 0.0f, 0.0f);
}
