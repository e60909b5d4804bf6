// A long host session at its worst: several host threads render frames of mixed sizes, depths
// and paths through EffectMain while aborts, Direct3D failures, lost devices, refused thread
// starts and the odd global set-down arrive at random. Prints what happened; exits with 0 only
// when every frame ended right (reference pixels, a cancel or a known message), no progress
// stalled, and no Direct3D object is left.
//
//   pyrix_soak [--threads N] [--frames N per thread] [--seed N] [--timeout seconds]
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kernels/fan_out.h"
#include "tests/render/render_test_support.h"
#include "tests/renderers/frame_messages.h"
#include "tests/renderers/reference_frame.h"

using namespace pyrix;

namespace {

using render_test::ExpectedParams;
using render_test::Geometry;
using render_test::Knobs;
using render_test::ParamArray;
using render_test::SmartRecords;
using render_test::WorldOf;
using test_support::HostBuffer;

struct Options {
    int threads = 8;
    int frames = 500;
    unsigned seed = 1;
    int timeoutSeconds = 1800;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (name == "--threads") {
            options.threads = value;
        } else if (name == "--frames") {
            options.frames = value;
        } else if (name == "--seed") {
            options.seed = static_cast<unsigned>(value);
        } else if (name == "--timeout") {
            options.timeoutSeconds = value;
        } else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            std::exit(2);
        }
    }
    return options;
}

// The output rectangles frames are cut from; one is tall enough for the threaded conversion.
struct Shape {
    int32_t width, height, originX, originY;
};
const Shape kShapes[] = {{1, 1, 0, 0},     {24, 12, 5, 3},  {64, 48, 0, 0},    {37, 29, 40, 30},
                         {96, 20, 0, 100}, {8, 140, 90, 0}, {200, 150, 10, 5}, {120, 130, 0, 0}};
constexpr int kShapeCount = int(sizeof(kShapes) / sizeof(kShapes[0]));

// Everything a frame can fail with today.
bool IsKnownMessage(const std::string& text) {
    return test_support::kRendererMessages.count(text) != 0;
}

// The reference texels of each shape, at its own origin and at the layer's corner (legacy
// frames start there), computed once.
struct References {
    References(const Knobs& knobs, const Geometry& geometry) {
        for (const Shape& shape : kShapes) {
            atOrigin.push_back(test_support::ReferenceTexels(ExpectedParams(
                knobs, geometry, shape.width, shape.height, shape.originX, shape.originY)));
            atCorner.push_back(test_support::ReferenceTexels(
                ExpectedParams(knobs, geometry, shape.width, shape.height, 0, 0)));
        }
    }
    std::vector<std::vector<float>> atOrigin;
    std::vector<std::vector<float>> atCorner;
};

bool SamePixels(const HostBuffer& buffer, const std::vector<float>& texels) {
    const RenderRequest& r = buffer.request;
    for (int32_t y = 0; y < r.height; ++y) {
        for (int32_t x = 0; x < r.width; ++x) {
            const std::vector<uint8_t> expected =
                test_support::HostPixel(&texels[(size_t(y) * r.width + x) * 4], r.depth);
            if (std::memcmp(buffer.Pixel(x, y), expected.data(), expected.size()) != 0) {
                return false;
            }
        }
    }
    return true;
}

struct Tally {
    std::atomic<int> ok{0};
    std::atomic<int> cancelled{0};
    std::atomic<int> wrongPixels{0};
    std::atomic<int> callFailures{0};
    std::atomic<int> deviceLosses{0};
    std::atomic<int> refusedThreads{0};
    std::atomic<int> setDowns{0};
    std::atomic<int> framesDone{0};
    std::mutex mutex;
    std::map<std::string, int> failures;  // by message, or by code when there is none

    void Failure(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        ++failures[what];
    }
};

// Each host thread decides its own aborts: stop at the n-th abort test of the frame (0: never).
thread_local int tAbortAt = 0;
thread_local int tAbortTests = 0;

class Soak {
  public:
    explicit Soak(const Options& options) : options_(options), references_(knobs_, geometry_) {
        ConfigureHost(host_, knobs_, geometry_);
        host_.SetAbort(
            [] { return ++tAbortTests == tAbortAt ? PF_Interrupt_CANCEL : PF_Err_NONE; });
    }

    void RunThread(int thread) {
        std::mt19937 rng(options_.seed * 7919u + unsigned(thread));
        for (int frame = 0; frame < options_.frames; ++frame) {
            Inject(rng);
            if (rng() % 100 == 0) {
                SetDown();
                ++tally_.setDowns;
            }
            tAbortTests = 0;
            tAbortAt = rng() % 8 == 0 ? int(1 + rng() % 6) : 0;
            const int shape = int(rng() % kShapeCount);
            const int32_t depth = int32_t(rng() % 3);
            if (rng() % 2 == 0) {
                Smart(shape, depth);
            } else {
                Legacy(shape, depth);
            }
            ++tally_.framesDone;
        }
    }

    void SetDown() {
        PF_OutData out{};
        EffectMain(PF_Cmd_GLOBAL_SETDOWN, host_.in_data(), &out, nullptr, nullptr, nullptr);
    }

    Tally& tally() { return tally_; }

