// The renderer on the stand-in device: creation, adapter choice, every failure of creation and
// of a frame, texture reuse, the GPU wait and the lock, checked against the call log, the CPU
// reference and the live-object count.
#include "renderers/gpu_renderer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kernels/kernel_bytecode.h"
#include "renderers/frame_params.h"
#include "renderers/render_frame.h"
#include "tests/renderers/reference_frame.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {

namespace {

using d3d_standin::AdapterConfig;
using d3d_standin::Call;
using d3d_standin::Kind;
using d3d_standin::LiveObjects;
using test_support::AbortScript;
using test_support::CountLines;
using test_support::ErrorOf;
using test_support::HostBuffer;

FrameContext Layer(int32_t width, int32_t height) {
    FrameContext context;
    context.layerWidth = width;
    context.layerHeight = height;
    return context;
}

// A small frame of a 64 x 48 layer.
struct Frame {
    explicit Frame(int32_t width = 24, int32_t height = 12, int32_t depth = 0)
        : buffer(width, height, depth), context(Layer(64, 48)) {}

    bool Render() { return RenderFrame(buffer.request, settings, context); }
    std::string Error() {
        return ErrorOf([this] { Render(); });
    }
    ParamsBlock Params() const {
        return MakeParamsBlock(buffer.request, settings, FullFrameExtent(context));
    }

