#include "host/render_entry.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "host/gpu_device.h"
#include "host/parameters.h"
#include "host_api/suite_scope.h"
#include "render/effect_settings.h"
#include "renderers/render_frame.h"

namespace pyrix {

namespace {

void DeletePreRenderSettings(void* pre_render_data) {
    delete static_cast<EffectSettings*>(pre_render_data);
}

// The host's output origin is the negated layer position; the most negative value has no
// negation in 32 bits and saturates instead of overflowing.
int32_t NegatedOrigin(A_long origin) {
    return static_cast<int32_t>(std::min<int64_t>(-static_cast<int64_t>(origin), INT32_MAX));
}

// The part of the asked rectangle inside the frame; empty when they do not meet.
PF_LRect ProducedRect(const PF_LRect& asked, const FrameExtent& full) {
    PF_LRect produced{std::max<A_long>(asked.left, 0), std::max<A_long>(asked.top, 0),
                      std::min<A_long>(asked.right, full.width),
                      std::min<A_long>(asked.bottom, full.height)};
    if (produced.right < produced.left || produced.bottom < produced.top) {
        produced = PF_LRect{0, 0, 0, 0};
    }
    return produced;
}

PF_Err RenderResult(bool completed) {
    return completed ? PF_Err_NONE : PF_Interrupt_CANCEL;
}

}  // namespace

bool IsRenderAborted(void* context) {
    auto* in_data = static_cast<PF_InData*>(context);
    return in_data != nullptr && in_data->inter.abort != nullptr &&
           in_data->inter.abort(in_data->effect_ref) != PF_Err_NONE;
}

FrameContext MakeFrameContext(PF_InData* in_data) {
    FrameContext context;
    context.layerWidth = in_data->width;
    context.layerHeight = in_data->height;
    context.downsampleX = DownsampleFactor(in_data->downsample_x);
    context.downsampleY = DownsampleFactor(in_data->downsample_y);
    context.isAborted = IsRenderAborted;
    context.abortContext = in_data;
    return context;
}

PF_Err PreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
    if (in_data == nullptr || extra == nullptr || extra->input == nullptr ||
        extra->output == nullptr || extra->cb == nullptr) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    if (extra->cb->checkout_layer == nullptr) return PF_Err_INVALID_CALLBACK;

    // The input layer is checked out without pixels, only to learn its size.
    PF_RenderRequest request = extra->input->output_request;
    request.rect = PF_LRect{0, 0, 0, 0};
    request.channel_mask = PF_ChannelMask_ARGB;
    request.preserve_rgb_of_zero_alpha = 0;
    PF_CheckoutResult result = {};
    const PF_Err checkout =
        extra->cb->checkout_layer(in_data->effect_ref, 0, 0, &request, in_data->current_time,
                                  in_data->time_step, in_data->time_scale, &result);
    if (checkout != PF_Err_NONE) return checkout;
    const bool knownLayer = result.ref_width >= 1 && result.ref_height >= 1;
    const int32_t layerWidth = knownLayer ? result.ref_width : in_data->width;
    const int32_t layerHeight = knownLayer ? result.ref_height : in_data->height;

    // Owned here until the host takes it at the very end.
    auto settings = std::make_unique<EffectSettings>(
        ReadEffectSettings(in_data, nullptr, layerWidth, layerHeight));
    settings->layerWidth = layerWidth;
    settings->layerHeight = layerHeight;

    FrameContext context = MakeFrameContext(in_data);
    context.layerWidth = layerWidth;
    context.layerHeight = layerHeight;
    const FrameExtent full = FrameFullExtent(context);
    PF_PreRenderOutput& output = *extra->output;
    output.max_result_rect = PF_LRect{0, 0, full.width, full.height};
    output.solid = 1;

    output.result_rect = ProducedRect(extra->input->output_request.rect, full);
    const PF_PreRenderInput& input = *extra->input;
    if (GpuDeviceForFrame(input.what_gpu, input.gpu_data, input.bitdepth) != nullptr) {
        output.flags |= PF_RenderOutputFlag_GPU_RENDER_POSSIBLE;
    }

