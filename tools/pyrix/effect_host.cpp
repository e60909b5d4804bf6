#include "tools/pyrix/effect_host.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace pyrix::preview {

const ControlBinding kControlBindings[6] = {
    {Control::kPosition, 7}, {Control::kEmitterSize, 8}, {Control::kDetail, 1},
    {Control::kSoftness, 9}, {Control::kSpeed, 2},       {Control::kOffset, 3},
};

namespace {

PF_Fixed ToFixed(double value) {
    const double scaled = std::round(value * 65536.0);
    if (!(scaled > -2147483648.0)) return std::numeric_limits<PF_Fixed>::min();
    if (scaled >= 2147483647.0) return std::numeric_limits<PF_Fixed>::max();
    return static_cast<PF_Fixed>(scaled);
}

// The value the host answers for a declared parameter at the current resolution.
PF_ParamDef ValueOf(PF_ParamDef def, const RenderSettings& settings) {
    const ControlBinding* binding = nullptr;
    for (const ControlBinding& b : kControlBindings) {
        if (b.paramId == def.uu.id) binding = &b;
    }
    if (binding == nullptr) return def;

    if (def.param_type == PF_Param_POINT) {
        // Points reach the effect in pixels of the current resolution; the host keeps them
        // as percentages of the layer, as the declared defaults are.
        const double px = settings.positionX.value_or(def.u.td.x_dephault / 65536.0);
        const double py = settings.positionY.value_or(def.u.td.y_dephault / 65536.0);
        def.u.td.x_value = ToFixed(px / 100.0 * settings.layerWidth / settings.downsample);
        def.u.td.y_value = ToFixed(py / 100.0 * settings.layerHeight / settings.downsample);
    } else if (def.param_type == PF_Param_FLOAT_SLIDER) {
        def.u.fs_d.value = settings.SliderValue(binding->control).value_or(def.u.fs_d.dephault);
    }
    return def;
}

host_sim::FrameRequest FrameOf(const RenderSettings& s) {
    host_sim::FrameRequest request;
    request.layerWidth = s.layerWidth;
    request.layerHeight = s.layerHeight;
    request.downsample = s.downsample;
    request.rect = s.rect;
    return request;
}

// The finished frame: the part of the output buffer that lies in `request`, transparent
// elsewhere. Made only after the effect succeeded, so a refused frame costs no memory.
void CopyWorldTo(const PF_EffectWorld& world, const PF_LRect& request, FrameImage* image) {
    if (world.data == nullptr) return;
    const PF_LRect worldRect = {world.origin_x, world.origin_y, world.origin_x + world.width,
                                world.origin_y + world.height};
    const PF_LRect common = host_sim::Intersect(worldRect, request);
    if (host_sim::IsEmpty(common)) return;
    const size_t bpp = image->pixelBytes();
    const size_t bytes = bpp * static_cast<size_t>(common.right - common.left);
    const auto* base = reinterpret_cast<const uint8_t*>(world.data);
    for (A_long y = common.top; y < common.bottom; ++y) {
        const uint8_t* src = base + static_cast<int64_t>(y - worldRect.top) * world.rowbytes +
                             bpp * static_cast<size_t>(common.left - worldRect.left);
        uint8_t* dst =
            image->row(y - request.top) + bpp * static_cast<size_t>(common.left - request.left);
        std::memcpy(dst, src, bytes);
    }
}

}  // namespace

PF_LRect RenderSettings::Request() const {
    return FrameOf(*this).Request();
}

PF_LRect RenderSettings::FullFrame() const {
    return FrameOf(*this).FullFrame();
}

std::optional<double> RenderSettings::SliderValue(Control control) const {
    switch (control) {
        case Control::kPosition:
            return std::nullopt;  // a point, not a slider
        case Control::kEmitterSize:
            return emitterSize;
        case Control::kDetail:
            return detail;
        case Control::kSoftness:
            return softness;
        case Control::kSpeed:
            return speed;
        case Control::kOffset:
            return offset;
    }
    return std::nullopt;
}

EffectHost::EffectHost(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain)
    : Simulator(host_sim::Profile::kFull) {
    SetEffect(dataEntry, effectMain);
    // Outside of frames the controls answer their defaults; they hold no keyframes.
    SetParamSource([this](PF_ParamIndex index, A_long) {
        const std::vector<PF_ParamDef> declared = AddedParams();
        PF_ParamDef def{};
        if (index == 0) def.param_type = PF_Param_LAYER;
        if (index < 1 || index > static_cast<PF_ParamIndex>(declared.size())) return def;
        return ValueOf(declared[static_cast<size_t>(index - 1)], RenderSettings());
    });
}

CommandResult EffectHost::RenderFrame(const RenderSettings& settings, int32_t frame,
                                      const std::atomic<bool>* cancel, FrameImage* image) {
    constexpr A_long kTick = host_sim::kTicksPerFrame;
    if (settings.layerWidth < 1 || settings.layerHeight < 1 || settings.downsample < 1 ||
        !(settings.fps > 0.0) || frame < 1 || frame > INT32_MAX / kTick ||
        (settings.depth != 8 && settings.depth != 16 && settings.depth != 32) ||
        (settings.legacy && settings.depth == 32)) {
        throw std::invalid_argument("pyrix: render settings out of range");
    }
    host_sim::FrameRequest request = FrameOf(settings);
    request.currentTime = (frame - 1) * kTick;
    request.timeScale = static_cast<A_u_long>(std::llround(settings.fps * kTick));
    request.depth = settings.depth;
    request.legacy = settings.legacy;
    request.cancel = cancel;
    request.params.emplace_back();
    request.params[0].param_type = PF_Param_LAYER;
    for (const PF_ParamDef& def : AddedParams()) request.params.push_back(ValueOf(def, settings));

    // The image keeps its memory from one frame to the next, as a host's frame buffers do: a
    // fresh one costs a page fault per 4 KB at every frame.
    std::vector<uint8_t> pixels = std::move(image->pixels);
    *image = FrameImage();
    host_sim::OutputWorld output;
    const CommandResult result = Simulator::RenderFrame(request, &output);
    if (result.ok()) {
        const PF_LRect rect = request.Request();
        image->width = rect.right - rect.left;
        image->height = rect.bottom - rect.top;
        image->depth = settings.depth;
        pixels.assign(image->rowBytes() * static_cast<size_t>(image->height), 0);
        image->pixels = std::move(pixels);
        CopyWorldTo(output.world, rect, image);
    }
    return result;
}

}  // namespace pyrix::preview
