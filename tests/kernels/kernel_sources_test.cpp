// The HLSL kernels and their CPU build are kept parallel by hand. These tests read both sources
// and compare what a slip would change: the named constants (by value, to the bit) and, function
// by function, the sequence of numeric literals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kernels/conversion_block.h"
#include "kernels/exact_math_tables.h"
#include "kernels/fire_field.h"
#include "kernels/fire_field_constants.h"
#include "kernels/float_bits.h"

namespace pyrix {

namespace {

std::string ReadSource(const std::string& name) {
    std::ifstream file(std::string(PYRIX_KERNELS_DIR) + "/" + name);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

std::string WithoutComments(const std::string& source) {
    std::string text;
    for (size_t at = 0; at < source.size(); ++at) {
        if (source.compare(at, 2, "//") == 0) {
            at = source.find('\n', at);
            if (at == std::string::npos) {
                break;
            }
        }
        text += source[at];
    }
    return text;
}

uint32_t LiteralBits(const std::string& literal) {
    return FloatBits(std::strtof(literal.c_str(), nullptr));
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

struct Constant {
    std::string type;
    std::string value;
};

// Named constants, one per line: "<prefix> float|int|uint kName = literal;" (C++ "constexpr",
// HLSL "static const"; C++'s uint32_t is HLSL's uint).
std::map<std::string, Constant> Constants(const std::string& source, const std::string& prefix) {
    std::map<std::string, Constant> constants;
    std::istringstream lines(WithoutComments(source));
    std::string line;
    while (std::getline(lines, line)) {
        const std::string trimmed = Trimmed(line);
        if (trimmed.compare(0, prefix.size() + 1, prefix + " ") != 0) {
            continue;
        }
        std::istringstream words(trimmed.substr(prefix.size()));
        std::string type;
        std::string name;
        std::string equals;
        std::string value;
        if (!(words >> type >> name >> equals >> value) || equals != "=" ||
            (type != "float" && type != "int" && type != "uint" && type != "uint32_t") ||
            name.size() < 2 || name[0] != 'k' || value.back() != ';') {
            continue;
        }
        value.pop_back();
        if (!value.empty() && value.back() == (type == "float" ? 'f' : 'u')) {
            value.pop_back();
        }
        type = type == "uint32_t" ? "uint" : type;
        constants[name] = Constant{type, value};
    }
    return constants;
}

// A float's bits, or an unsigned word as written (a float would round its low bits away).
uint32_t ConstantBits(const Constant& constant) {
    return constant.type == "uint"
               ? static_cast<uint32_t>(std::strtoul(constant.value.c_str(), nullptr, 0))
               : LiteralBits(constant.value);
}

size_t MatchingClose(const std::string& text, size_t open, char openChar, char closeChar) {
    int depth = 0;
    for (size_t at = open; at < text.size(); ++at) {
        depth += text[at] == openChar ? 1 : text[at] == closeChar ? -1 : 0;
        if (depth == 0) {
            return at;
        }
    }
    return std::string::npos;
}

// Name of the function whose parameter list ends just before the brace at `brace`, or "".
std::string FunctionNameBefore(const std::string& text, size_t brace) {
    size_t at = text.find_last_not_of(" \t\n", brace - 1);
    if (at == std::string::npos || text[at] != ')') {
        return "";
    }
    int depth = 0;
    for (; at != std::string::npos; --at) {
        depth += text[at] == ')' ? 1 : text[at] == '(' ? -1 : 0;
        if (depth == 0) {
            break;
        }
        if (at == 0) {
            return "";
        }
    }
    size_t end = text.find_last_not_of(" \t\n", at - 1);
    size_t begin = end;
    while (begin > 0 && IsWordChar(text[begin - 1])) {
        --begin;
    }
    const std::string name = text.substr(begin, end - begin + 1);
    return name == "if" || name == "for" || name == "while" || name == "switch" ? "" : name;
}

// The bodies of the functions, concatenated per name (overloads join).
std::map<std::string, std::string> FunctionBodies(const std::string& source) {
    std::map<std::string, std::string> bodies;
    const std::string text = WithoutComments(source);
    for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
        const std::string name = FunctionNameBefore(text, at);
        if (name.empty()) {
            continue;  // a namespace or a struct: look inside it
        }
        const size_t close = MatchingClose(text, at, '{', '}');
        if (close == std::string::npos) {
            break;
        }
        bodies[name] += text.substr(at, close - at + 1);
        at = close;
    }
    return bodies;
}

// Float literals written like 1.5f or 2.5e-3f, in order.
std::vector<std::string> Literals(const std::string& body) {
    std::vector<std::string> literals;
    for (size_t at = 0; at < body.size(); ++at) {
        if (!std::isdigit(static_cast<unsigned char>(body[at])) ||
            (at > 0 && (IsWordChar(body[at - 1]) || body[at - 1] == '.'))) {
            continue;
        }
        size_t end = at;
        while (end < body.size() &&
               (std::isdigit(static_cast<unsigned char>(body[end])) || body[end] == '.' ||
                body[end] == 'e' ||
                ((body[end] == '-' || body[end] == '+') && body[end - 1] == 'e'))) {
            ++end;
        }
        const std::string number = body.substr(at, end - at);
        if (end < body.size() && body[end] == 'f' && number.find('.') != std::string::npos) {
            literals.push_back(number + "f");
        }
        at = end;
    }
    return literals;
}

// `hlslOnly`: constants of the HLSL's own schedule, which the C++ does not have.
void ExpectSameConstants(const std::string& cppFile, const std::string& hlslFile,
                         const std::vector<std::string>& hlslOnly = {}) {
    const auto cpp = Constants(ReadSource(cppFile), "constexpr");
    const auto hlsl = Constants(ReadSource(hlslFile), "static const");
    ASSERT_FALSE(cpp.empty()) << cppFile;
    for (const auto& [name, constant] : cpp) {
        const auto other = hlsl.find(name);
        ASSERT_NE(other, hlsl.end()) << name << " of " << cppFile << " is missing in " << hlslFile;
        EXPECT_EQ(constant.type, other->second.type) << name;
        EXPECT_EQ(ConstantBits(constant), ConstantBits(other->second))
            << name << ": " << constant.value << " vs " << other->second.value;
    }
    for (const auto& entry : hlsl) {
        if (std::find(hlslOnly.begin(), hlslOnly.end(), entry.first) != hlslOnly.end()) continue;
        EXPECT_NE(cpp.find(entry.first), cpp.end())
            << entry.first << " of " << hlslFile << " is missing in " << cppFile;
    }
}

struct FunctionPair {
    const char* cpp;
    const char* hlsl;
    // Statements of the HLSL whose values the C++ takes from elsewhere; with `onlyTaken`, the
    // HLSL side is those statements alone.
    std::vector<const char*> taken = {};
    bool onlyTaken = false;
};

// The statement of `body` that begins with `start`, up to its semicolon; empty when there is none.
std::string Statement(const std::string& body, const std::string& start) {
    const size_t at = body.find(start);
    const size_t end = at == std::string::npos ? at : body.find(';', at);
    return end == std::string::npos ? "" : body.substr(at, end - at + 1);
}

// The bodies of "a+b+...", one function after the other.
std::string Bodies(const std::map<std::string, std::string>& bodies, const std::string& names,
                   const std::string& file) {
    std::string text;
    std::istringstream parts(names);
    for (std::string part; std::getline(parts, part, '+');) {
        const auto body = bodies.find(part);
        EXPECT_NE(body, bodies.end()) << part << " not found in " << file;
        text += body != bodies.end() ? body->second : "";
    }
    return text;
}

void ExpectSameLiterals(const std::string& cppFile, const std::string& hlslFile,
                        const std::vector<FunctionPair>& functions) {
    const auto cpp = FunctionBodies(ReadSource(cppFile));
    const auto hlsl = FunctionBodies(ReadSource(hlslFile));
    for (const FunctionPair& function : functions) {
        // "a+b": the function is split into a and b, in that order.
        const std::vector<std::string> cppLiterals = Literals(Bodies(cpp, function.cpp, cppFile));
        std::string hlslText = Bodies(hlsl, function.hlsl, hlslFile);
        std::string takenText;
        for (const char* statement : function.taken) {
            const std::string taken = Statement(hlslText, statement);
            ASSERT_FALSE(taken.empty()) << statement << " in " << function.hlsl;
            hlslText.erase(hlslText.find(taken), taken.size());
            takenText += taken;
        }
        const std::vector<std::string> hlslLiterals =
            Literals(function.onlyTaken ? takenText : hlslText);
        ASSERT_EQ(cppLiterals.size(), hlslLiterals.size()) << function.cpp;
        for (size_t i = 0; i < cppLiterals.size(); ++i) {
            EXPECT_EQ(LiteralBits(cppLiterals[i]), LiteralBits(hlslLiterals[i]))
                << function.cpp << " literal " << i << ": " << cppLiterals[i] << " vs "
                << hlslLiterals[i];
        }
    }
}

// The HLSL picks the octave's scale by comparisons (an array would not stay in registers).
constexpr const char* kOctaveScaleStatement = "const float scale =";

TEST(KernelSources, FireFieldConstantsAgree) {
    ExpectSameConstants("fire_field_constants.h", "fire_field.hlsli");
    const std::string nextOctave = FunctionBodies(ReadSource("fire_field.hlsli")).at("nextOctave");
    const std::vector<std::string> scales = Literals(Statement(nextOctave, kOctaveScaleStatement));
    ASSERT_EQ(scales.size(), std::size(kOctaveScale));
    for (size_t i = 0; i < scales.size(); ++i) {
        EXPECT_EQ(LiteralBits(scales[i]), FloatBits(kOctaveScale[i])) << "octave scale " << i;
    }
}

TEST(KernelSources, FireFieldLiteralsAgreeFunctionByFunction) {
    ExpectSameLiterals(
        "fire_field.cpp", "fire_field.hlsli",
        {{"fract", "fract"},
         {"pow4", "pow4"},
         {"MakeFireFieldParams", "MakeFireFieldParams"},
         {"gradientHash", "gradientHash"},
         {"cornerContribution", "cornerContribution"},
         {"simplexNoise", "simplexCorners+simplexNoise"},
         {"firstOctave+nextOctave+turbulence",
          "firstOctave+nextOctave+turbulence",
          {kOctaveScaleStatement}},
         {"shapeCoordinates+shapePoint+surelyDark", "shapeCoordinates+shapePoint+surelyDark"},
         {"baseIntensity", "baseIntensity"},
         {"softIntensity", "softIntensity"},
         {"heat", "heat"},
         {"fireColour", "fireColour"},
         {"fade", "fade"},
         {"fireShade", "fireShade"}});
}

// The exact operations: the same literals in the same order, function by function.
TEST(KernelSources, ExactMathLiteralsAgree) {
    ExpectSameConstants("exact_sin.cpp", "exact_sin.hlsli");
    ExpectSameConstants("exact_math.cpp", "exact_math.hlsli");
    ExpectSameLiterals("exact_sin.cpp", "exact_sin.hlsli",
                       {{"SinReduce", "SinReduce"},
                        {"SinFold", "SinFold"},
                        {"SinFraction", "SinFraction"},
                        {"SinProduct", "SinProduct"},
                        {"SinHornerStep", "SinHornerStep"},
                        {"SinPolynomial", "SinPolynomial"},
                        {"SinFast", "SinFast"},
                        {"SinSign", "SinSign"},
                        {"SinAngle", "SinAngle"},
                        {"SinSeries", "SinSeries"},
                        {"SinRound", "SinRound"},
                        {"SinInIntegers", "SinInIntegers"},
                        {"Sine", "Sine"}});
    ExpectSameLiterals("exact_math.cpp", "exact_math.hlsli",
                       {{"SignedFloor", "SignedFloor"},
                        {"Log2Midpoint", "Log2Midpoint"},
                        {"ExactExp2Rare", "ExactExp2Rare"},
                        {"ExactLog2Rare", "ExactLog2Rare"}});
    ExpectSameLiterals("exact_math_lanes.h", "exact_math.hlsli",
                       {{"Split", "Split"},
                        {"ProductError", "ProductError"},
                        {"Decided", "Decided"},
                        {"Exp2", "ExactExp2"},
                        {"Log2", "ExactLog2"},
                        {"Log2Special", "Log2Special"}});
    ExpectSameLiterals("exact_math_lanes.h", "exact_div_sqrt.hlsli",
                       {{"Reciprocal", "Reciprocal"},
                        {"Significand", "Significand"},
                        {"Remainder", "Remainder"},
                        {"Clamped", "Clamped"},
                        {"Nudge", "Nudge"},
                        {"IsZero", "IsZero"},
                        {"IsInfinite", "IsInfinite"},
                        {"IsNumber", "IsNumber"},
                        {"Magnitude", "Magnitude"},
                        {"DivSpecial", "DivSpecial"},
                        {"Div", "ExactDiv"},
                        {"Sqrt", "ExactSqrt"}});
}

// The kernels read the exact math's tables from the block the renderer uploads (b1): each entry
// where the HLSL looks for it, and worth what it stands for.
TEST(KernelSources, TablesBlockHoldsTheTablesWhereTheKernelsReadThem) {
    const TablesBlock block = MakeTablesBlock();
    for (int j = 0; j < 128; ++j) {
        const double exp2 = std::exp2(j / 128.0);
        EXPECT_EQ(block.exp2[j][0], static_cast<float>(exp2)) << j;
        EXPECT_NEAR(double{block.exp2[j][0]} + double{block.exp2[j][1]}, exp2, 0x1p-45) << j;
        const double log2 = -std::log2(double{block.log2[j][0]}) - (j >= 53 ? 1.0 : 0.0);
        EXPECT_NEAR(double{block.log2[j][1]} + double{block.log2[j][2]}, log2, 0x1p-45) << j;
        EXPECT_NEAR(double{block.log2[j][0]}, 1.0 / (1.0 + (j + 0.5) / 128.0), 0x1p-7) << j;
        EXPECT_EQ(block.exp2[j][2] + block.exp2[j][3] + block.log2[j][3], 0.0f) << j;
    }
    for (int i = 0; i + 1 < 10; ++i) {
        EXPECT_EQ(block.twoOverPi[i][1], block.twoOverPi[i + 1][0]) << i;
    }
    EXPECT_EQ(block.twoOverPi[9][1], 0u);
    EXPECT_NEAR(block.twoOverPi[2][0] * 0x1p-32 + block.twoOverPi[3][0] * 0x1p-64,
                0.6366197723675814, 0x1p-60);
    double factorial = 1.0;
    for (int i = 0; i < 20; ++i) {
        factorial *= i + 2;
        const double value = block.inverseFactorials[i][0] * 0x1p32 +
                             static_cast<double>(block.inverseFactorials[i][1]);
        EXPECT_NEAR(value, 0x1p64 / factorial, 0x1p64 / factorial * 0x1p-50 + 1.0) << i;
    }
}

TEST(KernelSources, AnchorConstantsAndLiteralsAgree) {
    ExpectSameConstants("cpu_kernels.cpp", "anchor_kernel.hlsl", {"kTreeLevels"});
    // The HLSL takes the serial search's steps in another schedule (cpu_kernels_test.cpp
    // checks a C++ copy of it): only the visibility test is written alike.
    ExpectSameLiterals("cpu_kernels.cpp", "anchor_kernel.hlsl", {{"IsVisible", "IsVisible"}});
}

TEST(KernelSources, FireKernelLiteralsAgree) {
    // ShareDomain computes the domain point of the group's columns and rows; the C++ has its
    // halves in domainX and domainY.
    ExpectSameLiterals("cpu_kernels.cpp", "fire_group.hlsli", {{"FireThread", "FireTexel"}});
    ExpectSameLiterals(
        "fire_field.cpp", "fire_group.hlsli",
        {{"domainX",
          "ShareDomain",
          {"precise const float columnPosition =", "precise const float u =",
           "precise const float qx ="},
          true},
         {"domainY",
          "ShareDomain",
          {"precise const float rowPosition =", "precise const float v =", "precise float qy ="},
          true}});
}

unsigned long DefinedNumber(const std::string& source, const std::string& name) {
    const std::string directive = "#define " + name + " ";
    const size_t at = source.find(directive);
    EXPECT_NE(at, std::string::npos) << name;
    return at == std::string::npos
               ? 0
               : std::strtoul(source.c_str() + at + directive.size(), nullptr, 10);
}

// The host's pixels: the C++ definition and the HLSL copy, constant for constant and literal for
// literal in each function.
TEST(KernelSources, PixelConversionAgrees) {
    ExpectSameConstants("pixel_conversion.h", "pixel_conversion.hlsli");
    const auto cpp = FunctionBodies(ReadSource("pixel_conversion.h"));
    const auto hlsl = FunctionBodies(ReadSource("pixel_conversion.hlsli"));
    for (const char* name :
         {"SanitizeFloat", "SanitizeUnit", "ConvertChannel8", "ConvertChannel16"}) {
        ASSERT_TRUE(cpp.count(name) != 0 && hlsl.count(name) != 0) << name;
        EXPECT_EQ(Literals(cpp.at(name)), Literals(hlsl.at(name))) << name;
    }
    EXPECT_EQ(Literals(cpp.at("SanitizeUnit")),
              (std::vector<std::string>{"0.0f", "0.0f", "1.0f", "1.0f"}));
    const std::string kernel = ReadSource("convert_kernel.hlsl");
    EXPECT_NE(kernel.find("#define CONVERT_GROUP_WIDTH " + std::to_string(kConvertGroupWidth)),
              std::string::npos);
}

TEST(KernelSources, ThreadGroupSizesAgree) {
    const std::string source = ReadSource("kernel_interface.hlsli");
    EXPECT_EQ(DefinedNumber(source, "FIRE_GROUP_WIDTH"), kFireGroupWidth);
    EXPECT_EQ(DefinedNumber(source, "FIRE_GROUP_HEIGHT"), kFireGroupHeight);
    EXPECT_EQ(DefinedNumber(source, "ANCHOR_GROUP_THREADS"), kAnchorGroupThreads);
}

TEST(KernelSources, LiteralExtractionSeesTheHashRows) {
    // Guards the parsing above: a parser that found nothing would make the tests vacuous.
    const auto bodies = FunctionBodies(ReadSource("fire_field.hlsli"));
    ASSERT_NE(bodies.find("firstOctave"), bodies.end());
    ASSERT_NE(bodies.find("nextOctave"), bodies.end());
    const std::vector<std::string> literals =
        Literals(bodies.at("firstOctave") + bodies.at("nextOctave"));
    EXPECT_EQ(Literals(bodies.at("turbulence")).size(), 2u);
    ASSERT_EQ(literals.size(), 9u);
    EXPECT_EQ(literals[0], "3.0f");
    EXPECT_EQ(literals[1], "1.01f");
    const auto constants = Constants(ReadSource("fire_field.hlsli"), "static const");
    EXPECT_EQ(constants.size(), 12u);
    EXPECT_EQ(LiteralBits(constants.at("kHashScale").value), FloatBits(kHashScale));
    EXPECT_EQ(Literals("x0x = 2.5e-3f * a1 + 7.0f - 3;"),
              (std::vector<std::string>{"2.5e-3f", "7.0f"}));
}

}  // namespace

}  // namespace pyrix
