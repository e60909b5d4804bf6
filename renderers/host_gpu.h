// Frames rendered on the host's own GPU device into the host's GPU buffer. The device object is
// the platform's (Direct3D 12 on Windows); the checks of a frame are the same everywhere. Free
// of platform and kernel headers so that the host side can include it.
#pragma once

#include <cstdint>
#include <memory>

#include "render/effect_settings.h"
#include "render/render_records.h"

namespace pyrix {

struct ParamsBlock;

// The host's buffer for one GPU frame: `height` rows of `rowBytes` bytes, each pixel four
// floats in the order b, g, r, a.
struct HostGpuWorld {
    void* buffer = nullptr;  // the host's resource (Direct3D 12: ID3D12Resource*)
    uint64_t sizeBytes = 0;  // the buffer's size as the host reports it
    int32_t width = 0;
    int32_t height = 0;
    int64_t rowBytes = 0;
    int32_t originX = 0;  // layer position of column 0, in pixels of the current resolution
    int32_t originY = 0;
};

constexpr uint32_t kHostGpuPixelBytes = 16;

// What device set-up builds on the host's device: pipelines, a recorder, a fence.
class HostGpuDevice {
  public:
    virtual ~HostGpuDevice() = default;
    HostGpuDevice(const HostGpuDevice&) = delete;
    HostGpuDevice& operator=(const HostGpuDevice&) = delete;

    // Renders one checked frame into world.buffer with the kernels' constants `params`. False
    // when the host asked to abort. Throws std::runtime_error for a failure of the device.
    virtual bool Render(const HostGpuWorld& world, const ParamsBlock& params,
                        const FrameContext& context) = 0;

  protected:
    HostGpuDevice() = default;
};

// Builds what frames need on the host's device and queue (Direct3D 12: ID3D12Device*,
// ID3D12CommandQueue*). Null where the platform has no such device; throws
// std::runtime_error when building fails.
using HostGpuFactory = std::unique_ptr<HostGpuDevice> (*)(void* device, void* queue);
std::unique_ptr<HostGpuDevice> CreateHostGpuDevice(void* device, void* queue);

// Tests drive the protocol with a device of their own; returns the factory replaced.
HostGpuFactory ReplaceHostGpuFactory(HostGpuFactory factory);

// Checks the frame and the world as RenderFrame checks a request (dimensions, abort, settings,
// stride), then that the world holds its rows and at least `produced` pixels, and renders it.
// True when complete or when there is nothing to render, false on abort.
bool RenderHostGpuFrame(HostGpuDevice& device, const HostGpuWorld& world,
                        const FrameExtent& produced, const EffectSettings& settings,
                        const FrameContext& context);

}  // namespace pyrix
