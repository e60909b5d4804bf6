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
    return fireSample(field, 0.0f, y, 0u).red > kVisibleRed;
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
    precise float lo = kScanStart;
    precise float hi = 0.0f;
    // The scan and the bisection share one loop, so that the fire field is inlined once: twice
    // over, the kernel takes the compiler several times as long. The samples and their order
    // are those of the two loops of the CPU build.
    int sample = 1;
    int refined = 0;
    bool scanning = true;
    [loop]
    for (int evaluation = 0; evaluation < kScanSamples + kRefinementSteps; ++evaluation)
    {
        precise const float scanY = float(sample) * kScanStep + kScanStart;
        precise const float mid = 0.5f * (lo + hi);
        precise const float y = scanning ? scanY : mid;
        const bool visible = IsVisible(field, y);
        if (scanning)
        {
            if (visible)
            {
                hi = y;
                scanning = false;
            }
            else
            {
                lo = y;
                sample = sample + 1;
                scanning = sample <= kScanSamples;
            }
        }
        else
        {
            if (visible)
            {
                hi = y;
            }
            else
            {
                lo = y;
            }
            refined = refined + 1;
            if (refined == kRefinementSteps)
            {
                break;
            }
        }
    }
    precise const float baseOffset = 0.5f * (lo + hi);
    anchorOutput[0] = float4(baseOffset, 0.0f, 0.0f, 0.0f);
}
