// pyrix bench: frames through EffectMain timed end to end, and the CPU kernels and conversion
// directly where this build has them.
#include <chrono>
#include <memory>
#include <ostream>
#include <sstream>

#include "renderers/gpu_readback.h"
#include "tools/pyrix/bench.h"
#include "tools/pyrix/host_gpu.h"
#include "tools/pyrix/loaded_effect.h"
#include "tools/pyrix/subcommands.h"

namespace pyrix::preview {

namespace {

#ifdef _WIN32
// The host-GPU frame: 32 bits straight into the host's buffer, which stays on the GPU (no
// read-back), the device's set-up outside the timing.
void BenchHostGpuFrame(EffectHost& host, RenderSettings settings, int32_t repeat,
                       const std::atomic<bool>& cancel, std::ostream& out, std::ostream& err) {
    std::ostringstream why;
    std::unique_ptr<HostGpu> gpu = StartHostGpu(host, why);
    if (gpu == nullptr) {
        out << "host_gpu_frame: unavailable\n";
        err << why.str();
        return;
    }
    gpu->SetReadBack(false);
    settings.depth = 32;
    FrameImage image;
    CommandResult result = host.RenderFrame(settings, 1, &cancel, &image);
    double total = 0.0;
    for (int32_t i = 0; result.ok() && i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = host.RenderFrame(settings, 1, &cancel, &image);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const bool stopped = gpu->Stop(err);
    if (!result.ok() || !stopped) {
        if (!result.ok()) ReportFailure(err, result, "host GPU frame: ");
        out << "host_gpu_frame: failed\n";
        return;
    }
    out << "host_gpu_frame: " << Fixed(total * 1000.0 / repeat, 2) << " ms (32 bits)\n";
}
#endif

}  // namespace

int RunBenchCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& cancel) {
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;
    RenderSettings settings;
    settings.layerWidth = line.bench.width;
    settings.layerHeight = line.bench.height;
    settings.depth = line.bench.depth;

    // Through EffectMain, end to end; the first frame also creates the renderer.
    FrameImage image;
    CommandResult result = effect.host->RenderFrame(settings, 1, &cancel, &image);
    double total = 0.0;
    for (int32_t i = 0; result.ok() && i < line.bench.repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = effect.host->RenderFrame(settings, 1, &cancel, &image);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (!result.ok()) {
        ReportFailure(err, result, "");
        Setdown(effect, err);
        return cancel.load() ? kExitInterrupted : kExitFailed;
    }

    out << "size: " << line.bench.width << "x" << line.bench.height << "\n";
    for (const BenchFigure& figure :
         MeasureInternals(line.bench.width, line.bench.height, line.bench.repeat)) {
        out << figure.name << ": " << Fixed(figure.value, 2) << " " << figure.unit << "\n";
    }
    // What the Direct3D 11 renderer reads back for such a frame (the CPU renderer reads none).
    out << "readback_bytes: "
        << GpuReadbackBytes(uint64_t(line.bench.width), uint64_t(line.bench.height),
                            DepthOfBits(line.bench.depth))
        << "\n";
    out << "frame: " << Fixed(total * 1000.0 / line.bench.repeat, 2) << " ms\n";
#ifdef _WIN32
    BenchHostGpuFrame(*effect.host, settings, line.bench.repeat, cancel, out, err);
#endif
    return Setdown(effect, err) ? kExitOk : kExitFailed;
}

}  // namespace pyrix::preview
