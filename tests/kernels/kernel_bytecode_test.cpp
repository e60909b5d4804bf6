// The embedded kernel bytecode and the DXBC reader/signer that checks it.
#include "kernels/kernel_bytecode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dxbc/dxbc.h"
#include "dxbc/kernel_validation.h"

namespace pyrix {

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FireBytes() {
    return Bytes(kFireKernelBytecode, kFireKernelBytecode + kFireKernelBytecodeSize);
}
Bytes AnchorBytes() {
    return Bytes(kAnchorKernelBytecode, kAnchorKernelBytecode + kAnchorKernelBytecodeSize);
}

Bytes ReadData(const std::string& name) {
    const std::string path = std::string(PYRIX_TEST_DATA_DIR) + "/" + name;
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr) << path;
    if (file != nullptr) {
        int c;
        while ((c = std::fgetc(file)) != EOF) {
            bytes.push_back(static_cast<uint8_t>(c));
        }
        std::fclose(file);
    }
    return bytes;
}

std::string Joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& problem : problems) {
        text += problem + "\n";
    }
    return text;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& word) {
    return Joined(problems).find(word) != std::string::npos;
}

uint32_t Load(const Bytes& bytes, size_t offset) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

void Store(Bytes* bytes, size_t offset, uint32_t value) {
    std::memcpy(bytes->data() + offset, &value, sizeof(value));
}

const dxbc::Chunk& FindChunk(const Bytes& bytes, uint32_t fourCc) {
    static dxbc::Container container;
    std::string error;
    EXPECT_TRUE(dxbc::ParseContainer(bytes.data(), bytes.size(), &container, &error)) << error;
    const dxbc::Chunk* chunk = container.Find(fourCc);
    EXPECT_NE(chunk, nullptr);
    return *chunk;
}

// Offset of the first word of the program chunk equal to token.
size_t FindProgramToken(const Bytes& bytes, uint32_t token) {
    const dxbc::Chunk& program = FindChunk(bytes, dxbc::kChunkShex);
    for (size_t at = program.offset + 8; at + 4 <= program.offset + program.size; at += 4) {
        if (Load(bytes, at) == token) {
            return at;
        }
    }
    ADD_FAILURE() << "token not found";
    return 0;
}

// Offset of the bind-point word of the RDEF binding with this name.
size_t FindBindPoint(const Bytes& bytes, const std::string& name) {
    const dxbc::Chunk& rdef = FindChunk(bytes, dxbc::kChunkRdef);
    const uint32_t count = Load(bytes, rdef.offset + 8);
    const uint32_t first = Load(bytes, rdef.offset + 12);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t record = rdef.offset + first + 32 * i;
        const char* recordName =
            reinterpret_cast<const char*>(bytes.data() + rdef.offset + Load(bytes, record));
        if (name == recordName) {
            return record + 20;
        }
    }
    ADD_FAILURE() << "binding " << name << " not found";
    return 0;
}

// ----------------------------------------------------------------------- committed bytecode

TEST(CommittedBytecode, FireKernelMatchesTheInterface) {
    const std::vector<std::string> problems =
        dxbc::ValidateKernel(dxbc::KernelKind::kFire, kFireKernelBytecode, kFireKernelBytecodeSize);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
}

TEST(CommittedBytecode, AnchorKernelMatchesTheInterface) {
    const std::vector<std::string> problems = dxbc::ValidateKernel(
        dxbc::KernelKind::kAnchor, kAnchorKernelBytecode, kAnchorKernelBytecodeSize);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
}

// The conversion kernel: its own constant buffer, the fire texture as a view, packed words out;
// as another kernel's bytecode it is refused.
TEST(CommittedBytecode, ConvertKernelMatchesItsInterfaceAndNoOther) {
    const std::vector<std::string> problems = dxbc::ValidateKernel(
        dxbc::KernelKind::kConvert, kConvertKernelBytecode, kConvertKernelBytecodeSize);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
    const std::vector<std::string> asFire = dxbc::ValidateKernel(
        dxbc::KernelKind::kFire, kConvertKernelBytecode, kConvertKernelBytecodeSize);
    EXPECT_TRUE(Mentions(asFire, "thread group 64x1x1")) << Joined(asFire);
    EXPECT_TRUE(Mentions(asFire, "no constant buffer Params")) << Joined(asFire);
    const std::vector<std::string> fireAsConvert = dxbc::ValidateKernel(
        dxbc::KernelKind::kConvert, kFireKernelBytecode, kFireKernelBytecodeSize);
    EXPECT_TRUE(Mentions(fireAsConvert, "no binding fireImage")) << Joined(fireAsConvert);
}

