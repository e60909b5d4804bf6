// The Direct3D 12 side of pyrix's GPU acceleration (Windows only).
#pragma once

#include <iosfwd>
#include <memory>

#include "tools/pyrix/host_gpu.h"

namespace pyrix::preview {

std::unique_ptr<HostGpu> StartDirect3D12HostGpu(EffectHost& host, std::ostream& err);

}  // namespace pyrix::preview
