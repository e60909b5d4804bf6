// pyrix's GPU acceleration on Direct3D 12: the device and queue it offers, its GPU worlds as
// buffers, their read-back for files, and the count of references the effect keeps.
#include "tools/pyrix/host_gpu_d3d12.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "renderers/com_ref.h"
#include "renderers/d3d12_support.h"
#include "standins/host_simulator/gpu_device_suite.h"

namespace pyrix::preview {

namespace {

constexpr size_t kPixelBytes = 16;  // four floats
constexpr size_t kRowAlign = 256;   // a row pitch that is not the width's, as hosts use

void Check(HRESULT result, const char* what) {
    if (FAILED(result)) {
        throw std::runtime_error(std::string("pyrix: Direct3D 12 ") + what + " failed (0x" +
                                 std::to_string(static_cast<unsigned long>(result)) + ")");
    }
}

// References on `object` besides the caller's own.
ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// The GPU world's pixels are b, g, r, a; the host's memory holds a, r, g, b.
void CopyOut(const PF_EffectWorld& world, const void* mapped, PF_EffectWorld* out) {
    for (A_long y = 0; y < world.height; ++y) {
        const auto* src = static_cast<const uint32_t*>(mapped) +
                          static_cast<size_t>(y) * static_cast<size_t>(world.rowbytes) / 4;
        auto* dst = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(out->data) +
                                                static_cast<size_t>(y) *
                                                    static_cast<size_t>(out->rowbytes));
        for (A_long x = 0; x < world.width; ++x, src += 4, dst += 4) {
            dst[0] = src[3];
            dst[1] = src[2];
            dst[2] = src[1];
            dst[3] = src[0];
        }
    }
}

class Direct3D12HostGpu final : public HostGpu, public host_sim::GpuFrameHost {
  public:
    explicit Direct3D12HostGpu(EffectHost& host);
    ~Direct3D12HostGpu() override;
    bool Offer(std::ostream& err);
    bool Stop(std::ostream& err) override;
    bool Restart(std::ostream& err) override { return Offer(err); }
    void SetReadBack(bool readBack) override { readBack_ = readBack; }
    void HoldQueue() override;
    bool ReleaseQueue() override;
    int GpuFrames() const override { return gpuFrames_; }

    void* gpuData() const override { return gpuData_; }
    bool CreateWorld(PF_EffectWorld* world) override;
    bool ReadWorld(const PF_EffectWorld& world, PF_EffectWorld* out) override;
    void DisposeWorld(PF_EffectWorld* world) override;

  private:
    ComRef<ID3D12Resource> TakeWorld(UINT64 bytes);
    void Retire(std::vector<ComRef<ID3D12Resource>> worlds);
    bool CopyToReadback(ID3D12Resource* world, UINT64 bytes);
    bool WaitForQueue(DWORD milliseconds);
    bool WaitForFence(UINT64 value, DWORD milliseconds);
    void ReleaseBuffers();

    EffectHost& host_;
    ComRef<ID3D12Device> device_;
    ComRef<ID3D12CommandQueue> queue_;
    ComRef<ID3D12CommandAllocator> allocator_;  // read-backs, one at a time
    ComRef<ID3D12GraphicsCommandList> list_;
    ComRef<ID3D12Fence> fence_;
    UINT64 fenceValue_ = 0;
    HANDLE event_ = nullptr;
    std::mutex readLock_;  // the read-back recorder, the fence's values, readback_, retired_
    // Made once per size rather than once per frame: the worlds of the last size that no frame
    // holds, and the read-back buffer. A world that is let go stays in retired_ until the queue
    // passes the fence value beside it: an abandoned frame's work may still write it, as a host
    // that does not wait allows. (A world kept and handed to the next frame is safe: the queue
    // runs that frame's work after the abandoned one's.)
    std::mutex worldLock_;
    UINT64 worldBytes_ = 0;
    std::vector<ComRef<ID3D12Resource>> freeWorlds_;
    ComRef<ID3D12Resource> readback_;
    std::vector<std::pair<UINT64, ComRef<ID3D12Resource>>> retired_;
    // The queue waits for this fence to reach gateValue_ (HoldQueue); the CPU signals it.
    std::mutex gateLock_;
    ComRef<ID3D12Fence> gate_;
    UINT64 gateValue_ = 0;
    host_sim::GpuDeviceSuite suite_;
    void* gpuData_ = nullptr;
    ULONG deviceBaseline_ = 0;
    ULONG queueBaseline_ = 0;
    std::atomic<bool> readBack_{true};
    std::atomic<int> gpuFrames_{0};
};

Direct3D12HostGpu::Direct3D12HostGpu(EffectHost& host) : host_(host), suite_(host) {
    Check(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device), Out(device_)),
          "device creation");
    D3D12_COMMAND_QUEUE_DESC queueDesc = {};
    queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    Check(device_->CreateCommandQueue(&queueDesc, __uuidof(ID3D12CommandQueue), Out(queue_)),
          "queue creation");
    Check(
        CreateRecorder(device_.Get(), D3D12_COMMAND_LIST_TYPE_DIRECT, &allocator_, &list_, &fence_),
        "command list and fence creation");
    Check(device_->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), Out(gate_)),
          "fence creation");
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) throw std::runtime_error("pyrix: no event for the GPU fence");
    suite_.SetDevice(PF_GPU_Framework_DIRECTX, device_.Get(), queue_.Get());
    deviceBaseline_ = References(device_.Get());
    queueBaseline_ = References(queue_.Get());
}

