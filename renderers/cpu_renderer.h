// The renderer for machines where no GPU can serve (render nodes and cloud instances without
// one, virtual machines, remote sessions): the CPU build of both kernels, the same bits as the
// scalar reference, into a float image that goes through the same output conversion.
#pragma once

#include <cstdint>
#include <memory>

#include "renderers/renderer.h"

namespace pyrix {

// PYRIX_CPU_FALLBACK: "off" keeps the error of a machine without a usable GPU, "force" renders
// on the CPU even with one; unset, empty, "auto" or anything else: the CPU only where no
// Direct3D device can be had. Case does not matter.
constexpr const char* kCpuFallbackVariable = "PYRIX_CPU_FALLBACK";

enum class CpuFallback { Auto, Off, Force };

// The switch as the environment sets it now; read once per renderer creation.
CpuFallback CpuFallbackSetting();

class CpuRenderer final : public Renderer {
  public:
    CpuRenderer() = default;

    // Honours the abort test between row bands of the fire kernel; never reports DeviceLost.
    RenderOutcome Render(const RenderRequest& request, const ParamsBlock& params,
                         const FrameContext& context, bool mayReportLoss) override;

  private:
    void EnsureImage(uint32_t width, uint32_t height);

    // The frame's texels (R, G, B, A floats), kept while the output size stays the same.
    std::unique_ptr<float[]> image_;
    uint32_t allocatedWidth_ = 0;
    uint32_t allocatedHeight_ = 0;
};

}  // namespace pyrix
