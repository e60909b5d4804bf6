#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>

#include "host/entry_points.h"

namespace pyrix {

namespace {

#ifndef PYRIX_HOST_SDK
// The host calls through its own prototypes; ours must be exactly those.
static_assert(std::is_same_v<decltype(&EffectMain), PF_EffectMainFunc>);
static_assert(std::is_same_v<decltype(&PluginDataEntryFunction2), PF_PluginDataEntryFunc2>);
#endif

#if !defined(_WIN32)
TEST(ExportsTest, LibraryExportsExactlyTheTwoEntryPoints) {
    const std::string command = std::string("nm -D --defined-only '") + PYRIX_PLUGIN_FILE + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    ASSERT_EQ(pclose(pipe), 0) << command << "\n" << output;

    // Lines read "<address> <type> <name>".
    std::set<std::string> names;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) {
            names.insert(name);
            EXPECT_EQ(type, "T") << name << " is not a function";
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"EffectMain", "PluginDataEntryFunction2"}));
}
#endif

}  // namespace

}  // namespace pyrix
