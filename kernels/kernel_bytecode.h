// The compiled cs_5_0 kernels (fire, anchor and conversion), embedded from kernels/bytecode/*.dxbc
// at build time. The renderer creates its compute shaders from these; the CPU stand-in of Direct3D
// recognises them.
#pragma once

#include <cstddef>

namespace pyrix {

extern const unsigned char kFireKernelBytecode[];
extern const size_t kFireKernelBytecodeSize;
extern const unsigned char kAnchorKernelBytecode[];
extern const size_t kAnchorKernelBytecodeSize;
extern const unsigned char kConvertKernelBytecode[];
extern const size_t kConvertKernelBytecodeSize;

}  // namespace pyrix
