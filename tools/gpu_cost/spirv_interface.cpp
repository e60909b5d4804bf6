#include "tools/gpu_cost/spirv_interface.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace {

// The few opcodes, decorations and enumerants of the SPIR-V binary format that name resources.
enum Op : uint32_t {
    kOpEntryPoint = 15,
    kOpExecutionMode = 16,
    kOpTypeImage = 25,
    kOpTypeSampler = 26,
    kOpTypeSampledImage = 27,
    kOpTypeArray = 28,
    kOpTypeRuntimeArray = 29,
    kOpTypePointer = 32,
    kOpConstant = 43,
    kOpVariable = 59,
    kOpDecorate = 71,
};
constexpr uint32_t kMagic = 0x07230203;
constexpr uint32_t kGLCompute = 5;
constexpr uint32_t kLocalSize = 17;
constexpr uint32_t kDecorationBlock = 2;
constexpr uint32_t kDecorationBufferBlock = 3;
constexpr uint32_t kDecorationBinding = 33;
constexpr uint32_t kDecorationDescriptorSet = 34;
constexpr uint32_t kUniformConstant = 0;
constexpr uint32_t kUniform = 2;
constexpr uint32_t kPushConstant = 9;
constexpr uint32_t kStorageBuffer = 12;
constexpr uint32_t kDimBuffer = 5;
constexpr uint32_t kSampledForStorage = 2;

struct Module {
    std::map<uint32_t, std::vector<uint32_t>> types;  // result id -> the instruction's words
    std::map<uint32_t, uint32_t> constants;           // result id -> first value word
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> variables;   // id -> pointer type, class
    std::map<uint32_t, std::map<uint32_t, uint32_t>> decorations;  // id -> decoration -> value
};

std::string LiteralString(const uint32_t* words, size_t count) {
    std::string text;
    for (size_t i = 0; i < count * 4; ++i) {
        const char c = static_cast<char>((words[i / 4] >> (8 * (i % 4))) & 0xFF);
        if (c == '\0') break;
        text.push_back(c);
    }
    return text;
}

void Record(Module& module, SpirvInterface& out, const uint32_t* in, uint32_t op, uint32_t n) {
    if (op == kOpEntryPoint && n >= 4 && in[1] == kGLCompute && out.entry.empty()) {
        out.entry = LiteralString(in + 3, n - 3);
    } else if (op == kOpExecutionMode && n >= 6 && in[2] == kLocalSize) {
        std::copy(in + 3, in + 6, out.localSize);
    } else if (op >= kOpTypeImage && op <= kOpTypePointer && n >= 2) {
        module.types[in[1]].assign(in, in + n);
    } else if (op == kOpConstant && n >= 4) {
        module.constants[in[2]] = in[3];
    } else if (op == kOpVariable && n >= 4) {
        module.variables[in[2]] = {in[1], in[3]};
    } else if (op == kOpDecorate && n >= 3) {
        module.decorations[in[1]][in[2]] = n >= 4 ? in[3] : 1;
    }
}

const std::vector<uint32_t>& TypeOf(const Module& module, uint32_t id) {
    const auto found = module.types.find(id);
    static const std::vector<uint32_t> none;
    return found == module.types.end() ? none : found->second;
}

bool Decorated(const Module& module, uint32_t id, uint32_t decoration) {
    const auto found = module.decorations.find(id);
    return found != module.decorations.end() && found->second.count(decoration) != 0;
}

VkDescriptorType ImageType(const std::vector<uint32_t>& image) {
    const bool storage = image.size() > 7 && image[7] == kSampledForStorage;
    if (image.size() > 3 && image[3] == kDimBuffer) {
        return storage ? VK_DESCRIPTOR_TYPE_STORAGE_TEXEL_BUFFER
                       : VK_DESCRIPTOR_TYPE_UNIFORM_TEXEL_BUFFER;
    }
    return storage ? VK_DESCRIPTOR_TYPE_STORAGE_IMAGE : VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE;
}

// The descriptor type and count of a variable of storage class `storage` pointing to `pointee`.
SpirvBinding Describe(const Module& module, uint32_t pointee, uint32_t storage) {
    SpirvBinding binding;
    std::vector<uint32_t> type = TypeOf(module, pointee);
    while (!type.empty() && (type[0] & 0xFFFF) == kOpTypeArray) {
        const auto length = module.constants.find(type[3]);
        binding.count *= length == module.constants.end() ? 1 : length->second;
        pointee = type[2];
        type = TypeOf(module, pointee);
    }
    const uint32_t op = type.empty() ? 0 : (type[0] & 0xFFFF);
    if (op == kOpTypeRuntimeArray) throw std::runtime_error("unsized descriptor arrays");
    if (storage == kStorageBuffer ||
        (storage == kUniform && Decorated(module, pointee, kDecorationBufferBlock))) {
        binding.type = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    } else if (storage == kUniform && Decorated(module, pointee, kDecorationBlock)) {
        binding.type = VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER;
    } else if (storage == kUniformConstant && op == kOpTypeImage) {
        binding.type = ImageType(type);
    } else if (storage == kUniformConstant && op == kOpTypeSampler) {
        binding.type = VK_DESCRIPTOR_TYPE_SAMPLER;
    } else if (storage == kUniformConstant && op == kOpTypeSampledImage) {
        binding.type = VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER;
    } else {
        throw std::runtime_error("a resource of an unknown kind");
    }
    return binding;
}

}  // namespace

SpirvInterface ReadSpirvInterface(const std::vector<uint32_t>& words) {
    if (words.size() < 5 || words[0] != kMagic) throw std::runtime_error("not a SPIR-V module");
    Module module;
    SpirvInterface out;
    for (size_t at = 5; at < words.size();) {
        const uint32_t n = words[at] >> 16;
        if (n == 0 || at + n > words.size()) throw std::runtime_error("truncated SPIR-V module");
        Record(module, out, &words[at], words[at] & 0xFFFF, n);
        at += n;
    }
    if (out.entry.empty()) throw std::runtime_error("no compute entry point");
    for (const auto& [id, variable] : module.variables) {
        const uint32_t storage = variable.second;
        if (storage == kPushConstant) throw std::runtime_error("push constants");
        if (storage != kUniformConstant && storage != kUniform && storage != kStorageBuffer) {
            continue;
        }
        const std::vector<uint32_t>& pointer = TypeOf(module, variable.first);
        if (pointer.size() < 4) throw std::runtime_error("a variable without a pointer type");
        SpirvBinding binding = Describe(module, pointer[3], storage);
        const auto& marks = module.decorations[id];
        binding.set =
            marks.count(kDecorationDescriptorSet) ? marks.at(kDecorationDescriptorSet) : 0;
        binding.binding = marks.count(kDecorationBinding) ? marks.at(kDecorationBinding) : 0;
        out.bindings.push_back(binding);
    }
    std::sort(out.bindings.begin(), out.bindings.end(), [](const auto& a, const auto& b) {
        return a.set != b.set ? a.set < b.set : a.binding < b.binding;
    });
    return out;
}

std::vector<uint32_t> ReadSpirvFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the file");
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() % 4 != 0) throw std::runtime_error("not a SPIR-V module");
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    return words;
}
