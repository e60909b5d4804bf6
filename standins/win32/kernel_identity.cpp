#include "standins/win32/kernel_identity.h"

#include <cstring>
#include <string>

#include "dxbc/dxbc.h"
#include "kernels/conversion_block.h"
#include "kernels/kernel_bytecode.h"
#include "kernels/params_block.h"

namespace d3d_standin {

// Like a driver, the device reads the container it is given: a damaged or foreign blob is
// refused, and a valid compute shader is run as the CPU kernel with its thread-group shape.
KernelIdentity IdentifyKernel(const void* bytecode, SIZE_T length) {
    if (bytecode == nullptr || length == 0) return KernelIdentity::Unknown;
    dxbc::Shader shader;
    std::string error;
    if (!dxbc::ReadShader(static_cast<const uint8_t*>(bytecode), length, &shader, &error) ||
        shader.program.programType != dxbc::kProgramCompute || shader.program.major != 5 ||
        !shader.program.hasThreadGroup) {
        return KernelIdentity::Unknown;
    }
    const auto& group = shader.program.threadGroup;
    if (group[0] == pyrix::kFireGroupWidth && group[1] == pyrix::kFireGroupHeight &&
        group[2] == 1) {
        // Both passes have the same shape and bindings: the second is known by its bytes.
        const bool redo = length == pyrix::kFireKernelRedoBytecodeSize &&
                          std::memcmp(bytecode, pyrix::kFireKernelRedoBytecode, length) == 0;
        return redo ? KernelIdentity::FireRedo : KernelIdentity::Fire;
    }
    if (group[0] == pyrix::kAnchorGroupThreads && group[1] == 1 && group[2] == 1)
        return KernelIdentity::Anchor;
    if (group[0] == pyrix::kConvertGroupWidth && group[1] == 1 && group[2] == 1)
        return KernelIdentity::Convert;
    return KernelIdentity::Unknown;
}

}  // namespace d3d_standin
