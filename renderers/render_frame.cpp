#include "renderers/render_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "kernels/exact_math.h"
#include "renderers/frame_params.h"
#include "renderers/output_conversion.h"
#include "renderers/renderer.h"

namespace pyrix {

namespace {

// Renderers a frame may find lost before it starts on one; the last it renders on regardless.
constexpr int kRendererAttempts = 3;
// The largest stride whose kMaxFrameDimension rows still span less than INT64_MAX bytes.
constexpr uint64_t kMaxRowBytes = uint64_t(INT64_MAX) / kMaxFrameDimension;

bool IsFinite(float v) {
    return std::isfinite(v);
}

float Clamp(float v, float lo, float hi) {
    return std::min(std::max(v, lo), hi);
}

// |rowBytes| without overflow, also for the most negative value.
uint64_t StrideMagnitude(int64_t rowBytes) {
    return rowBytes < 0 ? uint64_t(0) - static_cast<uint64_t>(rowBytes)
                        : static_cast<uint64_t>(rowBytes);
}

}  // namespace

ParamsBlock MakeParamsBlock(const RenderRequest& request, const EffectSettings& settings,
                            const FrameExtent& full) {
    // In the kernels' float mode: the host thread's rounding must not reach the constants.
    const FlushDenormals kernelsMode;
    ParamsBlock params = {};
    params.width = static_cast<uint32_t>(request.width);
    params.height = static_cast<uint32_t>(request.height);
    params.originX = request.originX;
    params.originY = request.originY;
    params.fullWidth = static_cast<float>(full.width);
    params.fullHeight = static_cast<float>(full.height);
    params.detail = Clamp(settings.detail, kDetailRange.min, kDetailRange.max);
    const float speed = Clamp(settings.speed, kSpeedRange.min, kSpeedRange.max);
    const float offset = Clamp(settings.offset, kOffsetRange.min, kOffsetRange.max);
    params.time = settings.frameNumber * 0.03f * speed + offset;
    params.shiftX = settings.positionX - 0.5f;
    params.shiftY = settings.positionY - 0.91f;
    params.emitterSize =
        Clamp(settings.emitterSize, kEmitterSizeRange.min, kEmitterSizeRange.max) / 100.0f;
    params.softness = Clamp(settings.softness, kSoftnessRange.min, kSoftnessRange.max) / 100.0f;
    return params;
}

FrameFloatMode::FrameFloatMode() : saved_(InFloatMode::Current()) {
    InFloatMode::Set(FlushDenormals::Mode(saved_));
}

FrameFloatMode::~FrameFloatMode() {
    InFloatMode::Set(saved_);
}

FrameExtent FrameFullExtent(const FrameContext& context) {
    const FrameFloatMode nearest;
    return FullFrameExtent(context);
}

namespace {

FrameExtent CheckedFullExtent(const RenderRequest& request, const FrameContext& context) {
    const FrameExtent full = FrameFullExtent(context);
    if (full.width < 1 || full.height < 1 || full.width > kMaxFrameDimension ||
        full.height > kMaxFrameDimension || request.width > kMaxFrameDimension ||
        request.height > kMaxFrameDimension) {
        throw std::runtime_error("Unsupported frame dimensions (maximum 16384)");
    }
    return full;
}

void CheckSettings(const EffectSettings& settings) {
    if (!IsFinite(settings.detail) || !IsFinite(settings.speed) || !IsFinite(settings.offset) ||
        !IsFinite(settings.frameNumber)) {
        throw std::runtime_error("Non-finite effect parameter");
    }
    if (!IsFinite(settings.positionX) || !IsFinite(settings.positionY) ||
        !IsFinite(settings.emitterSize) || !IsFinite(settings.softness)) {
        throw std::runtime_error("Non-finite position/emitter parameter");
    }
}

void CheckStride(const RenderRequest& request) {
    // A stride so large that the frame's rows would not fit in the address range is as wrong
    // as one too small (this also covers the most negative value, which has no magnitude).
    const uint64_t rowBytesNeeded = uint64_t(request.width) * BytesPerPixel(request.depth);
    const uint64_t magnitude = StrideMagnitude(request.rowBytes);
    if (magnitude < rowBytesNeeded || magnitude > kMaxRowBytes) {
        throw std::runtime_error("Invalid output stride");
    }
}

}  // namespace

bool CheckFrame(const RenderRequest& request, const EffectSettings& settings,
                const FrameContext& context, FrameExtent* full) {
    *full = CheckedFullExtent(request, context);
    if (IsAborted(context)) return false;
    CheckSettings(settings);
    CheckStride(request);
    return true;
}

bool RenderFrame(const RenderRequest& request, const EffectSettings& settings,
                 const FrameContext& context) {
    if (request.pixels == nullptr || request.width <= 0 || request.height <= 0) return true;
    FrameExtent full;
    if (!CheckFrame(request, settings, context, &full)) return false;

    const ParamsBlock params = MakeParamsBlock(request, settings, full);
    for (int attempt = 1;; ++attempt) {
        const std::shared_ptr<Renderer> renderer = GetRenderer();
        RenderOutcome outcome = RenderOutcome::Complete;
        try {
            outcome = renderer->Render(request, params, context, attempt < kRendererAttempts);
        } catch (...) {
            // This frame saw the loss and fails with its message; the next one starts afresh.
            if (renderer->deviceLost) RetireRenderer(*renderer);
            throw;
        }
        switch (outcome) {
            case RenderOutcome::DeviceLost:
                RetireRenderer(*renderer);
                continue;
            case RenderOutcome::Aborted:
                return false;
            case RenderOutcome::Complete:
                return !IsAborted(context);
        }
    }
}

}  // namespace pyrix
