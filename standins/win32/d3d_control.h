// Test controls of the Linux DXGI/Direct3D 11/Win32 stand-in: the adapter list, fault
// injection, holding the device busy, the call log and live-object accounting.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <string>
#include <vector>

namespace d3d_standin {

struct AdapterConfig {
    std::wstring description = L"Stand-in GPU";
    UINT flags = 0;  // DXGI_ADAPTER_FLAG_*
    SIZE_T dedicatedVideoMemory = SIZE_T(1) << 30;
    D3D_FEATURE_LEVEL maxFeatureLevel = D3D_FEATURE_LEVEL_11_0;
};

// The adapters that CreateDXGIFactory1's factory enumerates, in order.
void SetAdapters(std::vector<AdapterConfig> adapters);

// Calls into which a failure can be injected.
enum class Call {
    CreateDXGIFactory1,
    EnumAdapters1,
    D3D11CreateDevice,
    CreateComputeShader,
    CreateBuffer,
    CreateUnorderedAccessView,
    CreateShaderResourceView,
    CreateTexture2D,
    Map,
    CreateWaitableTimerExW,  // fails by returning a null handle; the code is ignored
};

constexpr int kEveryCall = -1;

// Lets the next `skip` calls of that kind pass, then makes `count` calls fail with `result`
// (kEveryCall: all of them until ClearFaults). One rule per kind; a new one replaces the old.
void FailCall(Call call, HRESULT result, int skip = 0, int count = 1);
// Loses a device as a driver reset or an unplugged GPU does: the call `skip` calls from now
// (counting the calls into every working device and its context) fails with `reason` (a void
// call does nothing), and that device stays removed: its later calls fail with
// DXGI_ERROR_DEVICE_REMOVED, its recorded work is dropped, and GetDeviceRemovedReason answers
// `reason`. One rule at a time; ClearFaults clears it too.
void LoseDeviceAtCall(int skip, HRESULT reason = DXGI_ERROR_DEVICE_REMOVED);
void ClearFaults();

// While held, devices accept and queue work but do not execute it, so a Map of a resource with
// work in flight answers DXGI_ERROR_WAS_STILL_DRAWING.
void HoldDevices(bool held);

// Fire dispatches run the fast CPU FireKernel (same texels, on up to one thread per processor
// inside the dispatch); true switches them to the scalar reference, for tests that compare.
// Takes effect for dispatches issued afterwards.
void UseReferenceKernels(bool reference);

// Buffers and textures larger than `bytes` are refused with E_OUTOFMEMORY, as a device refuses
// a resource beyond its size limit; 0 lifts the limit.
void SetResourceSizeLimit(uint64_t bytes);

// The fire kernel's first pass marks these groups for the second (indices in each of its
// dispatches, row by row), as on a GPU it marks a group whose sines it leaves undecided, and
// leaves their texels unlike the exact ones: only a renderer that runs the second pass and reads
// the frame back again gets the reference. Empty (the default) marks none.
void MarkGroupsInFirstPass(std::vector<uint32_t> groups);

// Every call into the stand-in, one line each ("Dispatch 2 2 1"), in order. Map polls that
// answer DXGI_ERROR_WAS_STILL_DRAWING are counted instead of logged.
std::vector<std::string> CallLog();
void ClearCallLog();

struct Counters {
    int mapStillDrawing = 0;
    int setWaitableTimer = 0;
    int waitForSingleObject = 0;
    int switchToThread = 0;
    int dispatches = 0;
    int devicesCreated = 0;
    int devicesRemoved = 0;
};
Counters GetCounters();

// Objects alive right now: COM objects of every kind plus open timer handles.
enum class Kind {
    Factory,
    Adapter,
    Device,
    DeviceContext,
    ComputeShader,
    Buffer,
    Texture2D,
    UnorderedAccessView,
    ShaderResourceView,
    WaitableTimer,
    kCount
};
int LiveObjects();
int LiveObjects(Kind kind);

// Default adapters (one hardware adapter at feature level 11.0), no faults, devices not held,
// fast kernels, no resource size limit, no first-pass marks, empty call log, counters at zero.
// Live objects are not touched: they are real.
void Reset();

}  // namespace d3d_standin
