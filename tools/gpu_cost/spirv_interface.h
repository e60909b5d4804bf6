// What a compute module asks of its pipeline, read from the SPIR-V itself: the entry point and
// every descriptor it binds. The kernels' bindings change with the kernels, so nothing here is
// written down per kernel.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <string>
#include <vector>

struct SpirvBinding {
    uint32_t set = 0;
    uint32_t binding = 0;
    VkDescriptorType type = VK_DESCRIPTOR_TYPE_MAX_ENUM;
    uint32_t count = 1;
};

struct SpirvInterface {
    std::string entry;
    uint32_t localSize[3] = {1, 1, 1};
    std::vector<SpirvBinding> bindings;  // sorted by set, then binding
};

// Throws std::runtime_error on a module that is not SPIR-V, has no GLCompute entry point, or binds
// something this reader does not map to a descriptor type (push constants among them).
SpirvInterface ReadSpirvInterface(const std::vector<uint32_t>& words);

// The words of a SPIR-V file; throws if it cannot be read or is no whole number of words.
std::vector<uint32_t> ReadSpirvFile(const std::string& path);
