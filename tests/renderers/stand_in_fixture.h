// Test support: every test starts with no renderer and a default stand-in, and ends proving
// that every Direct3D object and timer it caused was released.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

#include "renderers/cpu_renderer.h"
#include "renderers/frame_params.h"
#include "renderers/render_frame.h"
#include "standins/win32/d3d_control.h"
#include "tests/renderers/reference_frame.h"

namespace pyrix {

namespace test_support {

// The CPU fallback switch for the renderers made from now on; null unsets it.
inline void SetCpuFallback(const char* value) {
    if (value != nullptr) {
        setenv(kCpuFallbackVariable, value, 1);
    } else {
        unsetenv(kCpuFallbackVariable);
    }
}

// The GPU path's tests expect its own errors where no device can be had; the fallback's tests
// set the switch themselves.
class StandInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ReleaseRenderer();
        d3d_standin::Reset();
        SetCpuFallback("off");
        ASSERT_EQ(d3d_standin::LiveObjects(), 0) << "an earlier test leaked";
    }
    void TearDown() override {
        ReleaseRenderer();
        d3d_standin::Reset();
        SetCpuFallback(nullptr);
        EXPECT_EQ(d3d_standin::LiveObjects(), 0) << "objects left after ReleaseRenderer";
    }
};

// The message of the std::runtime_error that `action` throws; empty when it throws none.
inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

// An abort test driven by a script: decide(n) answers the n-th call (from 1).
struct AbortScript {
    explicit AbortScript(std::function<bool(int)> decideCall) : decide(std::move(decideCall)) {}
    std::function<bool(int)> decide;
    std::atomic<int> calls{0};

    static bool Ask(void* script) {
        auto* self = static_cast<AbortScript*>(script);
        return self->decide(++self->calls);
    }
};

inline int CountLines(const std::string& prefix) {
    int count = 0;
    for (const std::string& line : d3d_standin::CallLog()) {
        if (line.compare(0, prefix.size(), prefix) == 0) ++count;
    }
    return count;
}

// One frame of a layer through RenderFrame, possibly a rectangle of it or downsampled.
struct TestFrame {
    TestFrame(int32_t layerWidth, int32_t layerHeight, int32_t width, int32_t height, int32_t depth,
              int64_t rowBytes = 0)
        : buffer(width, height, depth, rowBytes) {
        context.layerWidth = layerWidth;
        context.layerHeight = layerHeight;
    }
    bool Render() { return RenderFrame(buffer.request, settings, context); }
    // Empty when the frame equals the reference, else the error or the first mismatch.
    std::string Outcome() {
        std::string error = ErrorOf([this] {
            if (!Render()) throw std::runtime_error("aborted");
        });
        if (!error.empty()) return error;
        return CompareWithReference(
            buffer, MakeParamsBlock(buffer.request, settings, FullFrameExtent(context)));
    }

    HostBuffer buffer;
    EffectSettings settings;
    FrameContext context;
};

}  // namespace test_support

}  // namespace pyrix