// The fire kernel's buffer form: the host's buffer and its row pitch instead of the texture.
TEST(CommittedBytecode, FireBufferKernelMatchesItsInterfaceAndNotTheTextures) {
    const std::vector<std::string> problems = dxbc::ValidateKernel(
        dxbc::KernelKind::kFireBuffer, kFireBufferKernelBytecode, kFireBufferKernelBytecodeSize);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
    const std::vector<std::string> asFire = dxbc::ValidateKernel(
        dxbc::KernelKind::kFire, kFireBufferKernelBytecode, kFireBufferKernelBytecodeSize);
    EXPECT_TRUE(Mentions(asFire, "no binding output")) << Joined(asFire);
    const std::vector<std::string> textureAsBuffer = dxbc::ValidateKernel(
        dxbc::KernelKind::kFireBuffer, kFireKernelBytecode, kFireKernelBytecodeSize);
    EXPECT_TRUE(Mentions(textureAsBuffer, "no binding worldPixels")) << Joined(textureAsBuffer);
}

TEST(CommittedBytecode, ReadsBackThreadGroupsAndBindings) {
    dxbc::Shader fire;
    std::string error;
    ASSERT_TRUE(dxbc::ReadShader(kFireKernelBytecode, kFireKernelBytecodeSize, &fire, &error))
        << error;
    EXPECT_EQ(fire.program.threadGroup, (std::array<uint32_t, 3>{16, 8, 1}));
    ASSERT_NE(fire.reflection.FindBinding("output"), nullptr);
    EXPECT_EQ(fire.reflection.FindBinding("output")->inputType, dxbc::kInputUavTyped);
    ASSERT_NE(fire.reflection.FindBinding("anchorInput"), nullptr);
    EXPECT_EQ(fire.reflection.FindBinding("anchorInput")->sampleCountOrStride, 16u);

    dxbc::Shader anchor;
    ASSERT_TRUE(dxbc::ReadShader(kAnchorKernelBytecode, kAnchorKernelBytecodeSize, &anchor, &error))
        << error;
    EXPECT_EQ(anchor.program.threadGroup, (std::array<uint32_t, 3>{32, 1, 1}));
    ASSERT_NE(anchor.reflection.FindBinding("anchorOutput"), nullptr);
    EXPECT_EQ(anchor.reflection.FindBinding("anchorOutput")->bindPoint, 1u);
}

TEST(CommittedBytecode, AnchorLoopsWereNotUnrolled) {
    // Unrolled, the anchor's rounds of fire-field evaluations would take well over a megabyte;
    // kept as a loop the anchor kernel holds one copy of the field, like the fire kernel.
    EXPECT_LT(kAnchorKernelBytecodeSize, 3 * kFireKernelBytecodeSize);
}

TEST(CommittedBytecode, KernelsAreNotInterchangeable) {
    const std::vector<std::string> asAnchor = dxbc::ValidateKernel(
        dxbc::KernelKind::kAnchor, kFireKernelBytecode, kFireKernelBytecodeSize);
    EXPECT_TRUE(Mentions(asAnchor, "thread group 16x8x1")) << Joined(asAnchor);
    EXPECT_TRUE(Mentions(asAnchor, "no binding anchorOutput")) << Joined(asAnchor);
    const std::vector<std::string> asFire = dxbc::ValidateKernel(
        dxbc::KernelKind::kFire, kAnchorKernelBytecode, kAnchorKernelBytecodeSize);
    EXPECT_TRUE(Mentions(asFire, "thread group 32x1x1")) << Joined(asFire);
}

// -------------------------------------------------------------------- the validator's teeth

