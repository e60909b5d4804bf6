// The Direct3D stand-in's common parts: the call log, injected faults and live-object
// accounting that every call consults, the COM reference counting, the adapter, and the
// resources, views and shaders that the device makes and its context uses.
#pragma once

#include <d3d11.h>
#include <dxgi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "standins/win32/d3d_control.h"
#include "standins/win32/kernel_identity.h"
#include "standins/win32/standin_state.h"

namespace d3d_standin {

constexpr size_t kMaxLogLines = 20000;

inline bool RecordingCalls() {
    return gRecordCalls.load(std::memory_order_relaxed);
}

inline void Log(std::string line) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.log.size() < kMaxLogLines) c.log.push_back(std::move(line));
}

template <class... Args>
inline std::string Format(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

inline std::string HexResult(HRESULT result) {
    return Format("0x%08x", static_cast<unsigned>(result));
}

// True (and the injected code in *result) when this call is to fail.
inline bool TakeFault(Call call, HRESULT* result) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    Fault& fault = c.faults[static_cast<size_t>(call)];
    if (!fault.active) return false;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    *result = fault.result;
    if (fault.count != kEveryCall && --fault.count <= 0) fault.active = false;
    return true;
}

inline void Count(int Counters::*counter) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    ++(c.counters.*counter);
}

class LiveToken {
  public:
    explicit LiveToken(Kind kind) : kind_(kind) { ++gLive[static_cast<size_t>(kind_)]; }
    ~LiveToken() { --gLive[static_cast<size_t>(kind_)]; }
    LiveToken(const LiveToken&) = delete;
    LiveToken& operator=(const LiveToken&) = delete;

  private:
    Kind kind_;
};

// Reference counting shared by every COM object of the stand-in.
template <class Interface>
class ComObject : public Interface {
  public:
    explicit ComObject(Kind kind) : live_(kind) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }

  private:
    std::atomic<ULONG> refs_{1};
    LiveToken live_;
};

// ---- DXGI -------------------------------------------------------------------------------------

class Adapter final : public ComObject<IDXGIAdapter1> {
  public:
    Adapter(UINT index, AdapterConfig config)
        : ComObject(Kind::Adapter), index_(index), config_(std::move(config)) {}

    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1* desc) override {
        if (RecordingCalls()) Log("GetDesc1");
        if (desc == nullptr) return E_INVALIDARG;
        const size_t capacity = sizeof(desc->Description) / sizeof(desc->Description[0]);
        const size_t length = std::min(config_.description.size(), capacity - 1);
        std::wmemcpy(desc->Description, config_.description.data(), length);
        desc->Description[length] = L'\0';
        desc->DedicatedVideoMemory = config_.dedicatedVideoMemory;
        desc->Flags = config_.flags;
        return S_OK;
    }

    UINT index() const { return index_; }
    const AdapterConfig& config() const { return config_; }

  private:
    UINT index_;
    AdapterConfig config_;
};

// ---- Resources and views ----------------------------------------------------------------------

// Memory of a buffer or texture. Queued work holds it by shared_ptr, so a resource released
// while the device still works on it stays valid until that work is done.
using Storage = std::shared_ptr<std::vector<float>>;

inline Storage MakeStorage(size_t bytes) {
    return std::make_shared<std::vector<float>>((bytes + sizeof(float) - 1) / sizeof(float), 0.0f);
}

// What the context needs to know about a resource; cross-cast from ID3D11Resource.
class ResourceState {
  public:
    virtual ~ResourceState() = default;

    Storage storage;
    std::string name;  // "buffer16", "texture64x32": how the call log refers to it
    UINT bindFlags = 0;
    bool isTexture = false;
    bool isStaging = false;
    UINT width = 0;  // textures: texels; buffers: bytes
    UINT height = 0;
    UINT structureStride = 0;
    bool mapped = false;  // touched only by the thread that owns the immediate context
};

inline ResourceState* StateOf(ID3D11Resource* resource) {
    return resource == nullptr ? nullptr : dynamic_cast<ResourceState*>(resource);
}

class Buffer final : public ComObject<ID3D11Buffer>, public ResourceState {
  public:
    explicit Buffer(const D3D11_BUFFER_DESC& desc) : ComObject(Kind::Buffer) {
        storage = MakeStorage(desc.ByteWidth);
        name = Format("buffer%u", desc.ByteWidth);
        bindFlags = desc.BindFlags;
        isStaging = desc.Usage == D3D11_USAGE_STAGING;
        width = desc.ByteWidth;
        height = 1;
        structureStride = desc.StructureByteStride;
    }
};

constexpr UINT kTexelBytes = 16;  // DXGI_FORMAT_R32G32B32A32_FLOAT

class Texture2D final : public ComObject<ID3D11Texture2D>, public ResourceState {
  public:
    explicit Texture2D(const D3D11_TEXTURE2D_DESC& desc) : ComObject(Kind::Texture2D) {
        storage = MakeStorage(size_t(desc.Width) * desc.Height * kTexelBytes);
        name = Format("texture%ux%u", desc.Width, desc.Height);
        bindFlags = desc.BindFlags;
        isTexture = true;
        isStaging = desc.Usage == D3D11_USAGE_STAGING;
        width = desc.Width;
        height = desc.Height;
    }
};

// What a view gives the kernels: the viewed resource's memory and shape.
struct ViewTarget {
    Storage storage;
    std::string name;
    bool isTexture = false;
    UINT width = 0;
    UINT height = 0;
};

inline ViewTarget TargetOf(const ResourceState& resource) {
    return {resource.storage, resource.name, resource.isTexture, resource.width, resource.height};
}

template <class Interface, Kind kKind>
class View final : public ComObject<Interface> {
  public:
    explicit View(ViewTarget target) : ComObject<Interface>(kKind), target_(std::move(target)) {}
    const ViewTarget& target() const { return target_; }

  private:
    ViewTarget target_;
};

using UnorderedAccessView = View<ID3D11UnorderedAccessView, Kind::UnorderedAccessView>;
using ShaderResourceView = View<ID3D11ShaderResourceView, Kind::ShaderResourceView>;

class ComputeShader final : public ComObject<ID3D11ComputeShader> {
  public:
    explicit ComputeShader(KernelIdentity kernel)
        : ComObject(Kind::ComputeShader), kernel_(kernel) {}
    KernelIdentity kernel() const { return kernel_; }

  private:
    KernelIdentity kernel_;
};

inline const char* KernelName(KernelIdentity kernel) {
    switch (kernel) {
        case KernelIdentity::Fire:
            return "fire";
        case KernelIdentity::FireRedo:
            return "fire-redo";
        case KernelIdentity::Anchor:
            return "anchor";
        case KernelIdentity::Convert:
            return "convert";
        default:
            return "unknown";
    }
}

}  // namespace d3d_standin
