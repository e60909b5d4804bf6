#include "host/gpu_device.h"

#include <map>
#include <memory>
#include <mutex>

#include "host_api/registration.h"
#include "host_api/suite_scope.h"
#include "renderers/host_gpu.h"

namespace pyrix {

namespace {

// The devices handed to the host, by the gpu_data it holds. A frame shares ownership, so a
// set-down between frames on other threads releases the device after the last one ends.
std::mutex gDevicesLock;
std::map<const void*, std::shared_ptr<HostGpuDevice>> gDevices;

using GpuSuite = SuiteScope<PF_GPUDeviceSuite1>;

// The host's device and queue for `index`, or nulls when the suite does not describe it as a
// Direct3D 12 device.
PF_GPUDeviceInfo DescribeDevice(const GpuSuite& suite, PF_ProgPtr ref, A_u_long index) {
    PF_GPUDeviceInfo info = {};
    if (!suite || suite->GetDeviceInfo == nullptr) return info;
    A_u_long count = 0;
    if (suite->GetDeviceCount != nullptr &&
        (suite->GetDeviceCount(ref, &count) != PF_Err_NONE || index >= count)) {
        return info;
    }
    if (suite->GetDeviceInfo(ref, index, &info) != PF_Err_NONE ||
        info.device_framework != PF_GPU_Framework_DIRECTX) {
        return PF_GPUDeviceInfo{};
    }
    return info;
}

}  // namespace

PF_Err GpuDeviceSetup(PF_InData* in_data, PF_OutData* out_data, PF_GPUDeviceSetupExtra* extra) {
    if (in_data == nullptr || out_data == nullptr || extra == nullptr || extra->input == nullptr ||
        extra->output == nullptr) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    out_data->out_flags2 &= ~registration::kGpuOutFlags2;
    extra->output->gpu_data = nullptr;
    if (extra->input->what_gpu != PF_GPU_Framework_DIRECTX) return PF_Err_NONE;

    std::shared_ptr<HostGpuDevice> device;
    {
        const GpuSuite suite(in_data->pica_basicP, kPFGPUDeviceSuite, kPFGPUDeviceSuiteVersion1);
        const PF_GPUDeviceInfo info =
            DescribeDevice(suite, in_data->effect_ref, extra->input->device_index);
        try {
            device = CreateHostGpuDevice(info.devicePV, info.command_queuePV);
        } catch (const std::exception&) {
            return PF_Err_NONE;  // the host renders the frame the usual way
        }
    }
    if (device == nullptr) return PF_Err_NONE;
    {
        std::lock_guard<std::mutex> hold(gDevicesLock);
        gDevices.emplace(device.get(), device);
    }
    extra->output->gpu_data = device.get();
    out_data->out_flags2 |= registration::kGpuOutFlags2;
    return PF_Err_NONE;
}

PF_Err GpuDeviceSetdown(PF_GPUDeviceSetdownExtra* extra) {
    if (extra == nullptr || extra->input == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (extra->input->gpu_data == nullptr) return PF_Err_NONE;
    std::shared_ptr<HostGpuDevice> released;  // destroyed outside the lock
    std::lock_guard<std::mutex> hold(gDevicesLock);
    const auto found = gDevices.find(extra->input->gpu_data);
    if (found == gDevices.end()) return PF_Err_BAD_CALLBACK_PARAM;
    released = std::move(found->second);
    gDevices.erase(found);
    return PF_Err_NONE;
}

std::shared_ptr<HostGpuDevice> GpuDeviceForFrame(PF_GPU_Framework what_gpu, const void* gpu_data,
                                                 A_short bitdepth) {
    if (what_gpu != PF_GPU_Framework_DIRECTX || bitdepth != 32) return nullptr;
    std::lock_guard<std::mutex> hold(gDevicesLock);
    const auto found = gDevices.find(gpu_data);
    return found == gDevices.end() ? nullptr : found->second;
}

int LiveGpuDevices() {
    std::lock_guard<std::mutex> hold(gDevicesLock);
    return static_cast<int>(gDevices.size());
}

}  // namespace pyrix
