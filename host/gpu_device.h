// The host's GPU device commands: set-up and set-down of the host's device, the pre-render's
// GPU flag and the GPU render into the host's buffer.
#pragma once

#include <memory>

#include "host_api/effect_api.h"
#include "renderers/host_gpu.h"

namespace pyrix {

// Accepts the host's Direct3D 12 device when everything frames need can be built on it: the
// object in output->gpu_data and both GPU flags in out_flags2. Anything else (another framework,
// a device the suite does not know or describe, a failure while building) declines quietly:
// neither flag, no gpu_data, no error.
PF_Err GpuDeviceSetup(PF_InData* in_data, PF_OutData* out_data, PF_GPUDeviceSetupExtra* extra);

// Releases what set-up handed out. A null gpu_data holds nothing; one that is not ours (set
// down already, or never set up) is refused and nothing is released.
PF_Err GpuDeviceSetdown(PF_GPUDeviceSetdownExtra* extra);

// The device set up as `gpu_data`, shared for one frame, when a frame with this framework and
// bit depth renders on it: Direct3D 12 and 32-bit float pixels, the only ones its kernel writes.
// Null otherwise (gpu_data not ours, another framework or depth). Pre-render announces a GPU
// frame and the GPU render takes one by this one answer, so the host never offers a GPU frame
// that would be refused instead of rendered the ordinary way.
std::shared_ptr<HostGpuDevice> GpuDeviceForFrame(PF_GPU_Framework what_gpu, const void* gpu_data,
                                                 A_short bitdepth);

// Devices set up and not yet set down.
int LiveGpuDevices();

}  // namespace pyrix
