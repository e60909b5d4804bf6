#include "renderers/host_gpu.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>

#include "kernels/params_block.h"
#include "renderers/frame_params.h"
#ifdef _WIN32
#include "renderers/d3d12_device.h"
#endif

namespace pyrix {

namespace {

#ifndef _WIN32
// Natively there is no Direct3D 12: set-up declines every offer.
std::unique_ptr<HostGpuDevice> CreateNoDevice(void*, void*) {
    return nullptr;
}
#endif

HostGpuFactory PlatformFactory() {
#ifdef _WIN32
    return CreateDirect3D12Device;
#else
    return CreateNoDevice;
#endif
}

std::atomic<HostGpuFactory> gFactory{PlatformFactory()};

}  // namespace

std::unique_ptr<HostGpuDevice> CreateHostGpuDevice(void* device, void* queue) {
    if (device == nullptr || queue == nullptr) return nullptr;
    return gFactory.load()(device, queue);
}

HostGpuFactory ReplaceHostGpuFactory(HostGpuFactory factory) {
    return gFactory.exchange(factory != nullptr ? factory : PlatformFactory());
}

bool RenderHostGpuFrame(HostGpuDevice& device, const HostGpuWorld& world,
                        const FrameExtent& produced, const EffectSettings& settings,
                        const FrameContext& context) {
    if (world.width <= 0 || world.height <= 0) return true;
    RenderRequest request;
    request.width = world.width;
    request.height = world.height;
    request.rowBytes = world.rowBytes;
    request.originX = world.originX;
    request.originY = world.originY;
    request.depth = kPixelDepth32Float;
    FrameExtent full;
    if (!CheckFrame(request, settings, context, &full)) return false;
    // The kernel writes whole pixels at byte offsets of row * rowBytes; rows run downwards.
    if (world.rowBytes <= 0 || world.rowBytes % kHostGpuPixelBytes != 0) {
        throw std::runtime_error("Invalid output stride");
    }
    const uint64_t needed = uint64_t(world.height) * uint64_t(world.rowBytes);
    // The kernel counts the buffer's pixels in 32 bits.
    if (needed / kHostGpuPixelBytes > UINT32_MAX) throw std::runtime_error("Invalid output stride");
    if (world.buffer == nullptr || world.sizeBytes < needed || world.width < produced.width ||
        world.height < produced.height) {
        throw std::runtime_error("GPU output buffer too small for the frame");
    }
    return device.Render(world, MakeParamsBlock(request, settings, full), context);
}

}  // namespace pyrix