    HostBuffer buffer;
    EffectSettings settings;
    FrameContext context;
};

std::vector<std::string> LogUntil(const std::string& lastPrefix) {
    std::vector<std::string> lines;
    for (const std::string& line : d3d_standin::CallLog()) {
        lines.push_back(line);
        if (line.compare(0, lastPrefix.size(), lastPrefix) == 0) break;
    }
    return lines;
}

class GpuRendererTest : public test_support::StandInTest {};

TEST_F(GpuRendererTest, CreationMakesTheCallsWithTheirDescriptorsInOrder) {
    Frame frame;
    ASSERT_TRUE(frame.Render());
    const std::vector<std::string> expected = {
        "CreateDXGIFactory1",
        "EnumAdapters1 0",
        "GetDesc1",
        "EnumAdapters1 1",
        "D3D11CreateDevice adapter=0 driver=0 software=null flags=0x0 levels=0xb000 sdk=7",
        "CreateComputeShader fire " + std::to_string(kFireKernelBytecodeSize) + " linkage=null",
        "CreateComputeShader anchor " + std::to_string(kAnchorKernelBytecodeSize) + " linkage=null",
        "CreateBuffer ByteWidth=16 Usage=0 BindFlags=0x88 CPUAccessFlags=0x0 MiscFlags=0x40 "
        "StructureByteStride=16 init=null",
        "CreateUnorderedAccessView buffer16 Format=0 Dimension=1 FirstElement=0 NumElements=1 "
        "Flags=0",
        "CreateShaderResourceView buffer16 Format=0 Dimension=1 FirstElement=0 NumElements=1",
        "CreateBuffer ByteWidth=48 Usage=0 BindFlags=0x4 CPUAccessFlags=0x0 MiscFlags=0x0 "
        "StructureByteStride=0 init=null",
        "CreateBuffer ByteWidth=4576 Usage=1 BindFlags=0x4 CPUAccessFlags=0x0 MiscFlags=0x0 "
        "StructureByteStride=0 init=set",
        "CSSetConstantBuffers 1 1 buffer4576",
        "CreateComputeShader convert " + std::to_string(kConvertKernelBytecodeSize) +
            " linkage=null",
        "CreateBuffer ByteWidth=16 Usage=0 BindFlags=0x4 CPUAccessFlags=0x0 MiscFlags=0x0 "
        "StructureByteStride=0 init=null",
        "CreateComputeShader fire-redo " + std::to_string(kFireKernelRedoBytecodeSize) +
            " linkage=null",
        "CreateWaitableTimerExW attributes=null name=null flags=0x2 access=0x1f0003",
    };
    EXPECT_EQ(LogUntil("CreateWaitableTimerExW"), expected);
    // The factory and the adapter are gone once the renderer stands.
    EXPECT_EQ(LiveObjects(Kind::Factory), 0);
    EXPECT_EQ(LiveObjects(Kind::Adapter), 0);
    EXPECT_EQ(LiveObjects(Kind::Device), 1);
    EXPECT_EQ(LiveObjects(Kind::WaitableTimer), 1);
}

TEST_F(GpuRendererTest, AFrameQueuesTheKernelsInOrderAndMatchesTheReference) {
    Frame warmUp;
    ASSERT_TRUE(warmUp.Render());
    d3d_standin::ClearCallLog();

    Frame frame(40, 20, 2);
    frame.buffer.request.originX = 3;
    frame.buffer.request.originY = 5;
    ASSERT_TRUE(frame.Render());
    const std::vector<std::string> expected = {
        "GetDeviceRemovedReason",
        "CreateTexture2D 40x20 MipLevels=1 ArraySize=1 Format=2 Sample=1,0 Usage=0 "
        "BindFlags=0x88 CPUAccessFlags=0x0 MiscFlags=0x0 init=null",
        "CreateUnorderedAccessView texture40x20 desc=null",
        "CreateShaderResourceView texture40x20 desc=null",
        "CreateTexture2D 40x20 MipLevels=1 ArraySize=1 Format=2 Sample=1,0 Usage=3 "
        "BindFlags=0x0 CPUAccessFlags=0x20000 MiscFlags=0x0 init=null",
        "CreateBuffer ByteWidth=40 Usage=0 BindFlags=0x80 CPUAccessFlags=0x0 MiscFlags=0x40 "
        "StructureByteStride=4 init=set",
        "CreateUnorderedAccessView buffer40 Format=0 Dimension=1 FirstElement=0 NumElements=10 "
        "Flags=0",
        "CreateBuffer ByteWidth=40 Usage=3 BindFlags=0x0 CPUAccessFlags=0x20000 MiscFlags=0x40 "
        "StructureByteStride=4 init=null",
        "UpdateSubresource buffer48 0 box=null pitch=0,0",
        "CSSetShader anchor instances=0",
        "CSSetConstantBuffers 0 1 buffer48",
        "CSSetUnorderedAccessViews 1 1 uav(buffer16) counts=null",
        "Dispatch 1 1 1",
        "CSSetUnorderedAccessViews 1 1 null counts=null",
        "CSSetShaderResources 0 1 srv(buffer16)",
        "CSSetShader fire instances=0",
        "CSSetConstantBuffers 0 1 buffer48",
        "CSSetUnorderedAccessViews 0 1 uav(texture40x20) counts=null",
        "CSSetUnorderedAccessViews 3 1 uav(buffer40) counts=null",
        "Dispatch 3 3 1",
        "CSSetUnorderedAccessViews 3 1 null counts=null",
        "CSSetUnorderedAccessViews 0 1 null counts=null",
        "CSSetShaderResources 0 1 null",
        "CopyResource buffer40 <- buffer40",
        "CopyResource texture40x20 <- texture40x20",
        "Flush",
        "Map buffer40 0 type=1 flags=0x100000",
        "Unmap buffer40 0",
        "Map texture40x20 0 type=1 flags=0x100000",
        "Unmap texture40x20 0",
    };
    EXPECT_EQ(d3d_standin::CallLog(), expected);
    EXPECT_EQ(test_support::CompareWithReference(frame.buffer, frame.Params()), "");
}

// 8 and 16 bits: the conversion kernel writes host pixels, and only those are read back.
TEST_F(GpuRendererTest, EightAndSixteenBitFramesReadBackOnlyTheConvertedPixels) {
    for (int32_t depth : {0, 1}) {
        Frame warmUp(40, 20, 2);
        ASSERT_TRUE(warmUp.Render());
        d3d_standin::ClearCallLog();
        Frame frame(40, 20, depth);
        ASSERT_TRUE(frame.Render());
        const std::string bytes = std::to_string(40 * 20 * (depth == 0 ? 4 : 8));
        const std::string buffer = "buffer" + bytes;
        const std::vector<std::string> conversion = {
            "UpdateSubresource buffer16 0 box=null pitch=0,0",
            "CSSetShader convert instances=0",
            "CSSetConstantBuffers 0 1 buffer16",
            "CSSetShaderResources 0 1 srv(texture40x20)",
            "CSSetUnorderedAccessViews 0 1 uav(" + buffer + ") counts=null",
            "Dispatch 1 20 1",
            "CSSetUnorderedAccessViews 0 1 null counts=null",
            "CSSetShaderResources 0 1 null",
            "CopyResource " + buffer + " <- " + buffer,
            "Flush",
            // The first pass marked no group (the stand-in's kernel decides every sine).
            "Map buffer40 0 type=1 flags=0x100000",
            "Unmap buffer40 0",
            "Map " + buffer + " 0 type=1 flags=0x100000",
            "Unmap " + buffer + " 0",
        };
        const std::vector<std::string> log = d3d_standin::CallLog();
        ASSERT_GE(log.size(), conversion.size());
        EXPECT_EQ(std::vector<std::string>(log.end() - long(conversion.size()), log.end()),
                  conversion)
            << "depth " << depth;
        EXPECT_EQ(CountLines("CreateBuffer ByteWidth=" + bytes + " Usage=3 BindFlags=0x0"), 1);
        EXPECT_EQ(CountLines("CreateTexture2D"), 0) << "the float texture is kept";
        EXPECT_EQ(test_support::CompareWithReference(frame.buffer, frame.Params()), "");
        ReleaseRenderer();
    }
}

TEST_F(GpuRendererTest, EveryDepthEqualsTheReferenceAlsoBeyondTheFrame) {
    for (int32_t depth : {0, 1, 2}) {
        // Reaches past the left and bottom edges of the 64 x 48 frame: transparent there.
        Frame frame(33, 17, depth);
        frame.buffer.request.originX = -5;
        frame.buffer.request.originY = 40;
        frame.settings.softness = 40.0f;
        frame.settings.frameNumber = 12.0f;
        ASSERT_TRUE(frame.Render());
        EXPECT_EQ(test_support::CompareWithReference(frame.buffer, frame.Params()), "")
            << "depth " << depth;
        EXPECT_EQ(frame.buffer.Pixel(0, 0)[0], 0) << "outside the frame is transparent";
    }
}

// Groups that the first pass marks (their texels left wrong) render again in the second pass,
// and the frame is read back anew: at every depth the reference, and a later frame whose first
// pass marks nothing runs no second pass, as the second cleared the marks.
TEST_F(GpuRendererTest, GroupsTheFirstPassMarksRenderAgainAndTheFrameIsReadBackAnew) {
    for (int32_t depth : {0, 1, 2}) {
        d3d_standin::MarkGroupsInFirstPass({0, 4, 8, 99});
        d3d_standin::ClearCallLog();
        Frame frame(40, 20, depth);
        ASSERT_TRUE(frame.Render());
        EXPECT_EQ(CountLines("CSSetShader fire-redo "), 1) << "depth " << depth;
        EXPECT_EQ(CountLines("Dispatch 3 3 1"), 2);
        EXPECT_EQ(CountLines("Flush"), 2) << "the frame is read back after each pass";
        EXPECT_EQ(test_support::CompareWithReference(frame.buffer, frame.Params()), "")
            << "depth " << depth;

        d3d_standin::MarkGroupsInFirstPass({});
        d3d_standin::ClearCallLog();
        Frame next(40, 20, depth);
        ASSERT_TRUE(next.Render());
        EXPECT_EQ(CountLines("CSSetShader fire-redo "), 0) << "depth " << depth;
        EXPECT_EQ(test_support::CompareWithReference(next.buffer, next.Params()), "");
    }
}

struct AdapterCase {
    const char* name;
    std::vector<AdapterConfig> adapters;
    int chosen;           // index passed to D3D11CreateDevice, or -1
    const char* message;  // when creation fails
};

AdapterConfig Hardware(SIZE_T memory, D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0) {
    AdapterConfig config;
    config.dedicatedVideoMemory = memory;
    config.maxFeatureLevel = level;
    return config;
}

AdapterConfig Software(SIZE_T memory) {
    AdapterConfig config = Hardware(memory);
    config.flags = DXGI_ADAPTER_FLAG_SOFTWARE;
    return config;
}

class AdapterChoice : public GpuRendererTest, public ::testing::WithParamInterface<AdapterCase> {};

TEST_P(AdapterChoice, PicksTheHardwareAdapterWithMostDedicatedMemory) {
    const AdapterCase& c = GetParam();
    d3d_standin::SetAdapters(c.adapters);
    Frame frame;
    const std::string error = frame.Error();
    EXPECT_EQ(error, c.message);
    const int creations = CountLines("D3D11CreateDevice");
    if (c.chosen < 0) {
        EXPECT_EQ(creations, 0);
    } else {
        EXPECT_EQ(creations, 1) << "no other adapter is tried";
        EXPECT_EQ(CountLines("D3D11CreateDevice adapter=" + std::to_string(c.chosen) + " "), 1);
    }
    EXPECT_EQ(CountLines("GetDesc1"), int(c.adapters.size()));
    if (error.empty()) {
        EXPECT_FALSE(frame.buffer.Untouched());
    } else {
        EXPECT_TRUE(frame.buffer.Untouched());
        EXPECT_EQ(LiveObjects(), 0);
    }
}

const SIZE_T kGiB = SIZE_T(1) << 30;

INSTANTIATE_TEST_SUITE_P(
    Cases, AdapterChoice,
    ::testing::Values(
        AdapterCase{"none", {}, -1, "No hardware GPU available"},
        AdapterCase{"softwareOnly", {Software(4 * kGiB)}, -1, "No hardware GPU available"},
        AdapterCase{"softwareHasMoreMemory", {Software(8 * kGiB), Hardware(kGiB)}, 1, ""},
        AdapterCase{"equalMemoryFirstWins", {Hardware(kGiB), Hardware(kGiB)}, 0, ""},
        AdapterCase{"discreteAfterIntegrated", {Hardware(0), Hardware(4 * kGiB)}, 1, ""},
        AdapterCase{"noDedicatedMemoryStillTaken", {Software(kGiB), Hardware(0)}, 1, ""},
        AdapterCase{"unsignedComparison", {Hardware(kGiB), Hardware(~SIZE_T(0))}, 1, ""},
        AdapterCase{"bestBelowFeatureLevel11",
                    {Hardware(kGiB), Hardware(2 * kGiB, D3D_FEATURE_LEVEL_10_1)},
                    1,
                    "Direct3D 11 GPU initialization failed"}),
    [](const ::testing::TestParamInfo<AdapterCase>& param) { return param.param.name; });

TEST_F(GpuRendererTest, APersistentFailureIsReportedOnEveryFrame) {
    d3d_standin::SetAdapters({Software(kGiB)});
    Frame frame;
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(frame.Error(), "No hardware GPU available");
    }
    EXPECT_EQ(CountLines("CreateDXGIFactory1"), 3);
    EXPECT_EQ(LiveObjects(), 0);
}

