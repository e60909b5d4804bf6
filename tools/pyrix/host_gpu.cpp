#include "tools/pyrix/host_gpu.h"

#include <ostream>

#ifdef _WIN32
#include "tools/pyrix/host_gpu_d3d12.h"
#endif

namespace pyrix::preview {

std::unique_ptr<HostGpu> StartHostGpu(EffectHost& host, std::ostream& err) {
#ifdef _WIN32
    return StartDirect3D12HostGpu(host, err);
#else
    (void)host;
    err << "pyrix: --host-gpu needs Direct3D 12: it runs on Windows only\n";
    return nullptr;
#endif
}

}  // namespace pyrix::preview
