// Fuzz target: the DXBC reader on arbitrary bytes. Whatever it accepts must be self-consistent
// (chunks inside the container, signing reproducible); whatever it refuses comes with a reason.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "dxbc/dxbc.h"

namespace {

using fuzz::Fail;

void ReadChunks(const std::vector<uint8_t>& bytes, const dxbc::Container& container) {
    for (const dxbc::Chunk& chunk : container.chunks) {
        if (chunk.offset > bytes.size() || chunk.size > bytes.size() - chunk.offset) {
            Fail("accepted chunk outside the container");
        }
        std::string error;
        if (chunk.fourCc == dxbc::kChunkRdef) {
            dxbc::Reflection reflection;
            if (!dxbc::ParseReflection(bytes.data(), bytes.size(), chunk, &reflection, &error) &&
                error.empty()) {
                Fail("reflection refused without a reason");
            }
        } else if (chunk.fourCc == dxbc::kChunkShex || chunk.fourCc == dxbc::kChunkShdr) {
            dxbc::Program program;
            if (!dxbc::ParseProgram(bytes.data(), bytes.size(), chunk, &program, &error) &&
                error.empty()) {
                Fail("program refused without a reason");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    // Half the inputs are signed first, so that the checksum is no wall in front of the rest.
    if (size >= dxbc::kHeaderSize && (data[size - 1] & 1) != 0) dxbc::Sign(&bytes);

    std::string error;
    dxbc::Container container;
    if (dxbc::ParseContainer(bytes.data(), bytes.size(), &container, &error)) {
        if (container.totalSize != bytes.size()) Fail("container size differs from its bytes");
        ReadChunks(bytes, container);
    } else if (error.empty()) {
        Fail("container refused without a reason");
    }

    dxbc::Shader shader;
    error.clear();
    if (!dxbc::ReadShader(bytes.data(), bytes.size(), &shader, &error) && error.empty()) {
        Fail("shader refused without a reason");
    }

    std::vector<uint8_t> converted;
    error.clear();
    if (dxbc::ConvertToShex(bytes, &converted, &error)) {
        if (converted.size() != bytes.size()) Fail("conversion changed the size");
        std::vector<uint8_t> resigned = converted;
        dxbc::Sign(&resigned);
        if (resigned != converted) Fail("converted container not signed");
    } else if (error.empty()) {
        Fail("conversion refused without a reason");
    }
    return 0;
}
