// Frames on the host's Direct3D 12 device, straight into the host's buffer. Root descriptors
// only (constant buffers, the anchor and the host's buffer by address): no descriptor heap to
// share with the host, and what Wine's Direct3D 12 runs. One recorder, guarded by a lock: every
// frame waits for its fence before returning, so a second recorder per thread would only let
// threads queue up on the same queue, for the cost of more objects per device.
#include "renderers/d3d12_device.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "kernels/exact_math_tables.h"
#include "kernels/kernel_bytecode.h"
#include "kernels/params_block.h"
#include "renderers/com_ref.h"
#include "renderers/d3d12_support.h"
#include "renderers/platform.h"
#include "renderers/renderer.h"

namespace pyrix {

namespace {

constexpr const char* kFrameFailed = "GPU frame failed on the host's device";
// Root constant-buffer views start on 256 bytes: the frame's constants, then the row pitch.
constexpr UINT64 kConstantAlign = 256;
constexpr UINT64 kOutputOffset = kConstantAlign;
static_assert(sizeof(ParamsBlock) <= kOutputOffset);
constexpr UINT64 kConstantsBytes = 2 * kConstantAlign;
constexpr UINT64 kTablesBytes =
    (sizeof(TablesBlock) + kConstantAlign - 1) / kConstantAlign * kConstantAlign;
constexpr UINT64 kAnchorBytes = kConstantAlign;

enum RootSlot : UINT { kParams, kTables, kOutput, kAnchorIn, kAnchorOut, kWorld, kMarks, kSlots };

// The buffer, or the host's message when it cannot be made.
ComRef<ID3D12Resource> NewBuffer(ID3D12Device* device, D3D12_HEAP_TYPE heap, UINT64 bytes,
                                 D3D12_RESOURCE_STATES state, const char* message) {
    ComRef<ID3D12Resource> buffer;
    Check(CreateBuffer(device, heap, bytes, state, &buffer), message);
    return buffer;
}

ComRef<ID3D12RootSignature> CreateRootSignature(ID3D12Device* device) {
    const struct {
        D3D12_ROOT_PARAMETER_TYPE type;
        UINT shaderRegister;
    } layout[kSlots] = {{D3D12_ROOT_PARAMETER_TYPE_CBV, 0}, {D3D12_ROOT_PARAMETER_TYPE_CBV, 1},
                        {D3D12_ROOT_PARAMETER_TYPE_CBV, 2}, {D3D12_ROOT_PARAMETER_TYPE_SRV, 0},
                        {D3D12_ROOT_PARAMETER_TYPE_UAV, 1}, {D3D12_ROOT_PARAMETER_TYPE_UAV, 2},
                        {D3D12_ROOT_PARAMETER_TYPE_UAV, 3}};
    D3D12_ROOT_PARAMETER parameters[kSlots] = {};
    for (UINT slot = 0; slot < kSlots; ++slot) {
        parameters[slot].ParameterType = layout[slot].type;
        parameters[slot].Descriptor.ShaderRegister = layout[slot].shaderRegister;
        parameters[slot].ShaderVisibility = D3D12_SHADER_VISIBILITY_ALL;
    }
    D3D12_ROOT_SIGNATURE_DESC desc = {};
    desc.NumParameters = kSlots;
    desc.pParameters = parameters;
    ComRef<ID3DBlob> blob, errors;
    Check(
        D3D12SerializeRootSignature(&desc, D3D_ROOT_SIGNATURE_VERSION_1, blob.Put(), errors.Put()),
        "GPU shader initialization failed");
    ComRef<ID3D12RootSignature> root;
    Check(device->CreateRootSignature(0, blob->GetBufferPointer(), blob->GetBufferSize(),
                                      __uuidof(ID3D12RootSignature), Out(root)),
          "GPU shader initialization failed");
    return root;
}

ComRef<ID3D12PipelineState> CreatePipeline(ID3D12Device* device, ID3D12RootSignature* root,
                                           const unsigned char* bytecode, size_t size,
                                           const char* message) {
    D3D12_COMPUTE_PIPELINE_STATE_DESC desc = {};
    desc.pRootSignature = root;
    desc.CS.pShaderBytecode = bytecode;
    desc.CS.BytecodeLength = size;
    ComRef<ID3D12PipelineState> pipeline;
    Check(device->CreateComputePipelineState(&desc, __uuidof(ID3D12PipelineState), Out(pipeline)),
          message);
    return pipeline;
}

D3D12_RESOURCE_BARRIER Transition(ID3D12Resource* resource, D3D12_RESOURCE_STATES before,
                                  D3D12_RESOURCE_STATES after) {
    D3D12_RESOURCE_BARRIER barrier = {};
    barrier.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
    barrier.Transition.pResource = resource;
    barrier.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
    barrier.Transition.StateBefore = before;
    barrier.Transition.StateAfter = after;
    return barrier;
}

void Upload(ID3D12Resource* buffer, UINT64 offset, const void* data, size_t size) {
    void* mapped = nullptr;
    const D3D12_RANGE nothingRead = {0, 0};
    Check(buffer->Map(0, &nothingRead, &mapped), "GPU constant buffer allocation failed");
    std::memcpy(static_cast<unsigned char*>(mapped) + offset, data, size);
    const D3D12_RANGE written = {static_cast<SIZE_T>(offset), static_cast<SIZE_T>(offset + size)};
    buffer->Unmap(0, &written);
}

class Direct3D12Device final : public HostGpuDevice {
  public:
    Direct3D12Device(ID3D12Device* device, ID3D12CommandQueue* queue);
    ~Direct3D12Device() override;
    bool Render(const HostGpuWorld& world, const ParamsBlock& params,
                const FrameContext& context) override;

