// The host's "PF GPU Device Suite" version 1, provided through a Simulator: the devices the host
// offers (how many, of which framework, with which device and queue, or a failing description)
// and the size and data of its GPU worlds. Natively the host offers no device of its own: a test
// or pyrix under Wine says what this suite describes. Frames may ask from several threads; the
// settings are made before the plug-in runs. One at a time.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>

#include "standins/host_simulator/simulator.h"

namespace host_sim {

// A host's GPU worlds for 32-bit frames that the effect can render on the device it set up as
// gpuData() (pyrix's Direct3D 12 buffers under Windows). Used from several frames at once.
class GpuFrameHost {
  public:
    virtual ~GpuFrameHost() = default;
    virtual void* gpuData() const = 0;
    // Makes the GPU world of `world`'s width and height (sets its rowbytes and data, and tells
    // the suite its size); false when it cannot.
    virtual bool CreateWorld(PF_EffectWorld* world) = 0;
    // Reads the GPU world back into `out`, a 32-bit world of the same size in the host's
    // memory order (alpha, red, green, blue); false when it cannot.
    virtual bool ReadWorld(const PF_EffectWorld& world, PF_EffectWorld* out) = 0;
    virtual void DisposeWorld(PF_EffectWorld* world) = 0;
};

class GpuDeviceSuite {
  public:
    // One device of framework NONE, without device or queue.
    explicit GpuDeviceSuite(Simulator& host);
    ~GpuDeviceSuite();
    GpuDeviceSuite(const GpuDeviceSuite&) = delete;
    GpuDeviceSuite& operator=(const GpuDeviceSuite&) = delete;

    // What GetDeviceInfo describes for every device below the count.
    void SetDevice(PF_GPU_Framework framework, void* device, void* queue);
    void SetDeviceCount(A_u_long count) { count_ = count; }
    // GetDeviceInfo answers `result`, and describes nothing unless it is PF_Err_NONE.
    void SetInfoResult(PF_Err result) { info_result_ = result; }
    // GetGPUWorldData and GetGPUWorldSize of `world` answer `data` and `size`.
    void SetWorld(const PF_EffectWorld* world, void* data, size_t size);
    void ForgetWorld(const PF_EffectWorld* world);
    PF_GPUDeviceSuite1& table() { return suite_; }

  private:
    struct World {
        void* data;
        size_t size;
    };
    static GpuDeviceSuite& Current();
    static PF_Err GetDeviceCount(PF_ProgPtr effect_ref, A_u_long* count);
    static PF_Err GetDeviceInfo(PF_ProgPtr effect_ref, A_u_long index, PF_GPUDeviceInfo* info);
    static PF_Err GetWorldData(PF_ProgPtr effect_ref, PF_EffectWorld* world, void** data);
    static PF_Err GetWorldSize(PF_ProgPtr effect_ref, PF_EffectWorld* world, size_t* size);
    bool FindWorld(const PF_EffectWorld* world, World* found) const;

    Simulator& host_;
    PF_GPUDeviceSuite1 suite_{};
    A_u_long count_ = 1;
    PF_GPUDeviceInfo info_{};
    PF_Err info_result_ = PF_Err_NONE;
    mutable std::mutex worlds_lock_;
    std::map<const PF_EffectWorld*, World> worlds_;
};

}  // namespace host_sim
