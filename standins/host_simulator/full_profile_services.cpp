// The services of the full profile: the C library's functions in the utility table, handles
// and memory blocks, and the pre-render and smart render services that cost a host nothing.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standins/host_simulator/simulator.h"
#include "standins/host_simulator/simulator_internal.h"

namespace host_sim {

namespace {

// Handles: a master pointer the plug-in dereferences, followed by the block's size.
struct HandleBlock {
    void* data;
    A_u_longlong size;
};
std::atomic<long> gHandlesOut{0};

HandleBlock* BlockOf(PF_Handle handle) {
    return reinterpret_cast<HandleBlock*>(handle);  // data is the block's first member
}

PF_Handle NewHandle(A_u_longlong size) {
    auto* block = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    if (block == nullptr) return nullptr;
    block->data = std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1);
    if (block->data == nullptr) {
        std::free(block);
        return nullptr;
    }
    block->size = size;
    ++gHandlesOut;
    return &block->data;
}

void DisposeHandle(PF_Handle handle) {
    if (handle == nullptr) return;
    std::free(BlockOf(handle)->data);
    std::free(BlockOf(handle));
    --gHandlesOut;
}

PF_Err ResizeHandle(A_u_longlong size, PF_Handle* handle) {
    if (handle == nullptr || *handle == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    HandleBlock* block = BlockOf(*handle);
    void* resized = std::realloc(block->data, size > 0 ? static_cast<size_t>(size) : 1);
    if (resized == nullptr) return PF_Err_OUT_OF_MEMORY;
    if (size > block->size) {
        std::memset(static_cast<char*>(resized) + block->size, 0,
                    static_cast<size_t>(size - block->size));
    }
    block->data = resized;
    block->size = size;
    return PF_Err_NONE;
}

int AnsiSprintf(A_char* buffer, const A_char* format, ...) {
    if (buffer == nullptr || format == nullptr) return -1;
    va_list args;
    va_start(args, format);
    const int written = std::vsprintf(buffer, format, args);
    va_end(args);
    return written;
}

}  // namespace

// The host's C library functions and memory handles, as SDK-built plug-ins use them.
void ServeCLibrary(PF_UtilCallbacks& utils) {
    PF_ANSICallbacksBlock& ansi = utils.ansi;
    ansi.atan = [](A_FpLong x) { return std::atan(x); };
    ansi.atan2 = [](A_FpLong y, A_FpLong x) { return std::atan2(y, x); };
    ansi.ceil = [](A_FpLong x) { return std::ceil(x); };
    ansi.cos = [](A_FpLong x) { return std::cos(x); };
    ansi.exp = [](A_FpLong x) { return std::exp(x); };
    ansi.fabs = [](A_FpLong x) { return std::fabs(x); };
    ansi.floor = [](A_FpLong x) { return std::floor(x); };
    ansi.fmod = [](A_FpLong x, A_FpLong y) { return std::fmod(x, y); };
    ansi.hypot = [](A_FpLong x, A_FpLong y) { return std::hypot(x, y); };
    ansi.log = [](A_FpLong x) { return std::log(x); };
    ansi.log10 = [](A_FpLong x) { return std::log10(x); };
    ansi.pow = [](A_FpLong x, A_FpLong y) { return std::pow(x, y); };
    ansi.sin = [](A_FpLong x) { return std::sin(x); };
    ansi.sqrt = [](A_FpLong x) { return std::sqrt(x); };
    ansi.tan = [](A_FpLong x) { return std::tan(x); };
    ansi.sprintf = AnsiSprintf;
    ansi.strcpy = [](A_char* to, const A_char* from) {
        return to == nullptr || from == nullptr ? to : std::strcpy(to, from);
    };
    ansi.asin = [](A_FpLong x) { return std::asin(x); };
    ansi.acos = [](A_FpLong x) { return std::acos(x); };
    utils.host_new_handle = NewHandle;
    utils.host_lock_handle = [](PF_Handle handle) { return handle != nullptr ? *handle : nullptr; };
    utils.host_unlock_handle = [](PF_Handle) {};
    utils.host_dispose_handle = DisposeHandle;
    utils.host_get_handle_size = [](PF_Handle handle) {
        return handle != nullptr ? BlockOf(handle)->size : A_u_longlong{0};
    };
    utils.host_resize_handle = ResizeHandle;
}

void ServeMemoryBlocks(SPBasicSuite& basic) {
    basic.IsEqual = [](const char* a, const char* b) -> SPBoolean {
        return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
    };
    basic.AllocateBlock = [](size_t size, void** block) -> SPErr {
        if (block == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        *block = std::malloc(size > 0 ? size : 1);
        return *block != nullptr ? 0 : PF_Err_OUT_OF_MEMORY;
    };
    basic.FreeBlock = [](void* block) -> SPErr {
        std::free(block);
        return 0;
    };
    basic.ReallocateBlock = [](void* block, size_t size, void** resized) -> SPErr {
        if (resized == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        *resized = std::realloc(block, size > 0 ? size : 1);
        return *resized != nullptr ? 0 : PF_Err_OUT_OF_MEMORY;
    };
}

// A plug-in may mix more data into the frame's cache key; this host keeps no cache.
PF_Err GuidMixIn(PF_ProgPtr, A_u_long size, const void* buffer) {
    return size > 0 && buffer == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
}

// The input layer has no footage in this host.
PF_Err CheckoutLayerPixels(PF_ProgPtr, A_long, PF_EffectWorld** pixels) {
    if (pixels != nullptr) *pixels = nullptr;
    return PF_Err_BAD_CALLBACK_PARAM;
}

long Simulator::OutstandingHandles() {
    return gHandlesOut.load();
}

}  // namespace host_sim
