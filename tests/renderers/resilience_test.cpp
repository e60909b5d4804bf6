// What real machines do to the renderer: a device lost at any call of a frame, on one host
// thread and on four; set-down while frames still hold the renderer; thread starts refused.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kernels/fan_out.h"
#include "renderers/gpu_renderer.h"
#include "renderers/render_frame.h"
#include "tests/renderers/reference_frame.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {

namespace {

using d3d_standin::Kind;
using d3d_standin::LiveObjects;
using test_support::AbortScript;
using test_support::CompareWithReference;
using test_support::ErrorOf;
using test_support::HostBuffer;

// A frame of a 64 x 48 layer.
struct Frame : test_support::TestFrame {
    Frame(int32_t width, int32_t height, int32_t depth = 0)
        : TestFrame(64, 48, width, height, depth) {}
};

// The messages a frame on a lost device may fail with, all of them today's.
bool IsFrameFailure(const std::string& outcome) {
    static const std::set<std::string> kMessages = {
        "GPU texture allocation failed", "GPU output view failed", "GPU readback allocation failed",
        "GPU readback failed"};
    return kMessages.count(outcome) != 0;
}

// Calls into the device and its context that one frame of a new size makes.
int CallsOfAFrame() {
    Frame warmUp(24, 12);
    EXPECT_EQ(warmUp.Outcome(), "");
    d3d_standin::ClearCallLog();
    Frame frame(20, 10);
    EXPECT_EQ(frame.Outcome(), "");
    return int(d3d_standin::CallLog().size());
}

class DeviceLoss : public test_support::StandInTest {};

// The device is lost at call k of a frame (of a new size, so its texture creations count
// too) for every k. That frame completes or fails with one of today's messages; the one after
// it equals the reference on a new renderer, and the lost one is gone.
TEST_F(DeviceLoss, AtEachCallOfAFrameTheNextFrameIsRight) {
    const int calls = CallsOfAFrame();
    ASSERT_GE(calls, 20);
    // Hung: neither removed nor reset, so only GetDeviceRemovedReason tells.
    for (HRESULT reason :
         {DXGI_ERROR_DEVICE_REMOVED, DXGI_ERROR_DEVICE_RESET, DXGI_ERROR_DEVICE_HUNG}) {
        for (int k = 0; k < calls; ++k) {
            SCOPED_TRACE("call " + std::to_string(k) + ", reason " + std::to_string(reason));
            ReleaseRenderer();
            Frame warmUp(24, 12);
            ASSERT_EQ(warmUp.Outcome(), "");
            const int created = d3d_standin::GetCounters().devicesCreated;
            d3d_standin::LoseDeviceAtCall(k, reason);
            Frame lossy(20, 10);
            const std::string outcome = lossy.Outcome();
            EXPECT_TRUE(outcome.empty() || IsFrameFailure(outcome)) << outcome;
            if (!outcome.empty()) {
                EXPECT_TRUE(lossy.buffer.Untouched());
            }

            Frame next(20, 10, 2);
            EXPECT_EQ(next.Outcome(), "");
            EXPECT_EQ(d3d_standin::GetCounters().devicesRemoved, 1);
            EXPECT_EQ(d3d_standin::GetCounters().devicesCreated, created + 1);
            EXPECT_EQ(LiveObjects(Kind::Device), 1) << "the lost renderer is gone";
            d3d_standin::Reset();
        }
    }
}

// Four host threads render at once while the device is lost at call k of the lot.
TEST_F(DeviceLoss, WithFourHostThreadsTheNextFrameIsRight) {
    const int calls = CallsOfAFrame();
    for (int k = 0; k < calls; ++k) {
        SCOPED_TRACE("call " + std::to_string(k));
        Frame warmUp(24, 12);
        ASSERT_EQ(warmUp.Outcome(), "");
        d3d_standin::LoseDeviceAtCall(k);
        std::vector<std::string> outcomes(4);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t, &outcomes] {
                Frame frame(16 + 4 * t, 8 + 2 * t, t % 3);
                outcomes[size_t(t)] = frame.Outcome();
            });
        }
        for (std::thread& thread : threads) thread.join();
        for (const std::string& outcome : outcomes) {
            EXPECT_TRUE(outcome.empty() || IsFrameFailure(outcome)) << outcome;
        }
        Frame next(20, 10, 1);
        EXPECT_EQ(next.Outcome(), "");
        EXPECT_EQ(LiveObjects(Kind::Device), 1);
        d3d_standin::Reset();
    }
}