    output.pre_render_data = settings.release();
    output.delete_pre_render_data_func = DeletePreRenderSettings;
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    if (in_data == nullptr || extra == nullptr || extra->input == nullptr || extra->cb == nullptr) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    const auto* settings = static_cast<const EffectSettings*>(extra->input->pre_render_data);
    if (settings == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (extra->cb->checkout_output == nullptr) return PF_Err_INVALID_CALLBACK;

    PF_EffectWorld* world = nullptr;
    const PF_Err checkout = extra->cb->checkout_output(in_data->effect_ref, &world);
    if (checkout != PF_Err_NONE) return checkout;

    RenderRequest request;
    if (world != nullptr) {
        request.pixels = reinterpret_cast<uint8_t*>(world->data);
        request.width = world->width;
        request.height = world->height;
        request.rowBytes = world->rowbytes;
        request.originX = world->origin_x;
        request.originY = world->origin_y;
        const A_short bits = extra->input->bitdepth;
        request.depth = DepthOfBits(bits);
    }

    FrameContext context = MakeFrameContext(in_data);
    context.layerWidth = settings->layerWidth;  // the extent announced in PreRender
    context.layerHeight = settings->layerHeight;
    return RenderResult(RenderFrame(request, *settings, context));
}

PF_Err SmartRenderGpu(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    if (in_data == nullptr || extra == nullptr || extra->input == nullptr || extra->cb == nullptr) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    const PF_SmartRenderInput& input = *extra->input;
    const auto* settings = static_cast<const EffectSettings*>(input.pre_render_data);
    if (settings == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    const std::shared_ptr<HostGpuDevice> device =
        GpuDeviceForFrame(input.what_gpu, input.gpu_data, input.bitdepth);
    if (device == nullptr) return PF_Err_BAD_CALLBACK_PARAM;  // a frame pre-render did not offer
    if (extra->cb->checkout_output == nullptr) return PF_Err_INVALID_CALLBACK;
    PF_EffectWorld* world = nullptr;
    const PF_Err checkout = extra->cb->checkout_output(in_data->effect_ref, &world);
    if (checkout != PF_Err_NONE) return checkout;
    if (world == nullptr) return PF_Err_NONE;

    const SuiteScope<PF_GPUDeviceSuite1> suite(in_data->pica_basicP, kPFGPUDeviceSuite,
                                               kPFGPUDeviceSuiteVersion1);
    if (!suite || suite->GetGPUWorldData == nullptr || suite->GetGPUWorldSize == nullptr) {
        return PF_Err_INVALID_CALLBACK;
    }
    HostGpuWorld target;
    size_t size = 0;
    PF_Err err = suite->GetGPUWorldData(in_data->effect_ref, world, &target.buffer);
    if (err == PF_Err_NONE) err = suite->GetGPUWorldSize(in_data->effect_ref, world, &size);
    if (err != PF_Err_NONE) return err;
    target.sizeBytes = size;
    target.width = world->width;
    target.height = world->height;
    target.rowBytes = world->rowbytes;
    target.originX = world->origin_x;
    target.originY = world->origin_y;

    FrameContext context = MakeFrameContext(in_data);
    context.layerWidth = settings->layerWidth;
    context.layerHeight = settings->layerHeight;
    const PF_LRect produced = ProducedRect(input.output_request.rect, FrameFullExtent(context));
    const FrameExtent producedSize{produced.right - produced.left, produced.bottom - produced.top};
    return RenderResult(RenderHostGpuFrame(*device, target, producedSize, *settings, context));
}

PF_Err LegacyRender(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output) {
    if (in_data == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;

    RenderRequest request;  // no output world: nothing to render
    if (output != nullptr) {
        request.pixels = reinterpret_cast<uint8_t*>(output->data);
        request.width = output->width;
        request.height = output->height;
        request.rowBytes = output->rowbytes;
        request.originX = NegatedOrigin(in_data->output_origin_x);
        request.originY = NegatedOrigin(in_data->output_origin_y);
        request.depth =
            (output->world_flags & PF_WorldFlag_DEEP) != 0 ? kPixelDepth16 : kPixelDepth8;
    }

    const FrameContext context = MakeFrameContext(in_data);
    EffectSettings settings = ReadEffectSettings(in_data, params, 0, 0);
    settings.layerWidth = in_data->width;
    settings.layerHeight = in_data->height;
    return RenderResult(RenderFrame(request, settings, context));
}

}  // namespace pyrix
