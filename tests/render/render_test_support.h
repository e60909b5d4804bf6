// Test support for frames through EffectMain: the host simulator with a known parameter set, the
// smart pre-render/render records, and the ParamsBlock those parameters must produce.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/entry_points.h"
#include "host/parameters.h"
#include "kernels/params_block.h"
#include "standins/host_simulator/simulator.h"
#include "standins/win32/d3d_control.h"
#include "tests/renderers/reference_frame.h"

namespace pyrix {

namespace render_test {

// A request rectangle that covers any layer of the tests.
constexpr PF_LRect kEverything{-100, -100, 10000, 10000};

// The parameter values every frame of these tests is rendered with.
struct Knobs {
    float detail = 1.5f;
    float speed = 0.8f;
    float offset = 0.25f;
    float emitterSize = 120.0f;
    float softness = 20.0f;
    float positionX = 0.5f;  // fractions of the layer, exact in 16.16 for the sizes used
    float positionY = 0.75f;
    A_long currentTime = 3;  // with time step 1: frame number 4
};

// The layer's size at full resolution and the downsample factor of these tests' frames.
struct Geometry {
    A_long layerWidth = 64;
    A_long layerHeight = 48;
    A_long downsampleDen = 1;  // factor 1/den in both directions
    int32_t FullWidth() const { return int32_t((layerWidth + downsampleDen - 1) / downsampleDen); }
    int32_t FullHeight() const {
        return int32_t((layerHeight + downsampleDen - 1) / downsampleDen);
    }
};

// The host's parameter definitions for `knobs` (index 0 and 1 carry no value).
struct ParamArray {
    ParamArray(const Knobs& knobs, const Geometry& geometry);
    PF_ParamDef defs[kParamCount];
    PF_ParamDef* pointers[kParamCount];
};

// The constants the kernels must receive, written out from the definitions of the effect's
// inputs, independently of the renderer's own code.
ParamsBlock ExpectedParams(const Knobs& knobs, const Geometry& geometry, int32_t width,
                           int32_t height, int32_t originX, int32_t originY);

// An output world over a test buffer.
PF_EffectWorld WorldOf(test_support::HostBuffer& buffer, A_long originX, A_long originY, bool deep);

// The records of one smart pre-render and render.
struct SmartRecords {
    explicit SmartRecords(PF_LRect requestRect, A_short bitdepth = 8);
    ~SmartRecords();  // frees the pre-render record as the host would
    SmartRecords(const SmartRecords&) = delete;
    SmartRecords& operator=(const SmartRecords&) = delete;

    PF_PreRenderInput preInput{};
    PF_PreRenderOutput preOutput{};
    PF_PreRenderExtra preExtra{};
    PF_SmartRenderInput renderInput{};
    PF_SmartRenderExtra renderExtra{};
};

// Sets up the simulator's records for frames of `geometry` at `knobs`.
void ConfigureHost(host_sim::Simulator& host, const Knobs& knobs, const Geometry& geometry);

// A smart pre-render and render through EffectMain on the calling thread, into `buffer` at the
// records' request; the output world is this thread's own, as a host hands one out per render.
// Returns the first result that is not PF_Err_NONE. `out` may be null.
PF_Err SmartFrameOnThisThread(host_sim::Simulator& host, SmartRecords& records,
                              test_support::HostBuffer& buffer, PF_OutData* out);

class RenderEntryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Applies `knobs` and `geometry` to the host simulator.
    void Configure();

    PF_Err Command(PF_Cmd cmd, PF_LayerDef* output = nullptr, void* extra = nullptr,
                   PF_ParamDef** params = nullptr);
    PF_Err PreRender(SmartRecords& records);
    PF_Err SmartRender(SmartRecords& records);
    PF_Err Legacy(PF_LayerDef* output);

    // The error text the last command left for the host, and whether it asked to show it.
    std::string Message();
    bool MessageShown();

    host_sim::Simulator host;
    Knobs knobs;
    Geometry geometry;
};

}  // namespace render_test

}  // namespace pyrix
