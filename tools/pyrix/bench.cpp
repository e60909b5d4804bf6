#include "tools/pyrix/bench.h"

#ifdef PYRIX_BENCH_INTERNALS
#include <chrono>
#include <cstring>

#include "kernels/cpu_kernels.h"
#include "kernels/fast_fire_kernel.h"
#include "render/effect_settings.h"
#include "renderers/cpu_renderer.h"
#include "renderers/frame_params.h"
#include "renderers/output_conversion.h"
#include "renderers/render_frame.h"
#endif

namespace pyrix::preview {

#ifdef PYRIX_BENCH_INTERNALS
namespace {

template <typename Work>
double SecondsFor(int32_t repeat, Work work) {
    const auto start = std::chrono::steady_clock::now();
    for (int32_t i = 0; i < repeat; ++i) work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<BenchFigure> MeasureInternals(int32_t width, int32_t height, int32_t repeat) {
    EffectSettings settings;  // the parameter defaults
    settings.layerWidth = width;
    settings.layerHeight = height;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> output(pixels * 4);
    RenderRequest request{output.data(), width, height, int64_t{4} * width, 0, 0, 0};
    const ParamsBlock params = MakeParamsBlock(request, settings, FrameExtent{width, height});

    std::vector<float> texels(pixels * 4);
    const TexelImage image{texels.data(), 16 * static_cast<size_t>(width),
                           static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    const double kernelSeconds = SecondsFor(repeat, [&] {
        const AnchorRecord anchor = RunAnchorKernel(params);
        RunFireKernel(params, anchor, image);
    });

    // The fast build, as the Direct3D stand-in now runs it (one thread per processor).
    const double fastSeconds = SecondsFor(repeat, [&] {
        const AnchorRecord anchor = RunAnchorKernel(params);
        RunFastFireKernel(params, anchor, image);
    });

    const ReadbackImage source{reinterpret_cast<const uint8_t*>(texels.data()),
                               static_cast<uint32_t>(image.rowPitch)};
    const double conversionSeconds = SecondsFor(repeat, [&] { ConvertRows(source, request); });

    std::vector<float> copy(pixels * 4);
    const double copySeconds = SecondsFor(repeat, [&] {
        ParallelForRows(height, [&](int32_t y) {
            const size_t offset = static_cast<size_t>(y) * image.rowPitch;
            std::memcpy(reinterpret_cast<uint8_t*>(copy.data()) + offset, source.data + offset,
                        image.rowPitch);
        });
    });

    // The CPU renderer's whole frame (anchor, fast kernel, conversion) into a host buffer that
    // stays mapped between frames, as a host's does; the first frame allocates the float image.
    CpuRenderer renderer;
    FrameContext context;
    context.layerWidth = width;
    context.layerHeight = height;
    renderer.Render(request, params, context, false);
    const double frameSeconds =
        SecondsFor(repeat, [&] { renderer.Render(request, params, context, false); });

    const double bytes = static_cast<double>(pixels) * 16.0 * repeat;
    return {
        {"kernel", static_cast<double>(pixels) * repeat / kernelSeconds / 1e6, "Mpix/s"},
        {"kernel_fast", static_cast<double>(pixels) * repeat / fastSeconds / 1e6, "Mpix/s"},
        {"kernel_fast_speedup", kernelSeconds / fastSeconds, "x"},
        {"conversion_8bit", bytes / conversionSeconds / 1e9, "GB/s"},
        {"memcpy", bytes / copySeconds / 1e9, "GB/s"},
        {"frame_cpu", frameSeconds * 1000.0 / repeat, "ms"},
        {"frame_cpu_over_parts", frameSeconds / (fastSeconds + conversionSeconds), "x"},
    };
}
#else
std::vector<BenchFigure> MeasureInternals(int32_t, int32_t, int32_t) {
    return {};
}
#endif

}  // namespace pyrix::preview
