#include "renderers/cpu_renderer.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "kernels/cpu_kernels.h"
#include "kernels/exact_math.h"
#include "kernels/fan_out.h"
#include "kernels/fast_fire_kernel.h"
#include "renderers/output_conversion.h"

namespace pyrix {

CpuFallback CpuFallbackSetting() {
    const char* value = std::getenv(kCpuFallbackVariable);
    std::string word = value != nullptr ? value : "";
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "off") return CpuFallback::Off;
    if (word == "force") return CpuFallback::Force;
    return CpuFallback::Auto;
}

RenderOutcome CpuRenderer::Render(const RenderRequest& request, const ParamsBlock& params,
                                  const FrameContext& context, bool /*mayReportLoss*/) {
    const std::unique_lock<std::mutex> guard = LockByPolling(lock, context);
    if (!guard.owns_lock() || IsAborted(context)) return RenderOutcome::Aborted;

    EnsureImage(params.width, params.height);
    const uint32_t rowPitch = params.width * 4 * sizeof(float);
    const TexelImage image{image_.get(), rowPitch, params.width, params.height};

    const AnchorRecord anchor = RunAnchorKernel(params);
    FanOutTeam team;  // the frame's threads, for the kernel's passes and the conversion
    FastFireOptions options;
    options.team = &team;
    // The kernels flush denormals on the threads they run on, the host's included; the host's
    // abort check gets the mode its thread came in with.
    options.stop = [&context, host = InFloatMode::Current()] {
        const InFloatMode mode(host);
        return IsAborted(context);
    };
    if (!RunFastFireKernel(params, anchor, image, options)) return RenderOutcome::Aborted;

    ConvertRows(ReadbackImage{reinterpret_cast<const uint8_t*>(image_.get()), rowPitch}, request,
                &team);
    return IsAborted(context) ? RenderOutcome::Aborted : RenderOutcome::Complete;
}

void CpuRenderer::EnsureImage(uint32_t width, uint32_t height) {
    if (allocatedWidth_ == width && allocatedHeight_ == height) return;
    // Release first: the old and the new image of a large frame need not fit at once. Out of
    // memory reaches the host as such; the next frame tries again.
    image_.reset();
    allocatedWidth_ = 0;
    allocatedHeight_ = 0;
    image_.reset(new float[size_t(width) * height * 4]);  // every texel is written per frame
    allocatedWidth_ = width;
    allocatedHeight_ = height;
}

}  // namespace pyrix
