// The host's own Direct3D 12 device as a HostGpuDevice (Windows only): one root signature of root
// descriptors, the anchor pass and the fire kernel's buffer form in its two passes, one recorder
// under a lock.
#pragma once

#include <memory>

#include "renderers/host_gpu.h"

namespace pyrix {

// `device` and `queue` are the host's ID3D12Device* and ID3D12CommandQueue*. Throws
// std::runtime_error when something frames need cannot be built.
std::unique_ptr<HostGpuDevice> CreateDirect3D12Device(void* device, void* queue);

}  // namespace pyrix
