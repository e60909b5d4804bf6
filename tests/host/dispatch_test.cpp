#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "host/command_guard.h"
#include "host/entry_points.h"
#include "standins/host_simulator/simulator.h"

namespace pyrix {

namespace {

using host_sim::Callback;
using host_sim::Simulator;

// ---- Registration ---------------------------------------------------------------------------

struct Registration {
    int calls = 0;
    PF_PluginDataPtr inPtr = nullptr;
    std::string name, matchName, category, entryPoint, supportUrl;
    A_long type = 0, major = 0, minor = 0, reserved = 0;
    PF_Err result = PF_Err_NONE;
};

std::string Text(const A_u_char* text) {
    return reinterpret_cast<const char*>(text);
}

PF_Err RecordRegistration(PF_PluginDataPtr inPtr, const A_u_char* name, const A_u_char* matchName,
                          const A_u_char* category, const A_u_char* entryPoint, A_long type,
                          A_long major, A_long minor, A_long reserved, const A_u_char* supportUrl) {
    Registration& r = *reinterpret_cast<Registration*>(inPtr);
    ++r.calls;
    r.inPtr = inPtr;
    r.name = Text(name);
    r.matchName = Text(matchName);
    r.category = Text(category);
    r.entryPoint = Text(entryPoint);
    r.type = type;
    r.major = major;
    r.minor = minor;
    r.reserved = reserved;
    r.supportUrl = Text(supportUrl);
    return r.result;
}

TEST(RegistrationTest, AnnouncesTheEffectOnceWithEveryArgument) {
    Registration r;
    PF_PluginDataPtr inPtr = reinterpret_cast<PF_PluginDataPtr>(&r);
    EXPECT_EQ(PluginDataEntryFunction2(inPtr, &RecordRegistration, nullptr, "host", "1.0"), 0);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.inPtr, inPtr);
    EXPECT_EQ(r.name, "vexo_Pyrix");
    EXPECT_EQ(r.matchName, "Tazu Pyrix GPU");
    EXPECT_EQ(r.category, "Vexolab");
    EXPECT_EQ(r.entryPoint, "EffectMain");
    EXPECT_EQ(r.type, 0x65464B54);
    EXPECT_EQ(r.major, 13);
    EXPECT_EQ(r.minor, 28);
    EXPECT_EQ(r.reserved, 8);
    EXPECT_EQ(r.supportUrl, "https://vexolab.example");
}

TEST(RegistrationTest, ReturnsTheCallbackResult) {
    Registration r;
    r.result = PF_Err_OUT_OF_MEMORY;
    EXPECT_EQ(PluginDataEntryFunction2(reinterpret_cast<PF_PluginDataPtr>(&r), &RecordRegistration,
                                       nullptr, nullptr, nullptr),
              PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(r.calls, 1);
}

TEST(RegistrationTest, NullCallbackIsRefusedNotCalled) {
    EXPECT_EQ(PluginDataEntryFunction2(nullptr, nullptr, nullptr, nullptr, nullptr),
              PF_Err_INVALID_CALLBACK);
}

// ---- Commands ---------------------------------------------------------------------------------

PF_OutData Patterned() {
    PF_OutData out;
    std::memset(&out, 0xA5, sizeof(out));
    return out;
}

TEST(GlobalSetupTest, WritesExactlyVersionAndBothFlagWords) {
    PF_OutData out = Patterned();
    PF_OutData expected = Patterned();
    expected.my_version = 0x00080601;
    expected.out_flags = 0x02008424;
    expected.out_flags2 = 0x2A001400;

    EXPECT_EQ(EffectMain(PF_Cmd_GLOBAL_SETUP, nullptr, &out, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::memcmp(&out, &expected, sizeof(out)), 0);
}

TEST(GlobalSetupTest, NullOutDataIsRefused) {
    EXPECT_EQ(EffectMain(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr, nullptr, nullptr, nullptr),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
}

class IgnoredSelectorTest : public ::testing::TestWithParam<PF_Cmd> {};

TEST_P(IgnoredSelectorTest, ReturnsZeroAndWritesNothing) {
    Simulator host;
    PF_InData in_before = *host.in_data();
    PF_OutData out = Patterned();
    const PF_OutData before = out;

    EXPECT_EQ(EffectMain(GetParam(), host.in_data(), &out, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof(out)), 0);
    EXPECT_EQ(std::memcmp(host.in_data(), &in_before, sizeof(in_before)), 0);
    EXPECT_TRUE(host.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Selectors, IgnoredSelectorTest,
                         ::testing::Values(PF_Cmd(2), PF_Cmd(5), PF_Cmd(12), PF_Cmd(25),
                                           PF_Cmd(1000), PF_Cmd(-1)));

// ---- Error mapping ----------------------------------------------------------------------------

struct MappingCase {
    const char* label;
    std::function<PF_Err()> handler;
    PF_Err expected;
    const char* message;  // null: no message may be written
};

std::ostream& operator<<(std::ostream& os, const MappingCase& c) {
    return os << c.label;
}

class CommandGuardTest : public ::testing::TestWithParam<MappingCase> {};

TEST_P(CommandGuardTest, MapsWhatTheHandlerRaises) {
    const MappingCase& c = GetParam();
    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    out.out_flags = PF_OutFlag_CUSTOM_UI | PF_OutFlag_I_DO_DIALOG;

    EXPECT_EQ(RunCommandGuarded(&out, c.handler), c.expected);
    if (c.message == nullptr) {
        EXPECT_EQ(out.return_msg[0], '\0');
        EXPECT_EQ(out.out_flags, PF_OutFlag_CUSTOM_UI | PF_OutFlag_I_DO_DIALOG);
    } else {
        EXPECT_STREQ(out.return_msg, c.message);
        EXPECT_EQ(out.out_flags,
                  PF_OutFlag_CUSTOM_UI | PF_OutFlag_I_DO_DIALOG | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    }
}

struct NotAnException {};

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandGuardTest,
    ::testing::Values(
        MappingCase{"result", [] { return PF_Err(1234); }, 1234, nullptr},
        MappingCase{"host error", []() -> PF_Err { throw HostError(PF_Err_INVALID_CALLBACK); }, 515,
                    nullptr},
        MappingCase{"unusual host error", []() -> PF_Err { throw HostError(-7); }, -7, nullptr},
        MappingCase{"host error 512",
                    []() -> PF_Err { throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED); }, 512,
                    nullptr},
        MappingCase{"host error with message",
                    []() -> PF_Err {
                        throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED,
                                        "Invalid point coordinate dimensions");
                    },
                    512, "Tazu Pyrix: Invalid point coordinate dimensions"},
        MappingCase{"host error 515 with message",
                    []() -> PF_Err { throw HostError(PF_Err_INVALID_CALLBACK, "x"); }, 515,
                    "Tazu Pyrix: x"},
        MappingCase{"bare code", []() -> PF_Err { throw PF_Err(PF_Err_INVALID_CALLBACK); }, 515,
                    nullptr},
        MappingCase{"enumeration value", []() -> PF_Err { throw PF_Err_BAD_CALLBACK_PARAM; }, 516,
                    nullptr},
        MappingCase{"out of memory", []() -> PF_Err { throw std::bad_alloc(); }, 4, nullptr},
        MappingCase{"array too long", []() -> PF_Err { throw std::bad_array_new_length(); }, 4,
                    nullptr},
        MappingCase{
            "runtime error",
            []() -> PF_Err { throw std::runtime_error("Invalid point coordinate dimensions"); },
            512, "Tazu Pyrix: Invalid point coordinate dimensions"},
        MappingCase{"not an exception", []() -> PF_Err { throw NotAnException(); }, 512, nullptr},
        // Success thrown is a handler's mistake, never a result.
        MappingCase{"thrown success code", []() -> PF_Err { throw PF_Err(PF_Err_NONE); }, 512,
                    nullptr},
        MappingCase{"thrown success value", []() -> PF_Err { throw PF_Err_NONE; }, 512, nullptr},
        MappingCase{"host error of success",
                    []() -> PF_Err { throw HostError(PF_Err_NONE, "no error"); }, 512,
                    "Tazu Pyrix: no error"},
        MappingCase{"raised int64", []() -> PF_Err { throw int64_t(515); }, 512, nullptr}),
    [](const ::testing::TestParamInfo<MappingCase>& param) {
        std::string name = param.param.label;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return name;
    });

TEST(CommandGuardMessageTest, LongMessageIsCutToTheBuffer) {
    PF_OutData out = Patterned();
    out.out_flags = PF_OutFlag_PIX_INDEPENDENT;
    std::string message;
    for (int i = 0; i < 300; ++i) message += static_cast<char>('a' + i % 26);

    EXPECT_EQ(RunCommandGuarded(&out, [&]() -> PF_Err { throw std::runtime_error(message); }), 512);
    const std::string expected = "Tazu Pyrix: " + message.substr(0, 243);
    ASSERT_EQ(expected.size(), 255u);
    EXPECT_EQ(std::memcmp(out.return_msg, expected.c_str(), 256), 0) << "with terminating zero";
    EXPECT_EQ(out.out_flags, PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

TEST(CommandGuardMessageTest, SystemErrorsCarryTheirMessage) {
    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    const std::system_error error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                  "lock");
    EXPECT_EQ(RunCommandGuarded(&out, [&]() -> PF_Err { throw error; }), 512);
    EXPECT_EQ(std::string(out.return_msg), std::string("Tazu Pyrix: ") + error.what());
    EXPECT_NE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
}

TEST(CommandGuardMessageTest, NullOutDataGetsNoMessage) {
    EXPECT_EQ(RunCommandGuarded(nullptr, []() -> PF_Err { throw std::runtime_error("x"); }), 512);
    EXPECT_EQ(RunCommandGuarded(nullptr,
                                []() -> PF_Err { throw HostError(PF_Err_INVALID_CALLBACK, "x"); }),
              515);
}

// The same mapping seen through EffectMain, with the failure raised deep inside a host call.
TEST(EffectMainErrorTest, FailuresInsideHandlersReachTheHost) {
    Simulator host;
    host.SetAddParamResult([](const PF_ParamDef&) -> PF_Err { throw std::bad_alloc(); });
    EXPECT_EQ(
        EffectMain(PF_Cmd_PARAMS_SETUP, host.in_data(), host.out_data(), nullptr, nullptr, nullptr),
        PF_Err_OUT_OF_MEMORY);

    host.SetAddParamResult([](const PF_ParamDef&) -> PF_Err { throw std::runtime_error("boom"); });
    EXPECT_EQ(
        EffectMain(PF_Cmd_PARAMS_SETUP, host.in_data(), host.out_data(), nullptr, nullptr, nullptr),
        512);
    EXPECT_STREQ(host.out_data()->return_msg, "Tazu Pyrix: boom");
    EXPECT_NE(host.out_data()->out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
}

TEST(EffectMainErrorTest, MissingUiSuiteRaisesInvalidCallbackWithoutMessage) {
    Simulator host;
    host.RemoveSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1);
    EXPECT_EQ(
        EffectMain(PF_Cmd_PARAMS_SETUP, host.in_data(), host.out_data(), nullptr, nullptr, nullptr),
        PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.out_data()->return_msg[0], '\0');
    EXPECT_EQ(host.out_data()->out_flags, 0);
}

}  // namespace

}  // namespace pyrix
