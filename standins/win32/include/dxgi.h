// Linux stand-in for the DXGI declarations the renderer uses, under the platform's names and
// values.
#pragma once

#include <windows.h>

#define DXGI_ERROR_INVALID_CALL static_cast<HRESULT>(0x887A0001u)
#define DXGI_ERROR_NOT_FOUND static_cast<HRESULT>(0x887A0002u)
#define DXGI_ERROR_UNSUPPORTED static_cast<HRESULT>(0x887A0004u)
#define DXGI_ERROR_DEVICE_REMOVED static_cast<HRESULT>(0x887A0005u)
#define DXGI_ERROR_DEVICE_HUNG static_cast<HRESULT>(0x887A0006u)
#define DXGI_ERROR_DEVICE_RESET static_cast<HRESULT>(0x887A0007u)
#define DXGI_ERROR_WAS_STILL_DRAWING static_cast<HRESULT>(0x887A000Au)

enum DXGI_FORMAT {
    DXGI_FORMAT_UNKNOWN = 0,
    DXGI_FORMAT_R32G32B32A32_FLOAT = 2,
};

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

enum DXGI_ADAPTER_FLAG {
    DXGI_ADAPTER_FLAG_NONE = 0,
    DXGI_ADAPTER_FLAG_REMOTE = 1,
    DXGI_ADAPTER_FLAG_SOFTWARE = 2,
};

struct DXGI_ADAPTER_DESC1 {
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
    UINT Flags;
};

struct IDXGIObject : public IUnknown {};

struct IDXGIAdapter : public IDXGIObject {};

struct IDXGIAdapter1 : public IDXGIAdapter {
    virtual HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1* desc) = 0;
};

struct IDXGIFactory : public IDXGIObject {};

struct IDXGIFactory1 : public IDXGIFactory {
    virtual HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1** adapter) = 0;
};

extern const IID IID_IDXGIFactory1;

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void** factory);