TEST(KernelValidation, RejectsAnyChangedByte) {
    Bytes bytes = FireBytes();
    const dxbc::Chunk& program = FindChunk(bytes, dxbc::kChunkShex);
    bytes[program.offset + program.size / 2] ^= 0x01;
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "checksum")) << Joined(problems);
}

TEST(KernelValidation, RejectsAnShdrProgramChunk) {
    Bytes bytes = FireBytes();
    const dxbc::Chunk& program = FindChunk(bytes, dxbc::kChunkShex);
    Store(&bytes, program.offset - 8, dxbc::kChunkShdr);
    dxbc::Sign(&bytes);
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "not SHEX")) << Joined(problems);
}

// A copy of the fire kernel with `tokens` inserted as its first declaration, re-signed; `at` is
// where they went.
Bytes WithDeclaration(const std::vector<uint32_t>& tokens, size_t* at) {
    Bytes bytes = FireBytes();
    dxbc::Container container;
    std::string error;
    EXPECT_TRUE(dxbc::ParseContainer(bytes.data(), bytes.size(), &container, &error)) << error;
    const dxbc::Chunk* program = container.Find(dxbc::kChunkShex);
    EXPECT_NE(program, nullptr);
    if (program == nullptr) {
        return bytes;
    }
    const uint32_t added = static_cast<uint32_t>(4 * tokens.size());
    *at = program->offset + 8;  // after the version and length tokens
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(*at), added, 0);
    for (size_t i = 0; i < tokens.size(); ++i) {
        Store(&bytes, *at + 4 * i, tokens[i]);
    }
    Store(&bytes, program->offset + 4,
          Load(bytes, program->offset + 4) + static_cast<uint32_t>(tokens.size()));
    Store(&bytes, program->offset - 4, program->size + added);
    Store(&bytes, 24, static_cast<uint32_t>(bytes.size()));
    for (size_t i = 0; i < container.chunks.size(); ++i) {
        const size_t entry = 32 + 4 * i;
        if (Load(bytes, entry) > program->offset) {
            Store(&bytes, entry, Load(bytes, entry) + added);
        }
    }
    dxbc::Sign(&bytes);
    return bytes;
}

// The committed kernels declare no global flags, which forbids refactoring. A copy with
// dcl_globalFlags refactoringAllowed inserted as the first declaration must fail.
TEST(KernelValidation, RejectsRefactoringAllowed) {
    EXPECT_TRUE(
        dxbc::ValidateKernel(dxbc::KernelKind::kFire, FireBytes().data(), FireBytes().size())
            .empty());
    size_t at = 0;
    Bytes bytes = WithDeclaration({0x0100006a | dxbc::kGlobalFlagRefactoringAllowed}, &at);
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "allows refactoring")) << Joined(problems);
    // The same declaration without the flag passes.
    Store(&bytes, at, 0x0100006a);
    dxbc::Sign(&bytes);
    EXPECT_TRUE(dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size()).empty());
}

// Neither kernel keeps an array in scratch memory: dcl_indexableTemp x0[4], 4 fails.
TEST(KernelValidation, RejectsIndexableTemporaries) {
    EXPECT_TRUE(
        dxbc::ValidateKernel(dxbc::KernelKind::kAnchor, AnchorBytes().data(), AnchorBytes().size())
            .empty());
    size_t at = 0;
    const Bytes bytes = WithDeclaration({0x04000069, 0, 4, 4}, &at);
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "1 indexable temporary arrays")) << Joined(problems);
}

// Every float add and multiply carries the precise mark; a copy with one mul unmarked fails.
TEST(KernelValidation, RejectsArithmeticNotMarkedPrecise) {
    Bytes bytes = FireBytes();
    const dxbc::Chunk& program = FindChunk(bytes, dxbc::kChunkShex);
    size_t at = program.offset + 8;
    while (at < program.offset + program.size && (Load(bytes, at) & 0x7ff) != 0x38) {
        const uint32_t token = Load(bytes, at);
        at += 4 * ((token & 0x7ff) == 0x35 ? Load(bytes, at + 4) : (token >> 24) & 0x7f);
    }
    ASSERT_LT(at, program.offset + program.size) << "no mul instruction";
    Store(&bytes, at, Load(bytes, at) & ~dxbc::kPreciseAll);
    dxbc::Sign(&bytes);
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "1 float add/multiply instructions not marked precise"))
        << Joined(problems);
}

