// Checks a compiled kernel against the kernel interface: a signed container, a shader model 5.0
// compute program in an SHEX chunk, the kernel's thread-group size, and the bindings and
// constant-buffer layout that the renderer relies on (kernels/params_block.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dxbc {

enum class KernelKind { kAnchor, kFire, kFireBuffer, kConvert };

// The problems found; empty when the bytecode matches the interface.
std::vector<std::string> ValidateKernel(KernelKind kind, const uint8_t* data, size_t size);

}  // namespace dxbc
