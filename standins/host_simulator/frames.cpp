// The host simulator's frames: parameter values, frame geometry as a host works it out, the
// output buffer, and a frame's commands from pre-render to render.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "render/pixel_depth.h"
#include "standins/host_simulator/gpu_device_suite.h"
#include "standins/host_simulator/simulator.h"
#include "standins/host_simulator/simulator_internal.h"

namespace host_sim {

// ---- Values and geometry ------------------------------------------------------------------------

PF_ParamDef FloatParam(double value) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_FLOAT_SLIDER;
    def.u.fs_d.value = value;
    return def;
}

PF_ParamDef PointParam(PF_Fixed x, PF_Fixed y) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_POINT;
    def.u.td.x_value = x;
    def.u.td.y_value = y;
    return def;
}

PF_LRect FrameRect(A_long layerWidth, A_long layerHeight, PF_RationalScale x, PF_RationalScale y) {
    return {0, 0, ScaledSide(layerWidth, x), ScaledSide(layerHeight, y)};
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const PF_LRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

PF_LRect FrameRequest::FullFrame() const {
    const PF_RationalScale scale = {1, static_cast<A_u_long>(downsample)};
    return FrameRect(layerWidth, layerHeight, scale, scale);
}

PF_LRect FrameRequest::Request() const {
    return rect ? *rect : FullFrame();
}

const char* CommandName(PF_Cmd command) {
    static const std::pair<PF_Cmd, const char*> kNames[] = {
        {PF_Cmd_ABOUT, "PF_Cmd_ABOUT"},
        {PF_Cmd_GLOBAL_SETUP, "PF_Cmd_GLOBAL_SETUP"},
        {PF_Cmd_GLOBAL_SETDOWN, "PF_Cmd_GLOBAL_SETDOWN"},
        {PF_Cmd_PARAMS_SETUP, "PF_Cmd_PARAMS_SETUP"},
        {PF_Cmd_RENDER, "PF_Cmd_RENDER"},
        {PF_Cmd_SMART_PRE_RENDER, "PF_Cmd_SMART_PRE_RENDER"},
        {PF_Cmd_SMART_RENDER, "PF_Cmd_SMART_RENDER"},
        {PF_Cmd_SMART_RENDER_GPU, "PF_Cmd_SMART_RENDER_GPU"},
        {PF_Cmd_GPU_DEVICE_SETUP, "PF_Cmd_GPU_DEVICE_SETUP"},
        {PF_Cmd_GPU_DEVICE_SETDOWN, "PF_Cmd_GPU_DEVICE_SETDOWN"},
        {-1, "PluginDataEntryFunction2"}};
    for (const auto& [cmd, name] : kNames) {
        if (cmd == command) return name;
    }
    return "command";
}

std::string CommandResult::Describe() const {
    if (!message.empty()) return message;
    return std::string(CommandName(command)) + " failed with error " + std::to_string(error);
}

// Allocates the output buffer for `rect` at `depth` bits; rows padded as hosts do.
bool AllocateWorld(const PF_LRect& rect, int32_t depth, OutputWorld* out) {
    const int64_t width = static_cast<int64_t>(rect.right) - rect.left;
    const int64_t height = static_cast<int64_t>(rect.bottom) - rect.top;
    if (width > kMaxWorldDimension || height > kMaxWorldDimension) return false;
    const int64_t pixelBytes = BytesPerPixel(DepthOfBits(depth));
    const int64_t rowBytes = (width * pixelBytes + 63) / 64 * 64;
    // calloc leaves untouched pages unmapped, so a refused frame costs no memory.
    out->pixels.reset(
        static_cast<uint8_t*>(std::calloc(static_cast<size_t>(rowBytes * height), 1)));
    if (out->pixels == nullptr) return false;
    PF_EffectWorld& world = out->world;
    world = {};
    world.world_flags = depth == 16 ? PF_WorldFlag_DEEP : 0;
    world.data = reinterpret_cast<PF_PixelPtr>(out->pixels.get());
    world.rowbytes = static_cast<A_long>(rowBytes);
    world.width = static_cast<A_long>(width);
    world.height = static_cast<A_long>(height);
    world.extent_hint = {0, 0, world.width, world.height};
    world.origin_x = rect.left;
    world.origin_y = rect.top;
    world.pix_aspect_ratio = {1, 1};
    return true;
}

CommandResult Simulator::RenderFrame(const FrameRequest& request, OutputWorld* out) {
    *out = OutputWorld();
    Command command(*this);
    command.acceptsParams = false;
    command.refWidth = request.layerWidth;
    command.refHeight = request.layerHeight;
    command.cancel = request.cancel;
    command.values = &request.params;
    PF_InData& in = command.in;
    in.current_time = request.currentTime;
    in.time_step = request.timeStep;
    in.local_time_step = request.timeStep;
    in.time_scale = request.timeScale;
    in.total_time = request.currentTime + request.timeStep;
    in.width = request.layerWidth;
    in.height = request.layerHeight;
    in.downsample_x = {1, static_cast<A_u_long>(request.downsample)};
    in.downsample_y = in.downsample_x;
    const PF_LRect full = request.FullFrame();
    in.extent_hint = request.rect ? Intersect(*request.rect, full) : full;
    return request.legacy ? LegacyRender(command, request, out)
                          : SmartRender(command, request, out);
}

CommandResult Simulator::SmartRender(Command& command, const FrameRequest& request,
                                     OutputWorld* out) {
    PF_PreRenderInput preInput{};
    preInput.output_request.rect = request.Request();
    preInput.output_request.field = PF_Field_FRAME;
    preInput.output_request.channel_mask = PF_ChannelMask_ARGB;
    preInput.bitdepth = static_cast<A_short>(request.depth);
    if (gpu_frames_ != nullptr && request.depth == 32) {
        preInput.gpu_data = gpu_frames_->gpuData();
        preInput.what_gpu = PF_GPU_Framework_DIRECTX;
    }
    PF_PreRenderOutput preOutput{};
    PF_PreRenderExtra preExtra{&preInput, &preOutput, &command.pre};
    CommandResult result = Call(PF_Cmd_SMART_PRE_RENDER, command, nullptr, nullptr, &preExtra);
    if (!result.ok()) return result;

    // From here the pre-render record is ours until we hand it back through its delete function.
    struct PreRenderRecord {
        PF_PreRenderOutput& output;
        ~PreRenderRecord() {
            if (output.delete_pre_render_data_func != nullptr && output.pre_render_data != nullptr)
                output.delete_pre_render_data_func(output.pre_render_data);
        }
    } record{preOutput};

    const PF_LRect& announced = preOutput.result_rect;
    PF_SmartRenderInput input{};
    input.output_request = preInput.output_request;
    input.bitdepth = preInput.bitdepth;
    input.pre_render_data = preOutput.pre_render_data;
    if ((preOutput.flags & PF_RenderOutputFlag_GPU_RENDER_POSSIBLE) != 0 &&
        preInput.gpu_data != nullptr) {
        input.gpu_data = preInput.gpu_data;
        input.what_gpu = preInput.what_gpu;
        return SmartRenderGpu(command, input, announced, out);
    }
    if (!IsEmpty(announced)) {
        if (!AllocateWorld(announced, request.depth, out)) {
            return CommandResult{
                PF_Cmd_SMART_RENDER, PF_Err_OUT_OF_MEMORY,
                std::string(kHostName) +
                    ": cannot allocate an output buffer for the announced result (" +
                    std::to_string(announced.right - announced.left) + "x" +
                    std::to_string(announced.bottom - announced.top) + ")"};
        }
        command.output = &out->world;
    }
    PF_SmartRenderExtra extra{&input, &command.smart};
    result = Call(PF_Cmd_SMART_RENDER, command, nullptr, nullptr, &extra);
    if (!result.ok()) *out = OutputWorld();
    return result;
}

CommandResult Simulator::SmartRenderGpu(Command& command, const PF_SmartRenderInput& input,
                                        const PF_LRect& announced, OutputWorld* out) {
    const CommandResult noMemory{PF_Cmd_SMART_RENDER_GPU, PF_Err_OUT_OF_MEMORY,
                                 std::string(kHostName) + ": cannot allocate a GPU world"};
    PF_SmartRenderInput gpuInput = input;
    PF_SmartRenderExtra extra{&gpuInput, &command.smart};
    if (IsEmpty(announced)) return Call(PF_Cmd_SMART_RENDER_GPU, command, nullptr, nullptr, &extra);
    if (!AllocateWorld(announced, 32, out)) return noMemory;
    PF_EffectWorld gpuWorld = out->world;
    if (!gpu_frames_->CreateWorld(&gpuWorld)) {
        *out = OutputWorld();
        return noMemory;
    }
    command.output = &gpuWorld;
    CommandResult result = Call(PF_Cmd_SMART_RENDER_GPU, command, nullptr, nullptr, &extra);
    if (result.ok() && !gpu_frames_->ReadWorld(gpuWorld, &out->world)) {
        result = CommandResult{PF_Cmd_SMART_RENDER_GPU, PF_Err_OUT_OF_MEMORY,
                               std::string(kHostName) + ": cannot read the GPU world back"};
    }
    gpu_frames_->DisposeWorld(&gpuWorld);
    if (!result.ok()) *out = OutputWorld();
    return result;
}

CommandResult Simulator::LegacyRender(Command& command, const FrameRequest& request,
                                      OutputWorld* out) {
    const PF_LRect rect = request.Request();
    if (!AllocateWorld(rect, request.depth, out)) {
        return CommandResult{PF_Cmd_RENDER, PF_Err_OUT_OF_MEMORY,
                             std::string(kHostName) + ": cannot allocate the output buffer"};
    }
    // The legacy record carries the negated position of the buffer in the layer.
    command.in.output_origin_x = -rect.left;
    command.in.output_origin_y = -rect.top;
    std::vector<PF_ParamDef> values = request.params;
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& def : values) pointers.push_back(&def);
    CommandResult result = Call(PF_Cmd_RENDER, command, pointers.data(), &out->world, nullptr);
    if (!result.ok()) *out = OutputWorld();
    return result;
}

}  // namespace host_sim
