// Every failure the render path can meet through EffectMain: host callbacks that fail or are
// missing, an abort, the GPU's failures, non-finite settings, frame sizes and strides.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "host/render_entry.h"
#include "renderers/render_frame.h"
#include "tests/render/render_test_support.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {

namespace render_test {
namespace {

using d3d_standin::Call;
using test_support::CompareWithReference;
using test_support::HostBuffer;

// ---- Failures ---------------------------------------------------------------------------------

TEST_F(RenderEntryTest, FailedLayerCheckoutReturnsItsCodeAndHandsNothingOver) {
    host.SetResult(host_sim::Callback::kCheckoutLayer, PF_Err_INVALID_INDEX);
    SmartRecords records(kEverything, 8);
    EXPECT_EQ(PreRender(records), PF_Err_INVALID_INDEX);
    EXPECT_EQ(records.preOutput.pre_render_data, nullptr);
    EXPECT_EQ(records.preOutput.delete_pre_render_data_func, nullptr);
    EXPECT_FALSE(MessageShown());
}

TEST_F(RenderEntryTest, FailedParameterCheckoutInPreRenderReturnsItsCode) {
    host.FailCheckoutOf(kParamSoftness, PF_Err_BAD_CALLBACK_PARAM);
    SmartRecords records(kEverything, 8);
    EXPECT_EQ(PreRender(records), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(records.preOutput.pre_render_data, nullptr);
    EXPECT_FALSE(MessageShown());
}

TEST_F(RenderEntryTest, ImpossiblePositionConversionIsReportedWithItsMessage) {
    host.in_data()->downsample_x = {0, 1};
    SmartRecords records(kEverything, 8);
    EXPECT_EQ(PreRender(records), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), "Tazu Pyrix: Invalid point coordinate dimensions");
    EXPECT_TRUE(MessageShown());
    EXPECT_EQ(records.preOutput.pre_render_data, nullptr);
}

TEST_F(RenderEntryTest, SmartRenderWithoutPreRenderRecordIs512WithoutMessage) {
    SmartRecords records(kEverything, 8);
    HostBuffer buffer(8, 8, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    host.SetOutputWorld(&world);
    EXPECT_EQ(SmartRender(records), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), "");
    EXPECT_FALSE(MessageShown());
    EXPECT_TRUE(buffer.Untouched());
}

// Records or callbacks the host left out: a clear code, nothing handed over, no message.
struct MissingRecordCase {
    const char* name;
    bool smartRender;  // else the pre-render
    void (*leaveOut)(SmartRecords& records, host_sim::Simulator& host, void** extra);
    PF_Err expected;
};

class MissingRecord : public RenderEntryTest,
                      public ::testing::WithParamInterface<MissingRecordCase> {};

TEST_P(MissingRecord, IsRefusedWithItsCode) {
    const MissingRecordCase& c = GetParam();
    SmartRecords records({0, 0, 64, 48});
    if (c.smartRender) {
        ASSERT_EQ(PreRender(records), PF_Err_NONE);
    }
    records.preExtra.cb = host.pre_render_callbacks();
    records.renderExtra.cb = host.smart_render_callbacks();
    records.renderInput.pre_render_data = records.preOutput.pre_render_data;
    void* extra = c.smartRender ? static_cast<void*>(&records.renderExtra)
                                : static_cast<void*>(&records.preExtra);
    c.leaveOut(records, host, &extra);
    EXPECT_EQ(
        Command(c.smartRender ? PF_Cmd_SMART_RENDER : PF_Cmd_SMART_PRE_RENDER, nullptr, extra),
        c.expected);
    if (!c.smartRender) {
        EXPECT_EQ(records.preOutput.pre_render_data, nullptr);
    }
    EXPECT_EQ(Message(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MissingRecord,
    ::testing::Values(
        MissingRecordCase{"PreRenderExtra", false,
                          [](SmartRecords&, host_sim::Simulator&, void** e) { *e = nullptr; },
                          PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{
            "PreRenderInput", false,
            [](SmartRecords& r, host_sim::Simulator&, void**) { r.preExtra.input = nullptr; },
            PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{
            "PreRenderOutput", false,
            [](SmartRecords& r, host_sim::Simulator&, void**) { r.preExtra.output = nullptr; },
            PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{
            "PreRenderCallbacks", false,
            [](SmartRecords& r, host_sim::Simulator&, void**) { r.preExtra.cb = nullptr; },
            PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{"CheckoutLayerSlot", false,
                          [](SmartRecords&, host_sim::Simulator& h, void**) {
                              h.SetMissing(host_sim::Callback::kCheckoutLayer);
                          },
                          PF_Err_INVALID_CALLBACK},
        MissingRecordCase{"SmartRenderExtra", true,
                          [](SmartRecords&, host_sim::Simulator&, void** e) { *e = nullptr; },
                          PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{
            "SmartRenderInput", true,
            [](SmartRecords& r, host_sim::Simulator&, void**) { r.renderExtra.input = nullptr; },
            PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{
            "SmartRenderCallbacks", true,
            [](SmartRecords& r, host_sim::Simulator&, void**) { r.renderExtra.cb = nullptr; },
            PF_Err_INTERNAL_STRUCT_DAMAGED},
        MissingRecordCase{"CheckoutOutputSlot", true,
                          [](SmartRecords&, host_sim::Simulator& h, void**) {
                              h.SetMissing(host_sim::Callback::kCheckoutOutput);
                          },
                          PF_Err_INVALID_CALLBACK}),
    [](const ::testing::TestParamInfo<MissingRecordCase>& param) { return param.param.name; });

TEST_F(RenderEntryTest, FailedOutputCheckoutReturnsItsCode) {
    SmartRecords records(kEverything, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    host.SetResult(host_sim::Callback::kCheckoutOutput, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SmartRender(records), PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(d3d_standin::CallLog().empty());
}

TEST_F(RenderEntryTest, NoOutputWorldRendersNothing) {
    SmartRecords records(kEverything, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    host.SetOutputWorld(nullptr);
    EXPECT_EQ(SmartRender(records), PF_Err_NONE);
    EXPECT_EQ(Legacy(nullptr), PF_Err_NONE);
    EXPECT_TRUE(d3d_standin::CallLog().empty()) << "no renderer for nothing to render";
}

TEST_F(RenderEntryTest, AnAbortFromTheHostCancelsTheRender) {
    host.SetAbort([] { return PF_Interrupt_CANCEL; });
    SmartRecords records(kEverything, 8);
    ASSERT_EQ(PreRender(records), PF_Err_NONE);
    HostBuffer buffer(64, 48, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    host.SetOutputWorld(&world);
    EXPECT_EQ(SmartRender(records), PF_Interrupt_CANCEL);
    EXPECT_EQ(Legacy(&world), PF_Interrupt_CANCEL);
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_FALSE(MessageShown());
}

// What a failure leaves behind: a failed creation nothing at all, a failed frame the renderer
// (with no textures when their creation failed).
enum class Leaves { Nothing, RendererWithoutTextures, RendererWithTextures };

struct GpuFault {
    const char* name;
    Call call;
    int skip;  // earlier calls of the same kind that succeed
    const char* message;
    Leaves leaves;
};

class GpuFailure : public RenderEntryTest, public ::testing::WithParamInterface<GpuFault> {};

TEST_P(GpuFailure, ReachesTheHostAsMessageAnd512AndTheNextFrameWorks) {
    const GpuFault& c = GetParam();
    // An ordinary failure: a lost device retires the renderer instead (tests/renderers/resilience).
    d3d_standin::FailCall(c.call, E_OUTOFMEMORY, c.skip);
    HostBuffer buffer(24, 16, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    EXPECT_EQ(Legacy(&world), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), std::string("Tazu Pyrix: ") + c.message);
    EXPECT_TRUE(MessageShown());
    EXPECT_TRUE(buffer.Untouched());
    using d3d_standin::Kind;
    using d3d_standin::LiveObjects;
    switch (c.leaves) {
        case Leaves::Nothing:
            EXPECT_EQ(LiveObjects(), 0) << "a failed creation leaks";
            break;
        case Leaves::RendererWithoutTextures:
            EXPECT_EQ(LiveObjects(Kind::Device), 1);
            EXPECT_EQ(LiveObjects(Kind::Texture2D), 0);
            EXPECT_EQ(LiveObjects(Kind::UnorderedAccessView), 1) << "only the anchor's view";
            break;
        case Leaves::RendererWithTextures:
            EXPECT_EQ(LiveObjects(Kind::Device), 1);
            EXPECT_EQ(LiveObjects(Kind::Texture2D), 1);  // 8 bits: the float texture alone
            EXPECT_EQ(test_support::CountLines("Unmap"), 0) << "nothing was mapped";
            break;
    }

    // The fault was one-off: the next frame succeeds, re-creating what is missing.
    d3d_standin::ClearCallLog();
    ASSERT_EQ(Legacy(&world), PF_Err_NONE);
    EXPECT_EQ(CompareWithReference(buffer, ExpectedParams(knobs, geometry, 24, 16, 0, 0)), "");
    EXPECT_EQ(test_support::CountLines("CreateDXGIFactory1"), c.leaves == Leaves::Nothing ? 1 : 0);
    EXPECT_EQ(test_support::CountLines("CreateTexture2D"),
              c.leaves == Leaves::RendererWithTextures ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GpuFailure,
    ::testing::Values(
        GpuFault{"factory", Call::CreateDXGIFactory1, 0, "DXGI initialization failed",
                 Leaves::Nothing},
        GpuFault{"adapters", Call::EnumAdapters1, 0, "No hardware GPU available", Leaves::Nothing},
        GpuFault{"device", Call::D3D11CreateDevice, 0, "Direct3D 11 GPU initialization failed",
                 Leaves::Nothing},
        GpuFault{"fireKernel", Call::CreateComputeShader, 0, "GPU shader initialization failed",
                 Leaves::Nothing},
        GpuFault{"anchorKernel", Call::CreateComputeShader, 1,
                 "GPU anchor shader initialization failed", Leaves::Nothing},
        GpuFault{"anchorBuffer", Call::CreateBuffer, 0, "GPU anchor buffer allocation failed",
                 Leaves::Nothing},
        GpuFault{"anchorUav", Call::CreateUnorderedAccessView, 0, "GPU anchor UAV failed",
                 Leaves::Nothing},
        GpuFault{"anchorSrv", Call::CreateShaderResourceView, 0, "GPU anchor SRV failed",
                 Leaves::Nothing},
        GpuFault{"constantBuffer", Call::CreateBuffer, 1, "GPU constant buffer allocation failed",
                 Leaves::Nothing},
        GpuFault{"tablesBuffer", Call::CreateBuffer, 2, "GPU constant buffer allocation failed",
                 Leaves::Nothing},
        GpuFault{"convertKernel", Call::CreateComputeShader, 2, "GPU shader initialization failed",
                 Leaves::Nothing},
        GpuFault{"conversionConstants", Call::CreateBuffer, 3,
                 "GPU constant buffer allocation failed", Leaves::Nothing},
        GpuFault{"outputTexture", Call::CreateTexture2D, 0, "GPU texture allocation failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"outputView", Call::CreateUnorderedAccessView, 1, "GPU output view failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"outputSrv", Call::CreateShaderResourceView, 1, "GPU output view failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"pixelBuffer", Call::CreateBuffer, 4, "GPU texture allocation failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"readbackBuffer", Call::CreateBuffer, 5, "GPU readback allocation failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"redoMarks", Call::CreateBuffer, 6, "GPU texture allocation failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"redoMarksView", Call::CreateUnorderedAccessView, 3, "GPU output view failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"redoMarksReadback", Call::CreateBuffer, 7, "GPU readback allocation failed",
                 Leaves::RendererWithoutTextures},
        GpuFault{"redoKernel", Call::CreateComputeShader, 3, "GPU shader initialization failed",
                 Leaves::Nothing},
        GpuFault{"map", Call::Map, 0, "GPU readback failed", Leaves::RendererWithTextures}),
    [](const ::testing::TestParamInfo<GpuFault>& param) { return param.param.name; });

TEST_F(RenderEntryTest, NoHardwareAdapterIsReportedOnEveryFrame) {
    d3d_standin::AdapterConfig software;
    software.flags = DXGI_ADAPTER_FLAG_SOFTWARE;
    d3d_standin::SetAdapters({software});
    HostBuffer buffer(8, 8, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    for (int frame = 0; frame < 2; ++frame) {
        host.out_data()->out_flags = 0;
        EXPECT_EQ(Legacy(&world), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(Message(), "Tazu Pyrix: No hardware GPU available");
        EXPECT_TRUE(MessageShown());
    }
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_EQ(d3d_standin::LiveObjects(), 0);
}

struct BadValue {
    const char* name;
    PF_ParamIndex index;
    double value;
    const char* message;
};

class NonFiniteParameter : public RenderEntryTest,
                           public ::testing::WithParamInterface<BadValue> {};

TEST_P(NonFiniteParameter, IsRefusedWithItsMessage) {
    const BadValue& c = GetParam();
    ParamArray params(knobs, geometry);
    params.defs[c.index].u.fs_d.value = c.value;
    HostBuffer buffer(8, 8, 0);
    PF_EffectWorld world = WorldOf(buffer, 0, 0, false);
    EXPECT_EQ(Command(PF_Cmd_RENDER, &world, nullptr, params.pointers),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), std::string("Tazu Pyrix: ") + c.message);
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_TRUE(d3d_standin::CallLog().empty());
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Fields, NonFiniteParameter,
    ::testing::Values(
        BadValue{"detailNaN", kParamDetail, kNaN, "Non-finite effect parameter"},
        BadValue{"speedInf", kParamSpeed, kInf, "Non-finite effect parameter"},
        BadValue{"offsetMinusInf", kParamOffset, -kInf, "Non-finite effect parameter"},
        BadValue{"emitterNaN", kParamEmitterSize, kNaN, "Non-finite position/emitter parameter"},
        BadValue{"softnessInf", kParamSoftness, kInf, "Non-finite position/emitter parameter"}),
    [](const ::testing::TestParamInfo<BadValue>& param) { return param.param.name; });

TEST_F(RenderEntryTest, FrameSizesUpTo16384AreAccepted) {
    HostBuffer empty(0, 4, 0);
    PF_EffectWorld emptyWorld = WorldOf(empty, 0, 0, false);
    EXPECT_EQ(Legacy(&emptyWorld), PF_Err_NONE);
    EXPECT_TRUE(d3d_standin::CallLog().empty());

    geometry.layerWidth = 16384;
    geometry.layerHeight = 2;
    Configure();
    HostBuffer widest(16384, 1, 0);
    PF_EffectWorld widestWorld = WorldOf(widest, 0, 0, false);
    EXPECT_EQ(Legacy(&widestWorld), PF_Err_NONE);
    EXPECT_FALSE(widest.Untouched());

    HostBuffer tooWide(16385, 1, 0);
    PF_EffectWorld tooWideWorld = WorldOf(tooWide, 0, 0, false);
    EXPECT_EQ(Legacy(&tooWideWorld), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), "Tazu Pyrix: Unsupported frame dimensions (maximum 16384)");
    EXPECT_TRUE(tooWide.Untouched());

    geometry.layerWidth = 16385;  // a full frame too wide, even for a small output
    Configure();
    HostBuffer small(8, 1, 0);
    PF_EffectWorld smallWorld = WorldOf(small, 0, 0, false);
    EXPECT_EQ(Legacy(&smallWorld), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), "Tazu Pyrix: Unsupported frame dimensions (maximum 16384)");
    EXPECT_TRUE(small.Untouched());
}

TEST_F(RenderEntryTest, StridesMustHoldARowAndMayRunUpward) {
    HostBuffer tight(20, 10, 1, 160);
    PF_EffectWorld world = WorldOf(tight, 0, 0, true);
    world.rowbytes = 159;
    EXPECT_EQ(Legacy(&world), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Message(), "Tazu Pyrix: Invalid output stride");
    world.rowbytes = -159;
    EXPECT_EQ(Legacy(&world), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(tight.Untouched());

    HostBuffer upward(20, 10, 1, -168);
    PF_EffectWorld upwardWorld = WorldOf(upward, 0, 0, true);
    ASSERT_EQ(Legacy(&upwardWorld), PF_Err_NONE);
    EXPECT_EQ(CompareWithReference(upward, ExpectedParams(knobs, geometry, 20, 10, 0, 0)), "");
}

}  // namespace
}  // namespace render_test

}  // namespace pyrix