// One call answers "removed" or "reset" while GetDeviceRemovedReason still answers S_OK: the
// code alone retires the renderer, and the next frame is right on a new one.
TEST_F(DeviceLoss, ALossCodeFromOneCallRetiresTheRenderer) {
    struct Step {
        d3d_standin::Call call;
        int skip;
        const char* message;
        int32_t depth = 0;
    };
    const Step steps[] = {
        {d3d_standin::Call::CreateTexture2D, 0, "GPU texture allocation failed"},
        {d3d_standin::Call::CreateUnorderedAccessView, 0, "GPU output view failed"},
        {d3d_standin::Call::CreateShaderResourceView, 0, "GPU output view failed"},
        {d3d_standin::Call::CreateBuffer, 0, "GPU texture allocation failed", 1},
        {d3d_standin::Call::CreateUnorderedAccessView, 1, "GPU output view failed"},
        {d3d_standin::Call::CreateBuffer, 1, "GPU readback allocation failed"},
        {d3d_standin::Call::CreateTexture2D, 1, "GPU readback allocation failed", 2},
        {d3d_standin::Call::Map, 0, "GPU readback failed"}};
    for (HRESULT code : {DXGI_ERROR_DEVICE_REMOVED, DXGI_ERROR_DEVICE_RESET}) {
        for (const Step& step : steps) {
            SCOPED_TRACE(std::string(step.message) + ", code " + std::to_string(code));
            ReleaseRenderer();
            d3d_standin::Reset();
            Frame warmUp(24, 12);
            ASSERT_EQ(warmUp.Outcome(), "");
            d3d_standin::FailCall(step.call, code, step.skip);
            Frame failing(20, 10, step.depth);
            EXPECT_EQ(failing.Outcome(), step.message);
            EXPECT_TRUE(failing.buffer.Untouched());
            Frame next(20, 10, 1);
            EXPECT_EQ(next.Outcome(), "");
            EXPECT_EQ(d3d_standin::GetCounters().devicesCreated, 2) << "the renderer was kept";
            EXPECT_EQ(d3d_standin::GetCounters().devicesRemoved, 0);
        }
    }
}

TEST_F(DeviceLoss, OtherFailuresKeepTheRenderer) {
    Frame warmUp(24, 12);
    ASSERT_EQ(warmUp.Outcome(), "");
    d3d_standin::FailCall(d3d_standin::Call::Map, E_OUTOFMEMORY);
    Frame failing(24, 12);
    EXPECT_EQ(failing.Outcome(), "GPU readback failed");
    Frame next(24, 12);
    EXPECT_EQ(next.Outcome(), "");
    EXPECT_EQ(d3d_standin::GetCounters().devicesCreated, 1);
    EXPECT_EQ(test_support::CountLines("CreateTexture2D"), 1) << "texture kept as well";
    EXPECT_EQ(test_support::CountLines("CreateBuffer"), 4 + 4)
        << "and the pixel buffers and the group marks";
}

class SetDown : public test_support::StandInTest {};

// Set-down arrives while one frame waits for the GPU and another waits for the renderer's
// lock: it waits for the first, both frames finish on the renderer, which goes with the last.
TEST_F(SetDown, FramesHoldingTheRendererFinishOnIt) {
    d3d_standin::HoldDevices(true);
    std::atomic<bool> firstWaits{false};
    std::atomic<bool> secondWaits{false};
    AbortScript firstScript([&](int call) {
        if (call >= 3) firstWaits = true;  // inside the GPU wait, holding the lock
        return false;
    });
    AbortScript secondScript([&](int call) {
        if (call >= 2) secondWaits = true;  // polling the renderer's lock
        return false;
    });
    Frame first(24, 12);
    first.context.isAborted = AbortScript::Ask;
    first.context.abortContext = &firstScript;
    Frame second(24, 12, 2);
    second.context.isAborted = AbortScript::Ask;
    second.context.abortContext = &secondScript;

    std::string firstOutcome;
    std::string secondOutcome;
    std::thread firstThread([&] { firstOutcome = first.Outcome(); });
    while (!firstWaits) std::this_thread::yield();
    std::thread secondThread([&] { secondOutcome = second.Outcome(); });
    while (!secondWaits) std::this_thread::yield();

    std::atomic<bool> released{false};
    std::thread setDown([&] {
        ReleaseRenderer();
        released = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(released) << "set-down did not wait for the frame in flight";
    d3d_standin::HoldDevices(false);
    setDown.join();
    firstThread.join();
    secondThread.join();
    EXPECT_EQ(firstOutcome, "");
    EXPECT_EQ(secondOutcome, "");
    EXPECT_EQ(d3d_standin::GetCounters().devicesCreated, 1);
    EXPECT_EQ(LiveObjects(), 0);
}

// Refused thread starts in the conversion and in the fast kernel inside the dispatch: the
// threads that run do all the rows.
TEST(ThreadStarts, RefusedEverywhereTheFrameIsStillRight) {
    for (int refused : {2, -1}) {
        const fan_out_testing::ScopedThreadStartFailures failures(refused);
        Frame frame(64, 160, 2);
        frame.context.layerHeight = 200;
        EXPECT_EQ(frame.Outcome(), "") << refused;
    }
    ReleaseRenderer();
    EXPECT_EQ(LiveObjects(), 0);
}

}  // namespace

}  // namespace pyrix