  private:
    // Now and then a failure somewhere ahead, for whichever thread gets there first.
    void Inject(std::mt19937& rng) {
        if (rng() % 10 != 0) return;
        switch (rng() % 3) {
            case 0: {
                const d3d_standin::Call calls[] = {d3d_standin::Call::D3D11CreateDevice,
                                                   d3d_standin::Call::CreateComputeShader,
                                                   d3d_standin::Call::CreateBuffer,
                                                   d3d_standin::Call::CreateTexture2D,
                                                   d3d_standin::Call::CreateUnorderedAccessView,
                                                   d3d_standin::Call::Map,
                                                   d3d_standin::Call::CreateWaitableTimerExW};
                const HRESULT result = rng() % 2 == 0 ? E_OUTOFMEMORY : E_FAIL;
                d3d_standin::FailCall(calls[rng() % std::size(calls)], result, int(rng() % 4));
                ++tally_.callFailures;
                break;
            }
            case 1: {
                const HRESULT reasons[] = {DXGI_ERROR_DEVICE_REMOVED, DXGI_ERROR_DEVICE_RESET,
                                           DXGI_ERROR_DEVICE_HUNG};
                d3d_standin::LoseDeviceAtCall(int(rng() % 40), reasons[rng() % 3]);
                ++tally_.deviceLosses;
                break;
            }
            default:
                fan_out_testing::FailThreadStarts(int(1 + rng() % 4));
                ++tally_.refusedThreads;
                break;
        }
    }

    void Smart(int shapeIndex, int32_t depth) {
        const Shape& s = kShapes[shapeIndex];
        SmartRecords records(
            PF_LRect{s.originX, s.originY, s.originX + s.width, s.originY + s.height},
            A_short(8 << depth));
        HostBuffer buffer(s.width, s.height, depth);
        PF_OutData out{};
        const PF_Err result = SmartFrameOnThisThread(host_, records, buffer, &out);
        Record(result, out,
               result == PF_Err_NONE && SamePixels(buffer, references_.atOrigin[shapeIndex]));
    }

    void Legacy(int shapeIndex, int32_t depth) {
        const Shape& s = kShapes[shapeIndex];
        const bool deep = depth != 0;  // the legacy path has 8 and 16 bits
        HostBuffer buffer(s.width, s.height, deep ? 1 : 0);
        PF_EffectWorld world = WorldOf(buffer, 0, 0, deep);
        ParamArray params(knobs_, geometry_);
        PF_OutData out{};
        const PF_Err result =
            EffectMain(PF_Cmd_RENDER, host_.in_data(), &out, params.pointers, &world, nullptr);
        Record(result, out,
               result == PF_Err_NONE && SamePixels(buffer, references_.atCorner[shapeIndex]));
    }

    void Record(PF_Err result, const PF_OutData& out, bool rightPixels) {
        if (result == PF_Err_NONE) {
            if (rightPixels) {
                ++tally_.ok;
            } else {
                ++tally_.wrongPixels;
            }
        } else if (result == PF_Interrupt_CANCEL) {
            ++tally_.cancelled;
        } else if (out.return_msg[0] != '\0') {
            tally_.Failure(std::string(out.return_msg, strnlen(out.return_msg, 256)));
        } else {
            tally_.Failure("code " + std::to_string(result));
        }
    }

    Options options_;
    Knobs knobs_;
    Geometry geometry_{256, 192};
    host_sim::Simulator host_;
    References references_;
    Tally tally_;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const auto start = std::chrono::steady_clock::now();
    std::printf("soak: %d host threads x %d frames, seed %u\n", options.threads, options.frames,
                options.seed);
    std::fflush(stdout);

    Soak soak(options);
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    // A stalled run is a deadlock: say so and stop rather than hang the build.
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(doneMutex);
        if (!doneSignal.wait_for(lock, std::chrono::seconds(options.timeoutSeconds),
                                 [&] { return done; })) {
            std::fprintf(stderr, "soak: not finished after %d s (%d frames done): deadlock?\n",
                         options.timeoutSeconds, soak.tally().framesDone.load());
            std::abort();
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < options.threads; ++t)
        threads.emplace_back([&soak, t] { soak.RunThread(t); });
    for (std::thread& thread : threads) thread.join();
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
    }
    doneSignal.notify_all();
    watchdog.join();

    d3d_standin::ClearFaults();
    fan_out_testing::FailThreadStarts(0);
    soak.SetDown();
    const d3d_standin::Counters counters = d3d_standin::GetCounters();
    const int live = d3d_standin::LiveObjects();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    Tally& tally = soak.tally();
    int failed = 0;
    bool unknown = false;
    for (const auto& entry : tally.failures) {
        failed += entry.second;
        const std::string text = entry.first;
        const std::string prefix = "Tazu Pyrix: ";
        unknown = unknown || text.compare(0, prefix.size(), prefix) != 0 ||
                  !IsKnownMessage(text.substr(prefix.size()));
    }
    std::printf("frames: %d ok, %d cancelled, %d failed, %d with wrong pixels\n", tally.ok.load(),
                tally.cancelled.load(), failed, tally.wrongPixels.load());
    for (const auto& entry : tally.failures) {
        std::printf("  failed \"%s\": %d\n", entry.first.c_str(), entry.second);
    }
    std::printf(
        "injected: %d call failures, %d device losses, %d refused thread starts, %d "
        "set-downs\n",
        tally.callFailures.load(), tally.deviceLosses.load(), tally.refusedThreads.load(),
        tally.setDowns.load());
    std::printf("devices lost: %d, renderers created: %d\n", counters.devicesRemoved,
                counters.devicesCreated);
    std::printf("live Direct3D objects at the end: %d\n", live);
    std::printf("time: %.1f s\n", seconds);
    const bool clean = tally.wrongPixels == 0 && !unknown && live == 0;
    std::printf("%s\n", clean ? "soak: clean" : "soak: FAILED");
    return clean ? 0 : 1;
}
