// Output conversion of a read-back frame into the host's three pixel layouts, on the
// conversion's own threads (up to six). Prints frames per second and pixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "renderers/output_conversion.h"

namespace pyrix {

namespace {

void ConvertFrame(benchmark::State& state) {
    const int32_t width = static_cast<int32_t>(state.range(0));
    const int32_t height = static_cast<int32_t>(state.range(1));
    const int32_t depth = static_cast<int32_t>(state.range(2));
    const uint32_t pitch = uint32_t(width) * 16;
    std::vector<float> texels(size_t(width) * size_t(height) * 4);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = float(i % 97) / 96.0f;
    const int64_t rowBytes = int64_t(width) * BytesPerPixel(depth);
    std::vector<uint8_t> host(size_t(rowBytes) * size_t(height));

    RenderRequest request;
    request.pixels = host.data();
    request.width = width;
    request.height = height;
    request.rowBytes = rowBytes;
    request.depth = depth;
    const ReadbackImage source{reinterpret_cast<const uint8_t*>(texels.data()), pitch};
    for (auto _ : state) {
        ConvertRows(source, request);
        benchmark::DoNotOptimize(host.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(width) * height);
}

BENCHMARK(ConvertFrame)
    ->ArgNames({"width", "height", "depth"})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Args({3840, 2160, 2})
    ->Args({1920, 127, 0})  // below the serial limit: the calling thread alone
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace pyrix

BENCHMARK_MAIN();