TEST_F(GpuRendererTest, ReleaseDestroysEverythingAndTheNextFrameCreatesAgain) {
    ReleaseRenderer();  // nothing to release: takes the lock and returns
    Frame frame;
    ASSERT_TRUE(frame.Render());
    EXPECT_GT(LiveObjects(), 0);
    ReleaseRenderer();
    EXPECT_EQ(LiveObjects(), 0);
    EXPECT_EQ(CountLines("CloseHandle"), 1);
    ASSERT_TRUE(frame.Render());
    EXPECT_EQ(CountLines("CreateDXGIFactory1"), 2);
}

TEST_F(GpuRendererTest, OutputTexturesAreReusedForTheSameSizeAndReplacedForAnother) {
    Frame first(24, 12);
    ASSERT_TRUE(first.Render());
    Frame moved(24, 12, 1);  // other origin, depth and settings: same textures
    moved.buffer.request.originX = 17;
    moved.settings.detail = 3.0f;
    ASSERT_TRUE(moved.Render());
    EXPECT_EQ(CountLines("CreateTexture2D"), 1);
    EXPECT_EQ(test_support::CompareWithReference(moved.buffer, moved.Params()), "");

    Frame resized(30, 12);
    ASSERT_TRUE(resized.Render());
    EXPECT_EQ(CountLines("CreateTexture2D"), 2);
    EXPECT_EQ(LiveObjects(Kind::Texture2D), 1) << "the old texture was released";
    // anchor's, output's, pixels', marks'
    EXPECT_EQ(LiveObjects(Kind::UnorderedAccessView), 4);
    // anchor, three constants, pixels, read-back, marks and their read-back
    EXPECT_EQ(LiveObjects(Kind::Buffer), 4 + 4);
    EXPECT_EQ(test_support::CompareWithReference(resized.buffer, resized.Params()), "");
}

