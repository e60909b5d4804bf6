// The fast FireKernel against the scalar reference on the same frames in the same run, and the
// 8-bit output conversion of a 1080p frame against a copy of the same source bytes. After the
// runs it prints the ratios and the targets they are held to:
//   fast path on 2 threads >= 80x the reference on 1 thread (reference frame),
//                          >= 20x (frame full of fire),
//   8-bit conversion >= 0.9x a memcpy of its source on the same threads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kernels/cpu_kernels.h"
#include "kernels/fast_fire_kernel.h"
#include "render/effect_settings.h"
#include "renderers/output_conversion.h"
#include "renderers/frame_params.h"
#include "renderers/render_frame.h"

using namespace pyrix;

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int kRepetitions = 3;

struct Frame {
    const char* name;
    EffectSettings settings;
};

// The settings as the host gives them (percentages, frames); MakeParamsBlock turns them into
// the kernels' constants exactly as a render does.
EffectSettings Settings(float emitterSize, float positionY, float detail) {
    EffectSettings settings;  // detail 1, speed 1, offset 0, frame 1, softness 0, (50%, 70%)
    settings.emitterSize = emitterSize;
    settings.positionY = positionY;
    settings.detail = detail;
    settings.layerWidth = kWidth;
    settings.layerHeight = kHeight;
    return settings;
}

const Frame kFrames[] = {
    {"reference", Settings(100.0f, 0.7f, 1.0f)},
    {"full_fire", Settings(1000.0f, 0.95f, 1.0f)},
    {"detail_5", Settings(100.0f, 0.7f, 5.0f)},
};

ParamsBlock FrameParams(const Frame& frame) {
    RenderRequest request{nullptr, kWidth, kHeight, int64_t{4} * kWidth, 0, 0, 0};
    return MakeParamsBlock(request, frame.settings, FrameExtent{kWidth, kHeight});
}

struct Texels {
    Texels() : values(size_t{kWidth} * kHeight * 4) {}
    TexelImage Image() { return TexelImage{values.data(), size_t{kWidth} * 16, kWidth, kHeight}; }
    std::vector<float> values;
};