Direct3D12HostGpu::~Direct3D12HostGpu() {
    host_.SetGpuFrameHost(nullptr);
    if (gpuData_ != nullptr) host_.GpuDeviceSetdown(gpuData_, PF_GPU_Framework_DIRECTX, 0);
    {
        std::lock_guard<std::mutex> hold(readLock_);
        WaitForQueue(INFINITE);
    }
    if (event_ != nullptr) CloseHandle(event_);
}

bool Direct3D12HostGpu::Offer(std::ostream& err) {
    void* gpuData = nullptr;
    const CommandResult result = host_.GpuDeviceSetup(PF_GPU_Framework_DIRECTX, 0, &gpuData);
    const PF_OutFlags2 both =
        PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 | PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING;
    if (!result.ok() || gpuData == nullptr || (result.outFlags2 & both) != both) {
        if (!result.ok()) err << result.Describe() << "\n";
        err << "pyrix: the effect declined the host's Direct3D 12 device\n";
        if (gpuData != nullptr) host_.GpuDeviceSetdown(gpuData, PF_GPU_Framework_DIRECTX, 0);
        return false;
    }
    gpuData_ = gpuData;
    host_.SetGpuFrameHost(this);
    return true;
}

bool Direct3D12HostGpu::Stop(std::ostream& err) {
    host_.SetGpuFrameHost(nullptr);
    if (gpuData_ == nullptr) return true;
    const CommandResult result =
        host_.GpuDeviceSetdown(std::exchange(gpuData_, nullptr), PF_GPU_Framework_DIRECTX, 0);
    if (!result.ok()) {
        err << result.Describe() << "\n";
        return false;
    }
    // Only the effect's references count: the buffers kept for the next frames go first.
    ReleaseBuffers();
    const ULONG device = References(device_.Get());
    const ULONG queue = References(queue_.Get());
    if (device != deviceBaseline_ || queue != queueBaseline_) {
        err << "pyrix: after set-down the effect still holds " << (device - deviceBaseline_)
            << " references to the device and " << (queue - queueBaseline_) << " to the queue\n";
        return false;
    }
    return true;
}

// The kept buffers go, and so do the worlds of frames given up, once the queue passes them.
void Direct3D12HostGpu::ReleaseBuffers() {
    std::vector<ComRef<ID3D12Resource>> worlds;
    {
        std::lock_guard<std::mutex> hold(worldLock_);
        worlds.swap(freeWorlds_);
        worldBytes_ = 0;
    }
    std::lock_guard<std::mutex> hold(readLock_);
    WaitForQueue(INFINITE);
    readback_.Reset();
    retired_.clear();
}

// A world of `bytes` that no frame holds, made when there is none; a new size retires the
// worlds of the last one.
ComRef<ID3D12Resource> Direct3D12HostGpu::TakeWorld(UINT64 bytes) {
    std::vector<ComRef<ID3D12Resource>> stale;
    {
        std::lock_guard<std::mutex> hold(worldLock_);
        if (bytes != worldBytes_) {
            stale.swap(freeWorlds_);
            worldBytes_ = bytes;
        }
        if (!freeWorlds_.empty()) {
            ComRef<ID3D12Resource> world = std::move(freeWorlds_.back());
            freeWorlds_.pop_back();
            return world;
        }
    }
    Retire(std::move(stale));
    ComRef<ID3D12Resource> world;
    CreateBuffer(device_.Get(), D3D12_HEAP_TYPE_DEFAULT, bytes, D3D12_RESOURCE_STATE_COMMON,
                 &world);
    return world;
}

void Direct3D12HostGpu::Retire(std::vector<ComRef<ID3D12Resource>> worlds) {
    if (worlds.empty()) return;
    std::lock_guard<std::mutex> hold(readLock_);
    const UINT64 value = ++fenceValue_;
    queue_->Signal(fence_.Get(), value);  // failed: released with pyrix's device
    for (ComRef<ID3D12Resource>& world : worlds) retired_.emplace_back(value, std::move(world));
    WaitForFence(value, 0);  // releases what the queue has passed already
}

bool Direct3D12HostGpu::CreateWorld(PF_EffectWorld* world) {
    const size_t rowBytes =
        (static_cast<size_t>(world->width) * kPixelBytes + kRowAlign - 1) / kRowAlign * kRowAlign;
    const UINT64 bytes = static_cast<UINT64>(rowBytes) * static_cast<UINT64>(world->height);
    ComRef<ID3D12Resource> buffer = TakeWorld(bytes);
    if (!buffer) return false;
    ID3D12Resource* resource = buffer.Get();
    resource->AddRef();  // the world's own reference, until DisposeWorld
    world->rowbytes = static_cast<A_long>(rowBytes);
    world->data = reinterpret_cast<PF_PixelPtr>(resource);
    suite_.SetWorld(world, resource, static_cast<size_t>(bytes));
    return true;
}