TEST_F(GpuRendererTest, AnAbortWhileTheGpuWorksReturnsBeforeWritingAnything) {
    d3d_standin::HoldDevices(true);
    // Calls 1 and 2 precede the GPU work; from the third on the render is in the wait loop.
    AbortScript script([](int call) { return call >= 5; });
    Frame frame;
    frame.context.isAborted = AbortScript::Ask;
    frame.context.abortContext = &script;
    EXPECT_FALSE(frame.Render());
    EXPECT_TRUE(frame.buffer.Untouched());
    EXPECT_GE(d3d_standin::GetCounters().mapStillDrawing, 3);
    EXPECT_GE(d3d_standin::GetCounters().waitForSingleObject, 2) << "waits on the timer";
    EXPECT_EQ(CountLines("Unmap"), 0);

    d3d_standin::HoldDevices(false);
    Frame next;
    EXPECT_TRUE(next.Render());
    EXPECT_EQ(test_support::CompareWithReference(next.buffer, next.Params()), "");
}

TEST_F(GpuRendererTest, AnAbortAfterTheConversionReturnsFalseWithTheFrameWritten) {
    Frame frame;
    // Says stop once the frame has reached the host buffer.
    AbortScript script([&frame](int) { return !frame.buffer.Untouched(); });
    frame.context.isAborted = AbortScript::Ask;
    frame.context.abortContext = &script;
    EXPECT_FALSE(frame.Render());
    EXPECT_EQ(test_support::CompareWithReference(frame.buffer, frame.Params()), "");
}