// Both kernels, as a frame runs them.
void ReferenceFrame(benchmark::State& state, const Frame* frame) {
    const ParamsBlock params = FrameParams(*frame);
    Texels texels;
    for (auto _ : state) {
        const AnchorRecord anchor = RunAnchorKernel(params);
        RunFireKernel(params, anchor, texels.Image());
        benchmark::DoNotOptimize(texels.values.data());
    }
    state.counters["Mpix/s"] = benchmark::Counter(double{kWidth} * kHeight * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void FastFrame(benchmark::State& state, const Frame* frame) {
    const ParamsBlock params = FrameParams(*frame);
    FastFireOptions options;
    options.threads = static_cast<unsigned>(state.range(0));
    Texels texels;
    for (auto _ : state) {
        const AnchorRecord anchor = RunAnchorKernel(params);
        RunFastFireKernel(params, anchor, texels.Image(), options);
        benchmark::DoNotOptimize(texels.values.data());
    }
    state.counters["Mpix/s"] = benchmark::Counter(double{kWidth} * kHeight * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// The conversion's source: the reference frame's fire.
const std::vector<float>& ConversionSource() {
    static const std::vector<float> source = [] {
        Texels texels;
        const ParamsBlock params = FrameParams(kFrames[0]);
        RunFastFireKernel(params, RunAnchorKernel(params), texels.Image());
        return texels.values;
    }();
    return source;
}

void Convert8Bit(benchmark::State& state) {
    const std::vector<float>& texels = ConversionSource();
    const ReadbackImage source{reinterpret_cast<const uint8_t*>(texels.data()),
                               uint32_t{kWidth} * 16};
    std::vector<uint8_t> output(size_t{kWidth} * kHeight * 4);
    const RenderRequest request{output.data(), kWidth, kHeight, int64_t{4} * kWidth, 0, 0, 0};
    for (auto _ : state) {
        ConvertRows(source, request);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 16);
}

// The same source bytes copied row by row on the conversion's threads.
void MemcpySource(benchmark::State& state) {
    const std::vector<float>& texels = ConversionSource();
    const uint8_t* source = reinterpret_cast<const uint8_t*>(texels.data());
    std::vector<uint8_t> copy(texels.size() * sizeof(float));
    const size_t rowBytes = size_t{kWidth} * 16;
    for (auto _ : state) {
        ParallelForRows(kHeight, [&](int32_t y) {
            std::memcpy(copy.data() + size_t(y) * rowBytes, source + size_t(y) * rowBytes,
                        rowBytes);
        });
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 16);
}

// Keeps the best real time per iteration of every benchmark over its repetitions, by name and
// arguments ("fast/reference/threads:2"): other work on the machine only ever slows a run down.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration && run.iterations > 0) {
                const std::string& args = run.run_name.args;
                const std::string name =
                    run.run_name.function_name + (args.empty() ? "" : "/" + args);
                const double seconds =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
                const auto known = seconds_.find(name);
                if (known == seconds_.end() || seconds < known->second) seconds_[name] = seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // slow / fast, or 0 when either did not run.
    double Ratio(const std::string& slow, const std::string& fast) const {
        const auto s = seconds_.find(slow);
        const auto f = seconds_.find(fast);
        if (s == seconds_.end() || f == seconds_.end() || f->second <= 0.0) return 0.0;
        return s->second / f->second;
    }

  private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    for (const Frame& frame : kFrames) {
        const std::string name = frame.name;
        benchmark::RegisterBenchmark(("reference/" + name).c_str(), ReferenceFrame, &frame)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(2)
            ->Repetitions(kRepetitions);
        benchmark::RegisterBenchmark(("fast/" + name).c_str(), FastFrame, &frame)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->ArgName("threads")
            ->Arg(1)
            ->Arg(2)
            ->MinTime(0.3)
            ->Repetitions(kRepetitions);
    }
    benchmark::RegisterBenchmark("conversion_8bit/1080p", Convert8Bit)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.3)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark("memcpy_source/1080p", MemcpySource)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.3)
        ->Repetitions(kRepetitions);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    struct Target {
        const char* what;
        double ratio;
        double target;  // 0: reported only
    };
    const Target targets[] = {
        {"reference frame: fast (2 threads) / reference (1 thread)",
         reporter.Ratio("reference/reference", "fast/reference/threads:2"), 80.0},
        {"full fire: fast (2 threads) / reference (1 thread)",
         reporter.Ratio("reference/full_fire", "fast/full_fire/threads:2"), 20.0},
        {"detail 5: fast (2 threads) / reference (1 thread)",
         reporter.Ratio("reference/detail_5", "fast/detail_5/threads:2"), 0.0},
        {"reference frame: fast (1 thread) / reference (1 thread)",
         reporter.Ratio("reference/reference", "fast/reference/threads:1"), 0.0},
        {"8-bit conversion speed / memcpy speed, same threads",
         reporter.Ratio("memcpy_source/1080p", "conversion_8bit/1080p"), 0.9},
    };
    std::printf("\n%-58s %10s %8s\n", "ratio", "measured", "target");
    bool allMet = true;
    for (const Target& target : targets) {
        if (target.ratio <= 0.0) {
            std::printf("%-58s %10s\n", target.what, "not run");
            continue;
        }
        const bool met = target.target <= 0.0 || target.ratio >= target.target;
        allMet = allMet && met;
        if (target.target > 0.0) {
            std::printf("%-58s %9.2fx %7.1fx %s\n", target.what, target.ratio, target.target,
                        met ? "met" : "MISSED");
        } else {
            std::printf("%-58s %9.2fx\n", target.what, target.ratio);
        }
    }
    return allMet ? 0 : 1;
}