void Direct3D12HostGpu::DisposeWorld(PF_EffectWorld* world) {
    suite_.ForgetWorld(world);
    auto* resource = reinterpret_cast<ID3D12Resource*>(std::exchange(world->data, nullptr));
    if (resource == nullptr) return;
    std::vector<ComRef<ID3D12Resource>> let(1);
    *let[0].Put() = resource;  // takes over the world's reference
    {
        std::lock_guard<std::mutex> hold(worldLock_);
        if (resource->GetDesc().Width == worldBytes_) {
            freeWorlds_.push_back(std::move(let[0]));
            return;
        }
    }
    Retire(std::move(let));
}

void Direct3D12HostGpu::HoldQueue() {
    std::lock_guard<std::mutex> hold(gateLock_);
    Check(queue_->Wait(gate_.Get(), ++gateValue_), "queue wait");
}

bool Direct3D12HostGpu::ReleaseQueue() {
    std::lock_guard<std::mutex> hold(gateLock_);
    const bool held = gate_->GetCompletedValue() < gateValue_;
    Check(gate_->Signal(gateValue_), "gate signal");
    return held;
}

// Copies `bytes` of `world` into readback_ (made anew for a new size) and waits for the copy.
// Under readLock_.
bool Direct3D12HostGpu::CopyToReadback(ID3D12Resource* world, UINT64 bytes) {
    if (!readback_ || readback_->GetDesc().Width != bytes) {
        if (FAILED(CreateBuffer(device_.Get(), D3D12_HEAP_TYPE_READBACK, bytes,
                                D3D12_RESOURCE_STATE_COPY_DEST, &readback_))) {
            return false;
        }
    }
    if (FAILED(allocator_->Reset()) || FAILED(list_->Reset(allocator_.Get(), nullptr))) {
        return false;
    }
    list_->CopyBufferRegion(readback_.Get(), 0, world, 0, bytes);
    if (FAILED(list_->Close())) return false;
    if (FAILED(Submit(queue_.Get(), list_.Get(), fence_.Get(), &fenceValue_))) return false;
    return WaitForFence(fenceValue_, INFINITE);
}

// Whether the queue gets through all work sent to it so far within `milliseconds`. Under
// readLock_.
bool Direct3D12HostGpu::WaitForQueue(DWORD milliseconds) {
    const UINT64 value = ++fenceValue_;
    if (FAILED(queue_->Signal(fence_.Get(), value))) return false;
    return WaitForFence(value, milliseconds);
}

// Whether the fence reaches `value` within `milliseconds` (INFINITE: however long), on a device
// still there; the retired worlds the queue has passed are released. Under readLock_.
bool Direct3D12HostGpu::WaitForFence(UINT64 value, DWORD milliseconds) {
    // A wait given up before may still set the event: the fence decides.
    if (fence_->GetCompletedValue() < value && milliseconds != 0) {
        if (FAILED(fence_->SetEventOnCompletion(value, event_))) return false;
        const DWORD start = GetTickCount();
        while (fence_->GetCompletedValue() < value) {
            const DWORD spent = GetTickCount() - start;
            if (milliseconds != INFINITE && spent >= milliseconds) return false;
            WaitForSingleObject(event_, milliseconds == INFINITE ? INFINITE : milliseconds - spent);
        }
    }
    const UINT64 completed = fence_->GetCompletedValue();
    const auto passed = [completed](const auto& retired) { return retired.first <= completed; };
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(), passed), retired_.end());
    return FenceReached(fence_.Get(), value);
}

// A frame counts once it is read back (or, without read-back, once the effect gave it).
bool Direct3D12HostGpu::ReadWorld(const PF_EffectWorld& world, PF_EffectWorld* out) {
    if (!readBack_) {
        ++gpuFrames_;
        return true;
    }
    const UINT64 bytes = static_cast<UINT64>(world.rowbytes) * static_cast<UINT64>(world.height);
    std::lock_guard<std::mutex> hold(readLock_);
    if (!CopyToReadback(reinterpret_cast<ID3D12Resource*>(world.data), bytes)) return false;
    void* mapped = nullptr;
    const D3D12_RANGE all = {0, static_cast<SIZE_T>(bytes)};
    if (FAILED(readback_->Map(0, &all, &mapped))) return false;
    CopyOut(world, mapped, out);
    const D3D12_RANGE nothingWritten = {0, 0};
    readback_->Unmap(0, &nothingWritten);
    ++gpuFrames_;
    return true;
}

}  // namespace

std::unique_ptr<HostGpu> StartDirect3D12HostGpu(EffectHost& host, std::ostream& err) {
    std::unique_ptr<Direct3D12HostGpu> gpu;
    try {
        gpu = std::make_unique<Direct3D12HostGpu>(host);
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return nullptr;
    }
    if (!gpu->Offer(err)) return nullptr;
    return gpu;
}

}  // namespace pyrix::preview