TEST_F(GpuRendererTest, WithoutATimerTheWaitYieldsTheThread) {
    d3d_standin::FailCall(Call::CreateWaitableTimerExW, E_FAIL);
    d3d_standin::HoldDevices(true);
    AbortScript script([](int call) { return call >= 4; });
    Frame held;
    held.context.isAborted = AbortScript::Ask;
    held.context.abortContext = &script;
    EXPECT_FALSE(held.Render());
    const d3d_standin::Counters counters = d3d_standin::GetCounters();
    EXPECT_GE(counters.switchToThread, 1);
    EXPECT_EQ(counters.setWaitableTimer, 0);
    EXPECT_EQ(LiveObjects(Kind::WaitableTimer), 0);

    d3d_standin::HoldDevices(false);
    Frame frame;
    EXPECT_TRUE(frame.Render());
    EXPECT_EQ(test_support::CompareWithReference(frame.buffer, frame.Params()), "");
}

TEST_F(GpuRendererTest, ASecondFramePollsTheLockAndNoticesItsAbort) {
    d3d_standin::HoldDevices(true);
    std::atomic<bool> firstIsWaiting{false};
    // The first frame never aborts; its third abort test is made from inside the GPU wait,
    // while it holds the renderer's lock.
    AbortScript firstScript([&](int call) {
        if (call >= 3) firstIsWaiting = true;
        return false;
    });
    Frame first;
    first.context.isAborted = AbortScript::Ask;
    first.context.abortContext = &firstScript;
    bool firstResult = false;
    std::thread firstThread([&] { firstResult = first.Render(); });
    while (!firstIsWaiting) std::this_thread::yield();

    // Call 1 is RenderFrame's own test; then one test per failed try of the lock.
    AbortScript secondScript([](int call) { return call >= 4; });
    Frame second(16, 8);
    second.context.isAborted = AbortScript::Ask;
    second.context.abortContext = &secondScript;
    EXPECT_FALSE(second.Render());
    EXPECT_EQ(secondScript.calls, 4);
    EXPECT_TRUE(second.buffer.Untouched());

    d3d_standin::HoldDevices(false);
    firstThread.join();
    EXPECT_TRUE(firstResult);
    EXPECT_EQ(test_support::CompareWithReference(first.buffer, first.Params()), "");
}

}  // namespace

}  // namespace pyrix
