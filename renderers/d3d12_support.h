// The small steps of work on a Direct3D 12 device that the plug-in's device (d3d12_device.cpp)
// and pyrix's own host (tools/pyrix/host_gpu_d3d12.cpp) take alike. Each answers the call's
// HRESULT: the callers word their failures differently, the plug-in for the host's user, pyrix
// with the code. Windows only.
#pragma once

#ifndef WIDL_EXPLICIT_AGGREGATE_RETURNS
#define WIDL_EXPLICIT_AGGREGATE_RETURNS
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <d3d12.h>
// clang-format on

#include <cstdint>

#include "renderers/com_ref.h"

namespace pyrix {

template <class T>
void** Out(ComRef<T>& ref) {
    return reinterpret_cast<void**>(ref.Put());
}

// A committed buffer of `bytes` on `heap`; on the default heap, open to unordered access.
inline HRESULT CreateBuffer(ID3D12Device* device, D3D12_HEAP_TYPE heap, UINT64 bytes,
                            D3D12_RESOURCE_STATES state, ComRef<ID3D12Resource>* buffer) {
    D3D12_HEAP_PROPERTIES heapProperties = {};
    heapProperties.Type = heap;
    D3D12_RESOURCE_DESC desc = {};
    desc.Dimension = D3D12_RESOURCE_DIMENSION_BUFFER;
    desc.Width = bytes;
    desc.Height = 1;
    desc.DepthOrArraySize = 1;
    desc.MipLevels = 1;
    desc.Format = DXGI_FORMAT_UNKNOWN;
    desc.SampleDesc.Count = 1;
    desc.Layout = D3D12_TEXTURE_LAYOUT_ROW_MAJOR;
    desc.Flags = heap == D3D12_HEAP_TYPE_DEFAULT ? D3D12_RESOURCE_FLAG_ALLOW_UNORDERED_ACCESS
                                                 : D3D12_RESOURCE_FLAG_NONE;
    const HRESULT result =
        device->CreateCommittedResource(&heapProperties, D3D12_HEAP_FLAG_NONE, &desc, state,
                                        nullptr, __uuidof(ID3D12Resource), Out(*buffer));
    if (FAILED(result)) buffer->Reset();
    return result;
}

// What records work for a queue of `type`: an allocator, its command list (closed, ready for
// its first Reset) and a fence at 0.
inline HRESULT CreateRecorder(ID3D12Device* device, D3D12_COMMAND_LIST_TYPE type,
                              ComRef<ID3D12CommandAllocator>* allocator,
                              ComRef<ID3D12GraphicsCommandList>* list, ComRef<ID3D12Fence>* fence) {
    HRESULT result =
        device->CreateCommandAllocator(type, __uuidof(ID3D12CommandAllocator), Out(*allocator));
    if (SUCCEEDED(result)) {
        result = device->CreateCommandList(0, type, allocator->Get(), nullptr,
                                           __uuidof(ID3D12GraphicsCommandList), Out(*list));
    }
    if (SUCCEEDED(result)) result = (*list)->Close();
    if (SUCCEEDED(result)) {
        result = device->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), Out(*fence));
    }
    return result;
}

// Runs the closed `list` on `queue`, then has the queue signal `fence` with ++*fenceValue.
inline HRESULT Submit(ID3D12CommandQueue* queue, ID3D12GraphicsCommandList* list,
                      ID3D12Fence* fence, UINT64* fenceValue) {
    ID3D12CommandList* lists[] = {list};
    queue->ExecuteCommandLists(1, lists);
    return queue->Signal(fence, ++*fenceValue);
}

// Whether `fence` has reached `value` on a device that is still there: a removed device
// completes every fence with all bits set.
inline bool FenceReached(ID3D12Fence* fence, UINT64 value) {
    const UINT64 completed = fence->GetCompletedValue();
    return completed >= value && completed != UINT64_MAX;
}

}  // namespace pyrix
