#include "tests/render/render_test_support.h"

#include <cstring>

#include "renderers/render_frame.h"
#include "tests/renderers/stand_in_fixture.h"

namespace pyrix {

namespace render_test {

namespace {

PF_Fixed Fixed(double pixels) {
    return static_cast<PF_Fixed>(pixels * 65536.0);
}

}  // namespace

ParamArray::ParamArray(const Knobs& knobs, const Geometry& geometry) {
    std::memset(defs, 0, sizeof(defs));
    // Point values are layer pixels at the current resolution.
    const double scale = 1.0 / double(geometry.downsampleDen);
    defs[kParamPosition] =
        host_sim::PointParam(Fixed(double(knobs.positionX) * geometry.layerWidth * scale),
                             Fixed(double(knobs.positionY) * geometry.layerHeight * scale));
    defs[kParamEmitterSize] = host_sim::FloatParam(knobs.emitterSize);
    defs[kParamDetail] = host_sim::FloatParam(knobs.detail);
    defs[kParamSoftness] = host_sim::FloatParam(knobs.softness);
    defs[kParamSpeed] = host_sim::FloatParam(knobs.speed);
    defs[kParamOffset] = host_sim::FloatParam(knobs.offset);
    for (int i = 0; i < kParamCount; ++i) pointers[i] = &defs[i];
}

ParamsBlock ExpectedParams(const Knobs& knobs, const Geometry& geometry, int32_t width,
                           int32_t height, int32_t originX, int32_t originY) {
    ParamsBlock p{};
    p.width = uint32_t(width);
    p.height = uint32_t(height);
    p.originX = originX;
    p.originY = originY;
    p.fullWidth = float(geometry.FullWidth());
    p.fullHeight = float(geometry.FullHeight());
    p.detail = knobs.detail;
    const float frameNumber = float(knobs.currentTime) + 1.0f;
    p.time = frameNumber * 0.03f * knobs.speed + knobs.offset;
    p.shiftX = knobs.positionX - 0.5f;
    p.shiftY = knobs.positionY - 0.91f;
    p.emitterSize = knobs.emitterSize / 100.0f;
    p.softness = knobs.softness / 100.0f;
    return p;
}

PF_EffectWorld WorldOf(test_support::HostBuffer& buffer, A_long originX, A_long originY,
                       bool deep) {
    PF_EffectWorld world{};
    world.world_flags = deep ? PF_WorldFlag_DEEP : 0;
    world.data = reinterpret_cast<PF_PixelPtr>(buffer.request.pixels);
    world.rowbytes = A_long(buffer.request.rowBytes);
    world.width = buffer.request.width;
    world.height = buffer.request.height;
    world.origin_x = originX;
    world.origin_y = originY;
    return world;
}

SmartRecords::SmartRecords(PF_LRect requestRect, A_short bitdepth) {
    preInput.output_request.rect = requestRect;
    preInput.output_request.field = 3;
    preInput.output_request.channel_mask = PF_ChannelMask_RED;
    preInput.output_request.preserve_rgb_of_zero_alpha = 1;
    preInput.bitdepth = bitdepth;
    preOutput.flags = 0x1234;
    preExtra.input = &preInput;
    preExtra.output = &preOutput;
    renderInput.output_request = preInput.output_request;
    renderInput.bitdepth = bitdepth;
    renderExtra.input = &renderInput;
}

SmartRecords::~SmartRecords() {
    if (preOutput.pre_render_data != nullptr && preOutput.delete_pre_render_data_func != nullptr) {
        preOutput.delete_pre_render_data_func(preOutput.pre_render_data);
    }
}

void RenderEntryTest::SetUp() {
    ReleaseRenderer();
    d3d_standin::Reset();
    test_support::SetCpuFallback("off");  // the GPU path's errors where no device can be had
    ASSERT_EQ(d3d_standin::LiveObjects(), 0) << "an earlier test leaked";
    Configure();
}

void RenderEntryTest::TearDown() {
    EXPECT_EQ(Command(PF_Cmd_GLOBAL_SETDOWN), PF_Err_NONE);
    d3d_standin::Reset();
    test_support::SetCpuFallback(nullptr);
    EXPECT_EQ(d3d_standin::LiveObjects(), 0) << "objects left after global set-down";
    EXPECT_EQ(host.OutstandingCheckouts(), 0) << "parameters not checked in";
}

void ConfigureHost(host_sim::Simulator& host, const Knobs& knobs, const Geometry& geometry) {
    PF_InData* in = host.in_data();
    in->width = geometry.layerWidth;
    in->height = geometry.layerHeight;
    in->downsample_x = {1, A_u_long(geometry.downsampleDen)};
    in->downsample_y = {1, A_u_long(geometry.downsampleDen)};
    in->current_time = knobs.currentTime;
    in->time_step = 1;
    in->local_time_step = 1;
    host.SetLayerSize(geometry.layerWidth, geometry.layerHeight);
    const ParamArray params(knobs, geometry);
    for (int i = 0; i < kParamCount; ++i) host.SetParam(i, params.defs[i]);
}

namespace {

thread_local PF_EffectWorld* tThreadWorld = nullptr;

PF_Err CheckoutThreadWorld(PF_ProgPtr, PF_EffectWorld** output) {
    *output = tThreadWorld;
    return PF_Err_NONE;
}

}  // namespace

PF_Err SmartFrameOnThisThread(host_sim::Simulator& host, SmartRecords& records,
                              test_support::HostBuffer& buffer, PF_OutData* out) {
    records.preExtra.cb = host.pre_render_callbacks();
    PF_Err result = EffectMain(PF_Cmd_SMART_PRE_RENDER, host.in_data(), out, nullptr, nullptr,
                               &records.preExtra);
    if (result != PF_Err_NONE) return result;
    const PF_LRect& rect = records.preInput.output_request.rect;
    PF_EffectWorld world = WorldOf(buffer, rect.left, rect.top, false);
    PF_SmartRenderCallbacks callbacks{};
    callbacks.checkout_output = CheckoutThreadWorld;
    tThreadWorld = &world;
    records.renderInput.pre_render_data = records.preOutput.pre_render_data;
    records.renderExtra.cb = &callbacks;
    result = EffectMain(PF_Cmd_SMART_RENDER, host.in_data(), out, nullptr, nullptr,
                        &records.renderExtra);
    tThreadWorld = nullptr;
    return result;
}

void RenderEntryTest::Configure() {
    ConfigureHost(host, knobs, geometry);
}

PF_Err RenderEntryTest::Command(PF_Cmd cmd, PF_LayerDef* output, void* extra,
                                PF_ParamDef** params) {
    return EffectMain(cmd, host.in_data(), host.out_data(), params, output, extra);
}

PF_Err RenderEntryTest::PreRender(SmartRecords& records) {
    records.preExtra.cb = host.pre_render_callbacks();
    return Command(PF_Cmd_SMART_PRE_RENDER, nullptr, &records.preExtra);
}

PF_Err RenderEntryTest::SmartRender(SmartRecords& records) {
    records.renderInput.pre_render_data = records.preOutput.pre_render_data;
    records.renderExtra.cb = host.smart_render_callbacks();
    return Command(PF_Cmd_SMART_RENDER, nullptr, &records.renderExtra);
}

PF_Err RenderEntryTest::Legacy(PF_LayerDef* output) {
    ParamArray params(knobs, geometry);
    return Command(PF_Cmd_RENDER, output, nullptr, params.pointers);
}

std::string RenderEntryTest::Message() {
    return host.out_data()->return_msg;
}

bool RenderEntryTest::MessageShown() {
    return (host.out_data()->out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
}

}  // namespace render_test

}  // namespace pyrix
