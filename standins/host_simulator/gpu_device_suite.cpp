#include "standins/host_simulator/gpu_device_suite.h"

#include <stdexcept>
#include <string>

#include "standins/host_simulator/host_tables.h"

namespace host_sim {
namespace {

GpuDeviceSuite* gCurrent = nullptr;

}  // namespace

GpuDeviceSuite::GpuDeviceSuite(Simulator& host) : host_(host) {
    if (gCurrent != nullptr) throw std::logic_error("only one GpuDeviceSuite at a time");
    gCurrent = this;
    host_abi::FillUnserved(suite_);
    suite_.GetDeviceCount = &GetDeviceCount;
    suite_.GetDeviceInfo = &GetDeviceInfo;
    suite_.GetGPUWorldData = &GetWorldData;
    suite_.GetGPUWorldSize = &GetWorldSize;
    info_.device_framework = PF_GPU_Framework_NONE;
    host_.ProvideSuite(kPFGPUDeviceSuite, kPFGPUDeviceSuiteVersion1, &suite_);
}

GpuDeviceSuite::~GpuDeviceSuite() {
    host_.RemoveSuite(kPFGPUDeviceSuite, kPFGPUDeviceSuiteVersion1);
    gCurrent = nullptr;
}

void GpuDeviceSuite::SetDevice(PF_GPU_Framework framework, void* device, void* queue) {
    info_ = PF_GPUDeviceInfo{};
    info_.device_framework = framework;
    info_.compatibleB = 1;
    info_.devicePV = device;
    info_.command_queuePV = queue;
}

void GpuDeviceSuite::SetWorld(const PF_EffectWorld* world, void* data, size_t size) {
    std::lock_guard<std::mutex> hold(worlds_lock_);
    worlds_[world] = World{data, size};
}

void GpuDeviceSuite::ForgetWorld(const PF_EffectWorld* world) {
    std::lock_guard<std::mutex> hold(worlds_lock_);
    worlds_.erase(world);
}

bool GpuDeviceSuite::FindWorld(const PF_EffectWorld* world, World* found) const {
    std::lock_guard<std::mutex> hold(worlds_lock_);
    const auto known = worlds_.find(world);
    if (known == worlds_.end()) return false;
    *found = known->second;
    return true;
}

GpuDeviceSuite& GpuDeviceSuite::Current() {
    if (gCurrent == nullptr) throw std::logic_error("GPU device suite call without its suite");
    return *gCurrent;
}

PF_Err GpuDeviceSuite::GetDeviceCount(PF_ProgPtr, A_u_long* count) {
    GpuDeviceSuite& self = Current();
    self.host_.Record("GetDeviceCount");
    if (count == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *count = self.count_;
    return PF_Err_NONE;
}

PF_Err GpuDeviceSuite::GetDeviceInfo(PF_ProgPtr, A_u_long index, PF_GPUDeviceInfo* info) {
    GpuDeviceSuite& self = Current();
    self.host_.Record("GetDeviceInfo(" + std::to_string(index) + ")");
    if (info == nullptr || index >= self.count_) return PF_Err_BAD_CALLBACK_PARAM;
    if (self.info_result_ != PF_Err_NONE) return self.info_result_;
    *info = self.info_;
    return PF_Err_NONE;
}

PF_Err GpuDeviceSuite::GetWorldData(PF_ProgPtr, PF_EffectWorld* world, void** data) {
    GpuDeviceSuite& self = Current();
    self.host_.Record("GetGPUWorldData");
    World found{};
    if (data == nullptr || !self.FindWorld(world, &found)) return PF_Err_BAD_CALLBACK_PARAM;
    *data = found.data;
    return PF_Err_NONE;
}

PF_Err GpuDeviceSuite::GetWorldSize(PF_ProgPtr, PF_EffectWorld* world, size_t* size) {
    GpuDeviceSuite& self = Current();
    self.host_.Record("GetGPUWorldSize");
    World found{};
    if (size == nullptr || !self.FindWorld(world, &found)) return PF_Err_BAD_CALLBACK_PARAM;
    *size = found.size;
    return PF_Err_NONE;
}

}  // namespace host_sim