TEST(KernelValidation, RejectsAnotherThreadGroup) {
    Bytes bytes = FireBytes();
    const size_t declaration = FindProgramToken(bytes, 0x0400009b);
    Store(&bytes, declaration + 8, 4);  // 16x4x1
    dxbc::Sign(&bytes);
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "thread group 16x4x1")) << Joined(problems);
}

TEST(KernelValidation, RejectsAnotherShaderModel) {
    Bytes bytes = AnchorBytes();
    const dxbc::Chunk& program = FindChunk(bytes, dxbc::kChunkShex);
    Store(&bytes, program.offset, 0x00050041);  // compute 4.1
    dxbc::Sign(&bytes);
    const auto problems =
        dxbc::ValidateKernel(dxbc::KernelKind::kAnchor, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "shader model 5.0")) << Joined(problems);
}

TEST(KernelValidation, RejectsAnchorBufferInAnotherSlot) {
    Bytes bytes = AnchorBytes();
    Store(&bytes, FindBindPoint(bytes, "anchorOutput"), 0);  // u0 instead of u1
    dxbc::Sign(&bytes);
    const auto problems =
        dxbc::ValidateKernel(dxbc::KernelKind::kAnchor, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "binding anchorOutput: register 0")) << Joined(problems);
}

// The tables sit at b1, and their declaration admits the run-time indices the kernels use.
TEST(KernelValidation, RejectsTablesElsewhereOrDeclaredImmediatelyIndexed) {
    Bytes moved = FireBytes();
    Store(&moved, FindBindPoint(moved, "Tables"), 2);
    dxbc::Sign(&moved);
    auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, moved.data(), moved.size());
    EXPECT_TRUE(Mentions(problems, "binding Tables: register 2")) << Joined(problems);

    Bytes immediate = AnchorBytes();
    const size_t at = FindProgramToken(immediate, 0x04000059 | dxbc::kConstantBufferDynamicIndexed);
    EXPECT_EQ(Load(immediate, at + 8), 1u);  // cb1
    Store(&immediate, at, 0x04000059);
    dxbc::Sign(&immediate);
    problems = dxbc::ValidateKernel(dxbc::KernelKind::kAnchor, immediate.data(), immediate.size());
    EXPECT_TRUE(Mentions(problems, "not declared dynamically indexed")) << Joined(problems);
}

