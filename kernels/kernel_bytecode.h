// The compiled cs_5_0 kernels (fire, anchor and conversion, and the fire kernel's buffer form
// for the host's own GPU device), embedded from kernels/bytecode/*.dxbc at build time. The
// renderers create their compute shaders from these; the CPU stand-in of Direct3D recognises the
// first three.
#pragma once

#include <cstddef>

namespace pyrix {

extern const unsigned char kFireKernelBytecode[];
extern const size_t kFireKernelBytecodeSize;
extern const unsigned char kFireBufferKernelBytecode[];
extern const size_t kFireBufferKernelBytecodeSize;
extern const unsigned char kAnchorKernelBytecode[];
extern const size_t kAnchorKernelBytecodeSize;
extern const unsigned char kConvertKernelBytecode[];
extern const size_t kConvertKernelBytecodeSize;

}  // namespace pyrix
