// The CPU renderer where no GPU can serve: on each kind of machine without a usable device it
// renders the reference's pixels (the switch off brings back the GPU path's error), it honours
// an abort inside the fire kernel, and it agrees with device-loss recovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "kernels/fan_out.h"
#include "renderers/cpu_renderer.h"
#include "renderers/render_frame.h"
#include "tests/renderers/reference_frame.h"
#include "tests/renderers/stand_in_fixture.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define PYRIX_TEST_MXCSR 1
#endif

namespace pyrix {

namespace {

using d3d_standin::Kind;
using d3d_standin::LiveObjects;
using test_support::AbortScript;
using test_support::CompareWithReference;
using test_support::ErrorOf;
using test_support::HostBuffer;

// One frame of a 160 x 150 layer, possibly a rectangle of it or downsampled.
struct Frame : test_support::TestFrame {
    Frame(int32_t width, int32_t height, int32_t depth, int64_t rowBytes = 0)
        : TestFrame(160, 150, width, height, depth, rowBytes) {}
};

// The whole frame in 8 bits; a rectangle of it in 16 bits with rows running upward; the frame
// downsampled by 2 in 32 bits. The first is tall enough for the threaded conversion.
std::vector<Frame> Frames() {
    std::vector<Frame> frames;
    frames.emplace_back(160, 150, 0);
    frames.emplace_back(70, 40, 1, -70 * 8 - 24);
    frames.back().buffer.request.originX = 50;
    frames.back().buffer.request.originY = 90;
    frames.emplace_back(80, 75, 2);
    frames.back().context.downsampleX = 0.5;
    frames.back().context.downsampleY = 0.5;
    frames.back().settings.softness = 40.0f;
    return frames;
}

enum class Machine { NoAdapter, SoftwareOnly, DeviceFails };

struct Case {
    const char* name;
    Machine machine;
    const char* fallback;    // the switch: null (unset) or "off"
    const char* gpuMessage;  // what the GPU path says on this machine
};

class NoUsableGpu : public test_support::StandInTest, public ::testing::WithParamInterface<Case> {};

TEST_P(NoUsableGpu, RendersTheReferenceUnlessSwitchedOff) {
    const Case& c = GetParam();
    d3d_standin::AdapterConfig software;
    software.flags = DXGI_ADAPTER_FLAG_SOFTWARE;
    switch (c.machine) {
        case Machine::NoAdapter:
            d3d_standin::SetAdapters({});
            break;
        case Machine::SoftwareOnly:
            d3d_standin::SetAdapters({software});
            break;
        case Machine::DeviceFails:
            d3d_standin::FailCall(d3d_standin::Call::D3D11CreateDevice, E_FAIL, 0,
                                  d3d_standin::kEveryCall);
            break;
    }
    test_support::SetCpuFallback(c.fallback);
    for (Frame& frame : Frames()) {
        SCOPED_TRACE(std::to_string(frame.buffer.request.width) + " wide, depth " +
                     std::to_string(frame.buffer.request.depth));
        if (c.fallback == nullptr) {
            EXPECT_EQ(frame.Outcome(), "");
        } else {
            EXPECT_EQ(frame.Outcome(), c.gpuMessage);
            EXPECT_TRUE(frame.buffer.Untouched());
        }
    }
    EXPECT_EQ(LiveObjects(Kind::Device), 0);
    EXPECT_EQ(d3d_standin::GetCounters().dispatches, 0) << "no kernel ran on a device";
}

INSTANTIATE_TEST_SUITE_P(Machines, NoUsableGpu,
                         ::testing::Values(Case{"noAdapter", Machine::NoAdapter, nullptr, ""},
                                           Case{"noAdapterSwitchedOff", Machine::NoAdapter, "off",
                                                "No hardware GPU available"},
                                           Case{"softwareOnly", Machine::SoftwareOnly, nullptr, ""},
                                           Case{"softwareOnlySwitchedOff", Machine::SoftwareOnly,
                                                "off", "No hardware GPU available"},
                                           Case{"deviceFails", Machine::DeviceFails, nullptr, ""},
                                           Case{"deviceFailsSwitchedOff", Machine::DeviceFails,
                                                "off", "Direct3D 11 GPU initialization failed"}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return param.param.name;
                         });

class CpuRendering : public test_support::StandInTest {};

// Forced with a GPU present, and with every worker thread refused: the calling thread renders
// the frame alone.
TEST_F(CpuRendering, ForcedItIgnoresTheGpuAndSurvivesRefusedThreads) {
    test_support::SetCpuFallback("force");
    {
        const fan_out_testing::ScopedThreadStartFailures refused(-1);
        for (Frame& frame : Frames()) EXPECT_EQ(frame.Outcome(), "");
    }
    EXPECT_EQ(d3d_standin::GetCounters().devicesCreated, 0);
    EXPECT_EQ(test_support::CountLines("CreateDXGIFactory1"), 0);
}

// Ask 1 comes before the renderer, 2 under its lock, the rest between row bands of the fire
// kernel: a stop there ends the frame at once, with nothing written. On the calling thread
// alone, so that ask 20 surely falls amid the kernel's 75 bands.
TEST_F(CpuRendering, AnAbortBetweenRowBandsEndsTheFrameUnwritten) {
    test_support::SetCpuFallback("force");
    const fan_out_testing::ScopedThreadStartFailures alone(-1);
    for (int stopAt : {2, 3, 20}) {
        SCOPED_TRACE("stop at ask " + std::to_string(stopAt));
        Frame frame(160, 150, 0);
        AbortScript script([stopAt](int call) { return call >= stopAt; });
        frame.context.isAborted = &AbortScript::Ask;
        frame.context.abortContext = &script;
        EXPECT_FALSE(frame.Render());
        EXPECT_EQ(script.calls, stopAt) << "asked again after the stop";
        EXPECT_TRUE(frame.buffer.Untouched());
    }
}

#ifdef PYRIX_TEST_MXCSR
constexpr unsigned kModeBits = ~0x3Fu;  // not the sticky exception flags
constexpr unsigned kRounding = 0x6000u;
constexpr unsigned kTowardZero = 0x6000u;

// The host's thread rounds as asked for one scope.
class HostRounding {
  public:
    explicit HostRounding(unsigned rounding) : saved_(_mm_getcsr()) {
        _mm_setcsr((saved_ & ~kRounding) | rounding);
    }
    ~HostRounding() { _mm_setcsr(saved_); }

