// The HLSL kernels and their CPU build are kept parallel by hand. These tests read both sources
// and compare what a slip would change: the named constants (by value, to the bit) and, function
// by function, the sequence of numeric literals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kernels/fire_field.h"

namespace {

std::string ReadSource(const std::string& name) {
    std::ifstream file(std::string(PYRIX_KERNELS_DIR) + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

std::string WithoutComments(const std::string& source) {
    return std::regex_replace(source, std::regex("//[^\n]*"), "");
}

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

uint32_t LiteralBits(const std::string& literal) {
    return Bits(std::strtof(literal.c_str(), nullptr));
}

// Named constants: "constexpr float kName = literal;" in C++, "static const float kName =
// literal;" in HLSL (int constants too).
std::map<std::string, std::string> Constants(const std::string& source, const std::string& prefix) {
    std::map<std::string, std::string> constants;
    const std::regex declaration(prefix + R"(\s+(float|int)\s+(k\w+)\s*=\s*([-+0-9.eE]+)f?\s*;)");
    const std::string text = WithoutComments(source);
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
        constants[(*it)[2]] = (*it)[1].str() + " " + (*it)[3].str();
    }
    return constants;
}

// The bodies of the top-level functions, concatenated per name (overloads join).
std::map<std::string, std::string> FunctionBodies(const std::string& source) {
    std::map<std::string, std::string> bodies;
    const std::string text = WithoutComments(source);
    const std::regex header(R"(\b([A-Za-z_]\w*)\s*\(([^()]*)\)\s*\{)");
    auto it = text.cbegin();
    std::smatch match;
    while (std::regex_search(it, text.cend(), match, header)) {
        const std::string name = match[1];
        size_t at = static_cast<size_t>(match[0].second - text.cbegin());
        int depth = 1;
        const size_t start = at;
        while (at < text.size() && depth > 0) {
            depth += text[at] == '{' ? 1 : text[at] == '}' ? -1 : 0;
            ++at;
        }
        if (name != "if" && name != "for" && name != "while" && name != "switch") {
            bodies[name] += text.substr(start, at - start);
        }
        it = text.cbegin() + static_cast<std::ptrdiff_t>(at);
    }
    return bodies;
}

std::vector<std::string> Literals(const std::string& body) {
    std::vector<std::string> literals;
    const std::regex literal(R"([0-9]+\.[0-9]+(e[-+]?[0-9]+)?f)");
    for (std::sregex_iterator it(body.begin(), body.end(), literal), end; it != end; ++it) {
        literals.push_back(it->str());
    }
    return literals;
}

void ExpectSameConstants(const std::string& cppFile, const std::string& hlslFile) {
    const auto cpp = Constants(ReadSource(cppFile), "constexpr");
    const auto hlsl = Constants(ReadSource(hlslFile), "static const");
    ASSERT_FALSE(cpp.empty()) << cppFile;
    for (const auto& [name, value] : cpp) {
        const auto other = hlsl.find(name);
        ASSERT_NE(other, hlsl.end()) << name << " of " << cppFile << " is missing in " << hlslFile;
        const std::string cppType = value.substr(0, value.find(' '));
        const std::string hlslType = other->second.substr(0, other->second.find(' '));
        EXPECT_EQ(cppType, hlslType) << name;
        EXPECT_EQ(LiteralBits(value.substr(value.find(' ') + 1)),
                  LiteralBits(other->second.substr(other->second.find(' ') + 1)))
            << name << ": " << value << " vs " << other->second;
    }
    for (const auto& [name, value] : hlsl) {
        EXPECT_NE(cpp.find(name), cpp.end())
            << name << " of " << hlslFile << " is missing in " << cppFile;
    }
}

struct FunctionPair {
    const char* cpp;
    const char* hlsl;
};

void ExpectSameLiterals(const std::string& cppFile, const std::string& hlslFile,
                        const std::vector<FunctionPair>& functions) {
    const auto cpp = FunctionBodies(ReadSource(cppFile));
    const auto hlsl = FunctionBodies(ReadSource(hlslFile));
    for (const FunctionPair& function : functions) {
        const auto cppBody = cpp.find(function.cpp);
        const auto hlslBody = hlsl.find(function.hlsl);
        ASSERT_NE(cppBody, cpp.end()) << function.cpp << " not found in " << cppFile;
        ASSERT_NE(hlslBody, hlsl.end()) << function.hlsl << " not found in " << hlslFile;
        const std::vector<std::string> cppLiterals = Literals(cppBody->second);
        const std::vector<std::string> hlslLiterals = Literals(hlslBody->second);
        ASSERT_EQ(cppLiterals.size(), hlslLiterals.size()) << function.cpp;
        for (size_t i = 0; i < cppLiterals.size(); ++i) {
            EXPECT_EQ(LiteralBits(cppLiterals[i]), LiteralBits(hlslLiterals[i]))
                << function.cpp << " literal " << i << ": " << cppLiterals[i] << " vs "
                << hlslLiterals[i];
        }
    }
}

TEST(KernelSources, FireFieldConstantsAgree) {
    ExpectSameConstants("fire_field.h", "fire_field.hlsli");
}

TEST(KernelSources, FireFieldLiteralsAgreeFunctionByFunction) {
    ExpectSameLiterals("fire_field.cpp", "fire_field.hlsli",
                       {{"fract", "fract"},
                        {"pow4", "pow4"},
                        {"MakeFireFieldParams", "MakeFireFieldParams"},
                        {"gradientHash", "gradientHash"},
                        {"cornerContribution", "cornerContribution"},
                        {"simplexNoise", "simplexNoise"},
                        {"turbulence", "turbulence"},
                        {"shapeCoordinates", "shapeCoordinates"},
                        {"baseIntensity", "baseIntensity"},
                        {"softIntensity", "softIntensity"},
                        {"heat", "heat"},
                        {"fireColour", "fireColour"},
                        {"fade", "fade"},
                        {"fireSample", "fireSample"}});
}

TEST(KernelSources, AnchorConstantsAndLiteralsAgree) {
    ExpectSameConstants("cpu_kernels.cpp", "anchor_kernel.hlsl");
    ExpectSameLiterals("cpu_kernels.cpp", "anchor_kernel.hlsl",
                       {{"IsVisible", "IsVisible"}, {"RunAnchorKernel", "AnchorKernel"}});
}

TEST(KernelSources, FireKernelLiteralsAgree) {
    ExpectSameLiterals("cpu_kernels.cpp", "fire_kernel.hlsl", {{"FireThread", "FireKernel"}});
}

TEST(KernelSources, ThreadGroupSizesAgree) {
    const std::string source = ReadSource("kernel_interface.hlsli");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(source, match, std::regex(R"(#define FIRE_GROUP_WIDTH (\d+))")));
    EXPECT_EQ(std::stoul(match[1]), kFireGroupWidth);
    ASSERT_TRUE(std::regex_search(source, match, std::regex(R"(#define FIRE_GROUP_HEIGHT (\d+))")));
    EXPECT_EQ(std::stoul(match[1]), kFireGroupHeight);
}

TEST(KernelSources, LiteralExtractionSeesTheHashRows) {
    // Guards the parsing above: a regex that matched nothing would make the tests vacuous.
    const auto bodies = FunctionBodies(ReadSource("fire_field.hlsli"));
    ASSERT_NE(bodies.find("turbulence"), bodies.end());
    const std::vector<std::string> literals = Literals(bodies.at("turbulence"));
    ASSERT_EQ(literals.size(), 11u);
    EXPECT_EQ(literals[0], "3.0f");
    EXPECT_EQ(literals[1], "1.01f");
    const auto constants = Constants(ReadSource("fire_field.hlsli"), "static const");
    EXPECT_EQ(constants.size(), 10u);
    EXPECT_EQ(LiteralBits(constants.at("kHashScale").substr(6)), Bits(kHashScale));
}

}  // namespace
