// Which of the kernels a piece of compute-shader bytecode is, so that the stand-in device
// can run the matching CPU kernel.
#pragma once

#include <windows.h>

namespace d3d_standin {

// FireRedo: the fire kernel's second pass, which renders again the groups the first one marks.
enum class KernelIdentity { Unknown, Anchor, Fire, FireRedo, Convert };

// Unknown for anything that is not one of the embedded kernels.
KernelIdentity IdentifyKernel(const void* bytecode, SIZE_T length);

}  // namespace d3d_standin
