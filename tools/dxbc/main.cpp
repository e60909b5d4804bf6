// pyrix_dxbc: the build's DXBC helper.
//   pyrix_dxbc resign IN OUT             SM5 program chunk SHDR -> SHEX, float add/mul marked
//                                        precise, container re-signed
//   pyrix_dxbc validate anchor|fire|firebuffer|convert FILE checks a compiled kernel against the
//   kernel interface pyrix_dxbc info FILE                 prints chunks, bindings and the
//   thread-group size
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "dxbc/dxbc.h"
#include "dxbc/kernel_validation.h"

namespace {

bool ReadFile(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "pyrix_dxbc: cannot open %s\n", path);
        return false;
    }
    bytes->clear();
    uint8_t buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + count);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "pyrix_dxbc: cannot read %s\n", path);
    }
    return !failed;
}

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "pyrix_dxbc: cannot write %s\n", path);
        return false;
    }
    return true;
}

std::string FourCcText(uint32_t fourCc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += static_cast<char>((fourCc >> (8 * i)) & 0xff);
    }
    return text;
}

int Resign(const char* in, const char* out) {
    std::vector<uint8_t> input;
    if (!ReadFile(in, &input)) {
        return 1;
    }
    std::vector<uint8_t> output;
    std::string error;
    if (!dxbc::ConvertToShex(input, &output, &error)) {
        std::fprintf(stderr, "pyrix_dxbc: %s: %s\n", in, error.c_str());
        return 1;
    }
    return WriteFile(out, output) ? 0 : 1;
}

int Validate(const std::string& kind, const char* path) {
    if (kind != "anchor" && kind != "fire" && kind != "firebuffer" && kind != "convert") {
        std::fprintf(stderr, "pyrix_dxbc: unknown kernel '%s' (anchor, fire or convert)\n",
                     kind.c_str());
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, &bytes)) {
        return 1;
    }
    const std::vector<std::string> problems =
        dxbc::ValidateKernel(kind == "fire"         ? dxbc::KernelKind::kFire
                             : kind == "firebuffer" ? dxbc::KernelKind::kFireBuffer
                             : kind == "convert"    ? dxbc::KernelKind::kConvert
                                                    : dxbc::KernelKind::kAnchor,
                             bytes.data(), bytes.size());
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "%s: %s\n", path, problem.c_str());
    }
    if (problems.empty()) {
        std::printf("%s: valid %s kernel, %zu bytes\n", path, kind.c_str(), bytes.size());
    }
    return problems.empty() ? 0 : 1;
}

int Info(const char* path) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, &bytes)) {
        return 1;
    }
    dxbc::Shader shader;
    std::string error;
    if (!dxbc::ReadShader(bytes.data(), bytes.size(), &shader, &error)) {
        std::fprintf(stderr, "pyrix_dxbc: %s: %s\n", path, error.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes, created by %s\n", path, bytes.size(),
                shader.reflection.creator.c_str());
    for (const dxbc::Chunk& chunk : shader.container.chunks) {
        std::printf("  chunk %s, %u bytes\n", FourCcText(chunk.fourCc).c_str(), chunk.size);
    }
    for (const dxbc::ResourceBinding& binding : shader.reflection.bindings) {
        std::printf("  binding %s: type %u, register %u\n", binding.name.c_str(), binding.inputType,
                    binding.bindPoint);
    }
    const dxbc::Program& program = shader.program;
    std::printf("  program type %u, model %u.%u, thread group %ux%ux%u\n", program.programType,
                program.major, program.minor, program.threadGroup[0], program.threadGroup[1],
                program.threadGroup[2]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "resign" && argc == 4) {
        return Resign(argv[2], argv[3]);
    }
    if (command == "validate" && argc == 4) {
        return Validate(argv[2], argv[3]);
    }
    if (command == "info" && argc == 3) {
        return Info(argv[2]);
    }
    std::fprintf(stderr,
                 "usage: pyrix_dxbc resign IN OUT | validate anchor|fire|firebuffer|convert FILE | "
                 "info FILE\n");
    return 2;
}
