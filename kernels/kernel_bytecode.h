// The compiled cs_5_0 kernels (fire, anchor and conversion, the fire kernel's buffer form for the
// host's own GPU device, and both forms' second pass), embedded from kernels/bytecode/*.dxbc at
// build time. The renderers create their compute shaders from these; the CPU stand-in of
// Direct3D recognises the texture forms, the anchor and the conversion.
#pragma once

#include <cstddef>

namespace pyrix {

extern const unsigned char kFireKernelBytecode[];
extern const size_t kFireKernelBytecodeSize;
extern const unsigned char kFireBufferKernelBytecode[];
extern const size_t kFireBufferKernelBytecodeSize;
extern const unsigned char kFireKernelRedoBytecode[];
extern const size_t kFireKernelRedoBytecodeSize;
extern const unsigned char kFireBufferKernelRedoBytecode[];
extern const size_t kFireBufferKernelRedoBytecodeSize;
extern const unsigned char kAnchorKernelBytecode[];
extern const size_t kAnchorKernelBytecodeSize;
extern const unsigned char kConvertKernelBytecode[];
extern const size_t kConvertKernelBytecodeSize;

}  // namespace pyrix