TEST(KernelValidation, RejectsAShiftedParamsField) {
    Bytes bytes = FireBytes();
    // The Params variable "softness" records its offset right after its name offset.
    const dxbc::Chunk& rdef = FindChunk(bytes, dxbc::kChunkRdef);
    bool patched = false;
    for (size_t at = rdef.offset; at + 8 <= rdef.offset + rdef.size; at += 4) {
        const uint32_t nameOffset = Load(bytes, at);
        if (nameOffset < rdef.size &&
            std::strcmp(reinterpret_cast<const char*>(bytes.data() + rdef.offset + nameOffset),
                        "softness") == 0 &&
            Load(bytes, at + 4) == 44) {
            Store(&bytes, at + 4, 40);
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    dxbc::Sign(&bytes);
    const auto problems = dxbc::ValidateKernel(dxbc::KernelKind::kFire, bytes.data(), bytes.size());
    EXPECT_TRUE(Mentions(problems, "softness at 40, expected softness at 44")) << Joined(problems);
}

// ------------------------------------------------------------------------------- checksum

class ContainerChecksum : public testing::TestWithParam<const char*> {};

TEST_P(ContainerChecksum, AgreesWithAnotherSigner) {
    // Small compute shaders signed by the HLSL compiler, chosen so that the data after the
    // checksum field leaves 0, 16 and 56 bytes in its last block: both ways of ending.
    const Bytes bytes = ReadData(GetParam());
    ASSERT_GT(bytes.size(), dxbc::kHeaderSize);
    dxbc::Container container;
    std::string error;
    ASSERT_TRUE(dxbc::ParseContainer(bytes.data(), bytes.size(), &container, &error)) << error;
    EXPECT_EQ(dxbc::ComputeChecksum(bytes.data(), bytes.size()), container.storedChecksum);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ContainerChecksum,
                         testing::Values("signed_tail0.dxbc", "signed_tail16.dxbc",
                                         "signed_tail56.dxbc"));

TEST(ConvertToShex, RenamesAndResigns) {
    const Bytes raw = ReadData("signed_tail56.dxbc");
    Bytes converted;
    std::string error;
    ASSERT_TRUE(dxbc::ConvertToShex(raw, &converted, &error)) << error;
    ASSERT_EQ(converted.size(), raw.size());
    dxbc::Shader shader;
    ASSERT_TRUE(dxbc::ReadShader(converted.data(), converted.size(), &shader, &error)) << error;
    EXPECT_EQ(shader.program.fourCc, dxbc::kChunkShex);
    EXPECT_EQ(shader.program.threadGroup, (std::array<uint32_t, 3>{2, 1, 1}));
    EXPECT_NE(shader.container.storedChecksum,
              dxbc::ComputeChecksum(raw.data(), raw.size()));  // signed anew
    // Nothing but the chunk name and the checksum changed.
    int changed = 0;
    for (size_t i = 20; i < raw.size(); ++i) {
        changed += raw[i] != converted[i] ? 1 : 0;
    }
    EXPECT_LE(changed, 4);
    EXPECT_GE(changed, 1);
}

TEST(ConvertToShex, RefusesAContainerWithABadChecksum) {
    Bytes raw = ReadData("signed_tail16.dxbc");
    raw[raw.size() - 1] ^= 0x40;
    Bytes converted;
    std::string error;
    EXPECT_FALSE(dxbc::ConvertToShex(raw, &converted, &error));
    EXPECT_NE(error.find("checksum"), std::string::npos) << error;
}

// ------------------------------------------------------------------------- hostile input

TEST(DxbcReader, RejectsEveryTruncation) {
    // Also with the recorded size and checksum made to fit the cut, so that the chunk table and
    // the chunks themselves have to catch it.
    const Bytes bytes = FireBytes();
    for (size_t size = 0; size < bytes.size(); size += (size < 1200 ? 1 : 97)) {
        Bytes truncated(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        for (bool refitted : {false, true}) {
            if (refitted && size >= dxbc::kHeaderSize) {
                Store(&truncated, 24, static_cast<uint32_t>(size));
                dxbc::Sign(&truncated);
            }
            dxbc::Shader shader;
            std::string error;
            ASSERT_FALSE(dxbc::ReadShader(truncated.data(), truncated.size(), &shader, &error))
                << size;
            ASSERT_FALSE(error.empty());
        }
    }
}

TEST(DxbcReader, SurvivesCorruptedStructures) {
    // Corrupted counts and offsets in the headers and tables, re-signed so that the parsers see
    // them: every result must be a clean rejection or a parse within bounds (the sanitizers
    // watch the reads).
    const Bytes original = AnchorBytes();
    std::mt19937 random(1234);
    const dxbc::Chunk& rdef = FindChunk(original, dxbc::kChunkRdef);
    const dxbc::Chunk& program = FindChunk(original, dxbc::kChunkShex);
    const size_t hotRanges[][2] = {
        {0, 64}, {rdef.offset - 8, rdef.offset + 400}, {program.offset - 8, program.offset + 64}};
    const uint32_t nasty[] = {0, 1, 0x7f, 0xffff, 0x7fffffff, 0xffffffff, 0x80000000, 12};
    int rejected = 0;
    for (int round = 0; round < 900; ++round) {
        Bytes bytes = original;
        const auto& range = hotRanges[round % 3];
        const size_t at = range[0] + 4 * (random() % ((range[1] - range[0]) / 4));
        Store(&bytes, at, nasty[random() % 8]);
        if (round % 2 == 0) {
            dxbc::Sign(&bytes);
        }
        dxbc::Shader shader;
        std::string error;
        if (!dxbc::ReadShader(bytes.data(), bytes.size(), &shader, &error)) {
            ++rejected;
            ASSERT_FALSE(error.empty());
        }
    }
    EXPECT_GT(rejected, 450);
}

}  // namespace

}  // namespace pyrix