  private:
    void Build();
    void ReserveMarks(UINT64 groups);
    // The anchor and the fire kernel's first pass, and a copy of the word that says whether it
    // marked any group; with `secondPass`, the second pass instead, over the same groups.
    void Record(ID3D12Resource* world, const ParamsBlock& params, bool secondPass);
    bool FirstPassMarked();
    // False when the host's abort (asked between waits of kGpuPollTimeoutMs; never without a
    // context) said stop first: the work stays in flight, and the next use waits for it.
    bool SubmitAndWait(const FrameContext* context);
    bool WaitForFence(UINT64 value, const FrameContext* context);

    ComRef<ID3D12Device> device_;
    ComRef<ID3D12CommandQueue> queue_;
    ComRef<ID3D12RootSignature> root_;
    ComRef<ID3D12PipelineState> anchorPipeline_;
    ComRef<ID3D12PipelineState> firePipeline_;
    ComRef<ID3D12PipelineState> redoPipeline_;  // the fire kernel's second pass
    ComRef<ID3D12Resource> constants_;          // upload heap: ParamsBlock, OutputBlock
    ComRef<ID3D12Resource> tables_;             // upload heap, written once
    ComRef<ID3D12Resource> anchor_;             // default heap, unordered access between frames
    // Default heap, a uint per fire group and one for whether any is marked, 0 between frames;
    // the last one's read-back copy.
    ComRef<ID3D12Resource> marks_;
    ComRef<ID3D12Resource> marked_;
    ComRef<ID3D12CommandAllocator> allocator_;
    ComRef<ID3D12GraphicsCommandList> list_;
    ComRef<ID3D12Fence> fence_;
    HANDLE fenceEvent_ = nullptr;
    UINT64 fenceValue_ = 0;
    std::mutex lock_;  // the one recorder and the constants
};

Direct3D12Device::Direct3D12Device(ID3D12Device* device, ID3D12CommandQueue* queue) {
    device->AddRef();
    *device_.Put() = device;
    queue->AddRef();
    *queue_.Put() = queue;
    Build();
}

Direct3D12Device::~Direct3D12Device() {
    // An abandoned frame's work may still use these: freed only once the GPU is done with it.
    if (fence_ && fenceEvent_ != nullptr) {
        try {
            WaitForFence(fenceValue_, nullptr);
        } catch (const std::exception&) {
            // A removed device runs nothing more.
        }
    }
    if (fenceEvent_ != nullptr) CloseHandle(fenceEvent_);
}

void Direct3D12Device::Build() {
    ID3D12Device* device = device_.Get();
    root_ = CreateRootSignature(device);
    anchorPipeline_ =
        CreatePipeline(device, root_.Get(), kAnchorKernelBytecode, kAnchorKernelBytecodeSize,
                       "GPU anchor shader initialization failed");
    firePipeline_ =
        CreatePipeline(device, root_.Get(), kFireBufferKernelBytecode,
                       kFireBufferKernelBytecodeSize, "GPU shader initialization failed");
    redoPipeline_ =
        CreatePipeline(device, root_.Get(), kFireBufferKernelRedoBytecode,
                       kFireBufferKernelRedoBytecodeSize, "GPU shader initialization failed");
    constants_ =
        NewBuffer(device, D3D12_HEAP_TYPE_UPLOAD, kConstantsBytes,
                  D3D12_RESOURCE_STATE_GENERIC_READ, "GPU constant buffer allocation failed");
    tables_ = NewBuffer(device, D3D12_HEAP_TYPE_UPLOAD, kTablesBytes,
                        D3D12_RESOURCE_STATE_GENERIC_READ, "GPU constant buffer allocation failed");
    const TablesBlock tables = MakeTablesBlock();
    Upload(tables_.Get(), 0, &tables, sizeof tables);
    anchor_ =
        NewBuffer(device, D3D12_HEAP_TYPE_DEFAULT, kAnchorBytes,
                  D3D12_RESOURCE_STATE_UNORDERED_ACCESS, "GPU anchor buffer allocation failed");
    // Recorded for the host's queue, whichever of the compute-capable kinds it is.
    Check(CreateRecorder(device, queue_->GetDesc().Type, &allocator_, &list_, &fence_),
          "GPU shader initialization failed");
    fenceEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (fenceEvent_ == nullptr) throw std::runtime_error("GPU shader initialization failed");
}

bool Direct3D12Device::Render(const HostGpuWorld& world, const ParamsBlock& params,
                              const FrameContext& context) {
    auto* target = static_cast<ID3D12Resource*>(world.buffer);
    // The host's own description of its buffer must hold the frame as well as its answer does.
    const D3D12_RESOURCE_DESC desc = target->GetDesc();
    if (desc.Dimension != D3D12_RESOURCE_DIMENSION_BUFFER || desc.Width < world.sizeBytes ||
        (desc.Flags & D3D12_RESOURCE_FLAG_ALLOW_UNORDERED_ACCESS) == 0) {
        throw std::runtime_error("GPU output buffer too small for the frame");
    }
    const std::unique_lock<std::mutex> hold = LockByPolling(lock_, context);
    if (!hold.owns_lock()) return false;
    if (FAILED(device_->GetDeviceRemovedReason())) throw std::runtime_error(kFrameFailed);
    // A frame abandoned before may have left its work in flight, on the constants, the marks
    // and the recorder that this one reuses.
    if (!WaitForFence(fenceValue_, &context)) return false;
    OutputBlock output = {};
    output.rowPitch = static_cast<uint32_t>(world.rowBytes / kHostGpuPixelBytes);
    // Both blocks in one mapping of the constant buffer.
    unsigned char image[kOutputOffset + sizeof output] = {};
    std::memcpy(image, &params, sizeof params);
    std::memcpy(image + kOutputOffset, &output, sizeof output);
    Upload(constants_.Get(), 0, image, sizeof image);
    ReserveMarks(FireGroupTotal(params.width, params.height));
    Record(target, params, false);
    if (IsAborted(context)) return false;  // recorded, never submitted
    if (!SubmitAndWait(&context)) return false;
    // Rare: the groups that the first pass could not finish render again.
    if (FirstPassMarked()) {
        Record(target, params, true);
        if (!SubmitAndWait(&context)) return false;
    }
    return !IsAborted(context);
}

bool Direct3D12Device::FirstPassMarked() {
    void* mapped = nullptr;
    const D3D12_RANGE word = {0, sizeof(uint32_t)};
    Check(marked_->Map(0, &word, &mapped), kFrameFailed);
    uint32_t marked = 0;
    std::memcpy(&marked, mapped, sizeof marked);
    const D3D12_RANGE nothingWritten = {0, 0};
    marked_->Unmap(0, &nothingWritten);
    return marked != 0;
}

// The fire kernel's second pass clears every mark its first pass set, so the marks need zeroing
// only when made. Zeroed at once, on their own submission: a frame recorded but never submitted
// must not leave them unzeroed.
void Direct3D12Device::ReserveMarks(UINT64 groups) {
    const UINT64 bytes = (groups + 1) * sizeof(uint32_t);
    if (marks_ && marks_->GetDesc().Width >= bytes) return;
    constexpr const char* kFailed = "GPU texture allocation failed";
    ID3D12Device* device = device_.Get();
    if (!marked_) {
        marked_ = NewBuffer(device, D3D12_HEAP_TYPE_READBACK, sizeof(uint32_t),
                            D3D12_RESOURCE_STATE_COPY_DEST, "GPU readback allocation failed");
    }
    marks_.Reset();
    const ComRef<ID3D12Resource> zeros = NewBuffer(device, D3D12_HEAP_TYPE_UPLOAD, bytes,
                                                   D3D12_RESOURCE_STATE_GENERIC_READ, kFailed);
    void* mapped = nullptr;
    const D3D12_RANGE nothingRead = {0, 0};
    Check(zeros->Map(0, &nothingRead, &mapped), kFailed);
    std::memset(mapped, 0, static_cast<size_t>(bytes));
    zeros->Unmap(0, nullptr);
    ComRef<ID3D12Resource> marks =
        NewBuffer(device, D3D12_HEAP_TYPE_DEFAULT, bytes, D3D12_RESOURCE_STATE_COPY_DEST, kFailed);
    Check(allocator_->Reset(), kFrameFailed);
    Check(list_->Reset(allocator_.Get(), nullptr), kFrameFailed);
    list_->CopyBufferRegion(marks.Get(), 0, zeros.Get(), 0, bytes);
    const D3D12_RESOURCE_BARRIER toWrite = Transition(marks.Get(), D3D12_RESOURCE_STATE_COPY_DEST,
                                                      D3D12_RESOURCE_STATE_UNORDERED_ACCESS);
    list_->ResourceBarrier(1, &toWrite);
    Check(list_->Close(), kFrameFailed);
    // A short copy, waited for in full: the buffers above must outlive it.
    SubmitAndWait(nullptr);
    marks_ = std::move(marks);
}

void Direct3D12Device::Record(ID3D12Resource* world, const ParamsBlock& params, bool secondPass) {
    ID3D12GraphicsCommandList* list = list_.Get();
    Check(allocator_->Reset(), kFrameFailed);
    Check(list->Reset(allocator_.Get(), secondPass ? redoPipeline_.Get() : anchorPipeline_.Get()),
          kFrameFailed);
    list->SetComputeRootSignature(root_.Get());
    const D3D12_GPU_VIRTUAL_ADDRESS constants = constants_->GetGPUVirtualAddress();
    list->SetComputeRootConstantBufferView(kParams, constants);
    list->SetComputeRootConstantBufferView(kTables, tables_->GetGPUVirtualAddress());
    list->SetComputeRootConstantBufferView(kOutput, constants + kOutputOffset);
    list->SetComputeRootShaderResourceView(kAnchorIn, anchor_->GetGPUVirtualAddress());
    list->SetComputeRootUnorderedAccessView(kAnchorOut, anchor_->GetGPUVirtualAddress());
    list->SetComputeRootUnorderedAccessView(kWorld, world->GetGPUVirtualAddress());
    list->SetComputeRootUnorderedAccessView(kMarks, marks_->GetGPUVirtualAddress());
    if (!secondPass) list->Dispatch(1, 1, 1);
    const D3D12_RESOURCE_BARRIER toRead =
        Transition(anchor_.Get(), D3D12_RESOURCE_STATE_UNORDERED_ACCESS,
                   D3D12_RESOURCE_STATE_NON_PIXEL_SHADER_RESOURCE);
    list->ResourceBarrier(1, &toRead);
    if (!secondPass) list->SetPipelineState(firePipeline_.Get());
    list->Dispatch(FireGroupCount(params.width, kFireGroupWidth),
                   FireGroupCount(params.height, kFireGroupHeight), 1);
    if (!secondPass) {
        const D3D12_RESOURCE_BARRIER toCopy = Transition(
            marks_.Get(), D3D12_RESOURCE_STATE_UNORDERED_ACCESS, D3D12_RESOURCE_STATE_COPY_SOURCE);
        list->ResourceBarrier(1, &toCopy);
        list->CopyBufferRegion(marked_.Get(), 0, marks_.Get(),
                               FireGroupTotal(params.width, params.height) * sizeof(uint32_t),
                               sizeof(uint32_t));
        const D3D12_RESOURCE_BARRIER back = Transition(
            marks_.Get(), D3D12_RESOURCE_STATE_COPY_SOURCE, D3D12_RESOURCE_STATE_UNORDERED_ACCESS);
        list->ResourceBarrier(1, &back);
    }
    const D3D12_RESOURCE_BARRIER toWrite =
        Transition(anchor_.Get(), D3D12_RESOURCE_STATE_NON_PIXEL_SHADER_RESOURCE,
                   D3D12_RESOURCE_STATE_UNORDERED_ACCESS);
    list->ResourceBarrier(1, &toWrite);
    Check(list->Close(), kFrameFailed);
}

bool Direct3D12Device::SubmitAndWait(const FrameContext* context) {
    Check(Submit(queue_.Get(), list_.Get(), fence_.Get(), &fenceValue_), kFrameFailed);
    return WaitForFence(fenceValue_, context);
}

bool Direct3D12Device::WaitForFence(UINT64 value, const FrameContext* context) {
    if (fence_->GetCompletedValue() < value) {
        Check(fence_->SetEventOnCompletion(value, fenceEvent_), kFrameFailed);
    }
    // The fence decides: an abandoned wait's event may still arrive during this one.
    while (fence_->GetCompletedValue() < value) {
        if (context != nullptr && IsAborted(*context)) return false;
        const DWORD waited = WaitForSingleObject(fenceEvent_, kGpuPollTimeoutMs);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_TIMEOUT) {
            throw std::runtime_error(kFrameFailed);
        }
    }
    if (!FenceReached(fence_.Get(), value) || FAILED(device_->GetDeviceRemovedReason())) {
        throw std::runtime_error(kFrameFailed);
    }
    return true;
}

}  // namespace

std::unique_ptr<HostGpuDevice> CreateDirect3D12Device(void* device, void* queue) {
    return std::make_unique<Direct3D12Device>(static_cast<ID3D12Device*>(device),
                                              static_cast<ID3D12CommandQueue*>(queue));
}

}  // namespace pyrix