  private:
    unsigned saved_;
};

struct ModeSeen {
    unsigned hostMode = _mm_getcsr() & kModeBits;
    std::atomic<int> calls{0};
    std::atomic<int> otherMode{0};

    static bool Ask(void* context) {
        auto* seen = static_cast<ModeSeen*>(context);
        ++seen->calls;
        if ((_mm_getcsr() & kModeBits) != seen->hostMode) ++seen->otherMode;
        return false;
    }
};

// A frame of the CPU renderer on a host thread that rounds as asked, on that thread alone or
// with workers. The host's abort check, also when asked between the kernel's row bands, runs
// in the host's mode (no flushing of denormals), and the host has its mode back afterwards.
std::vector<uint8_t> FrameRoundingAs(unsigned rounding, int32_t depth, bool alone) {
    const HostRounding host(rounding);
    std::optional<fan_out_testing::ScopedThreadStartFailures> refused;
    if (alone) refused.emplace(-1);
    ModeSeen seen;
    Frame frame(160, 150, depth);
    // Settings whose constants round: the time, the emitter's size and the softness.
    frame.settings.frameNumber = 37.0f;
    frame.settings.speed = 1.7f;
    frame.settings.offset = 0.11f;
    frame.settings.emitterSize = 73.0f;
    frame.settings.softness = 35.0f;
    frame.context.isAborted = &ModeSeen::Ask;
    frame.context.abortContext = &seen;
    EXPECT_TRUE(frame.Render());
    EXPECT_GT(seen.calls, 4) << "four asks come before and after the kernel";
    EXPECT_EQ(seen.otherMode, 0);
    EXPECT_EQ(_mm_getcsr() & kModeBits, seen.hostMode);
    return frame.buffer.bytes;
}

size_t PixelsDiffering(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t size) {
    size_t differing = 0;
    for (size_t i = 0; i + size <= std::min(a.size(), b.size()); i += size) {
        differing += std::memcmp(&a[i], &b[i], size) != 0 ? 1 : 0;
    }
    return differing;
}

TEST_F(CpuRendering, TheHostsAbortCheckKeepsItsFloatingPointMode) {
    test_support::SetCpuFallback("force");
    const std::vector<uint8_t> nearest = FrameRoundingAs(0, 0, false);
    const std::vector<uint8_t> towardZero = FrameRoundingAs(kTowardZero, 0, false);
    EXPECT_EQ(PixelsDiffering(nearest, towardZero, 4), 0u);
}

// The kernels run in their own mode on every thread, the host's included, and give the host's
// mode back to its abort check and to it: the host's rounding reaches no pixel, whichever
// threads render.
TEST_F(CpuRendering, TheHostsRoundingNeverReachesThePixels) {
    test_support::SetCpuFallback("force");
    const std::vector<uint8_t> nearest = FrameRoundingAs(0, 2, false);
    const std::vector<uint8_t> alone = FrameRoundingAs(kTowardZero, 2, true);
    const std::vector<uint8_t> withWorkers = FrameRoundingAs(kTowardZero, 2, false);
    EXPECT_EQ(PixelsDiffering(alone, withWorkers, 16), 0u);
    EXPECT_EQ(PixelsDiffering(alone, nearest, 16), 0u);
}
#endif
// With the switch unset, a failure after the device was made is the GPU's own: the frame fails
// with its message and nothing written, and no CPU renderer stands in.
TEST_F(CpuRendering, ASetUpFailureAfterTheDeviceFailsTheFrame) {
    test_support::SetCpuFallback(nullptr);
    struct Step {
        d3d_standin::Call call;
        int skip;
        const char* message;
    };
    const Step steps[] = {
        {d3d_standin::Call::CreateComputeShader, 0, "GPU shader initialization failed"},
        {d3d_standin::Call::CreateComputeShader, 1, "GPU anchor shader initialization failed"},
        {d3d_standin::Call::CreateBuffer, 0, "GPU anchor buffer allocation failed"},
        {d3d_standin::Call::CreateUnorderedAccessView, 0, "GPU anchor UAV failed"},
        {d3d_standin::Call::CreateShaderResourceView, 0, "GPU anchor SRV failed"},
        {d3d_standin::Call::CreateBuffer, 1, "GPU constant buffer allocation failed"},
        {d3d_standin::Call::CreateBuffer, 2, "GPU constant buffer allocation failed"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.message);
        d3d_standin::FailCall(step.call, E_OUTOFMEMORY, step.skip);
        Frame frame(40, 30, 0);
        EXPECT_EQ(frame.Outcome(), step.message);
        EXPECT_TRUE(frame.buffer.Untouched());
        d3d_standin::ClearFaults();
    }
    EXPECT_EQ(d3d_standin::GetCounters().dispatches, 0);
    Frame frame(40, 30, 0);
    EXPECT_EQ(frame.Outcome(), "");
    EXPECT_EQ(d3d_standin::GetCounters().devicesCreated, int(std::size(steps)) + 1);
}

// A lost device that cannot be made again: the next frames render on the CPU. A GPU that comes
// back is used by the renderer made after set-down, not by the CPU renderer in place.
TEST_F(CpuRendering, TakesOverFromALostDeviceUntilTheNextSetDown) {
    test_support::SetCpuFallback(nullptr);
    Frame warmUp(40, 30, 0);
    ASSERT_EQ(warmUp.Outcome(), "");
    const int dispatches = d3d_standin::GetCounters().dispatches;
    d3d_standin::SetAdapters({});
    d3d_standin::LoseDeviceAtCall(0);
    Frame lossy(40, 30, 0);
    const std::string outcome = lossy.Outcome();
    EXPECT_TRUE(outcome.empty() || outcome.rfind("GPU ", 0) == 0) << outcome;
    for (Frame& frame : Frames()) EXPECT_EQ(frame.Outcome(), "");
    EXPECT_EQ(LiveObjects(Kind::Device), 0) << "the lost renderer is gone";

    d3d_standin::SetAdapters({d3d_standin::AdapterConfig{}});
    Frame stillCpu(40, 30, 1);
    EXPECT_EQ(stillCpu.Outcome(), "");
    EXPECT_EQ(d3d_standin::GetCounters().dispatches, dispatches);

    ReleaseRenderer();
    Frame onGpu(40, 30, 2);
    EXPECT_EQ(onGpu.Outcome(), "");
    EXPECT_GT(d3d_standin::GetCounters().dispatches, dispatches);
    EXPECT_EQ(LiveObjects(Kind::Device), 1);
}

}  // namespace

}  // namespace pyrix
