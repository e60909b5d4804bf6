// The stand-in's DXGI: the factory, which enumerates the adapters the test controls set.
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "standins/win32/standin_objects.h"

const IID IID_IDXGIFactory1 = {
    0x770aae78, 0xf26f, 0x4dba, {0xa8, 0x29, 0x25, 0x3c, 0x83, 0xd1, 0xb3, 0x87}};

namespace d3d_standin {

namespace {

class Factory final : public ComObject<IDXGIFactory1> {
  public:
    explicit Factory(std::vector<AdapterConfig> adapters)
        : ComObject(Kind::Factory), adapters_(std::move(adapters)) {}

    HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1** adapter) override {
        if (RecordingCalls()) Log(Format("EnumAdapters1 %u", index));
        if (adapter == nullptr) return DXGI_ERROR_INVALID_CALL;
        *adapter = nullptr;
        HRESULT fault = S_OK;
        if (TakeFault(Call::EnumAdapters1, &fault)) return fault;
        if (index >= adapters_.size()) return DXGI_ERROR_NOT_FOUND;
        *adapter = new Adapter(index, adapters_[index]);
        return S_OK;
    }

  private:
    std::vector<AdapterConfig> adapters_;
};

}  // namespace

}  // namespace d3d_standin

using namespace d3d_standin;

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void** factory) {
    if (RecordingCalls()) Log("CreateDXGIFactory1");
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    HRESULT result = S_OK;
    if (TakeFault(Call::CreateDXGIFactory1, &result)) return result;
    if (std::memcmp(&riid, &IID_IDXGIFactory1, sizeof(IID)) != 0) return E_NOINTERFACE;
    std::vector<AdapterConfig> adapters;
    {
        Controls& c = GetControls();
        std::lock_guard<std::mutex> lock(c.mutex);
        adapters = c.adapters;
    }
    *factory = static_cast<IDXGIFactory1*>(new Factory(std::move(adapters)));
    return S_OK;
}
