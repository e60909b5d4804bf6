#include "host/parameters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/command_guard.h"
#include "host/entry_points.h"
#include "host_api/host_error.h"
#include "standins/host_simulator/simulator.h"

namespace pyrix {

namespace {

using host_sim::Callback;
using host_sim::FloatParam;
using host_sim::PointParam;
using host_sim::Simulator;

PF_ParamDef Zeroed() {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    return def;
}

void SetName(PF_ParamDef& def, const char* name) {
    std::strcpy(ParamName(def), name);
}

PF_ParamDef ExpectedSlider(A_long id, const char* name, double dflt, float validMin, float validMax,
                           float sliderMin, float sliderMax, A_short precision) {
    PF_ParamDef def = Zeroed();
    def.uu.id = id;
    def.param_type = 10;
    SetName(def, name);
    def.u.fs_d.value = dflt;
    def.u.fs_d.dephault = static_cast<float>(dflt);
    def.u.fs_d.valid_min = validMin;
    def.u.fs_d.valid_max = validMax;
    def.u.fs_d.slider_min = sliderMin;
    def.u.fs_d.slider_max = sliderMax;
    def.u.fs_d.precision = precision;
    uint32_t tolerance = 0x3D4CCCCD;  // 0.05f
    std::memcpy(&def.u.fs_d.curve_tolerance, &tolerance, sizeof(tolerance));
    return def;
}

// Every declaration, whole, as the host must receive it.
std::vector<PF_ParamDef> ExpectedDeclarations() {
    PF_ParamDef about = Zeroed();
    about.uu.id = 10;
    about.param_type = 9;
    about.ui_flags = 2;
    about.ui_width = 240;
    about.ui_height = 60;
    SetName(about, "About");

    PF_ParamDef position = Zeroed();
    position.uu.id = 7;
    position.param_type = 6;
    SetName(position, "Position");
    position.u.td.x_value = position.u.td.x_dephault = 0x00320000;
    position.u.td.y_value = position.u.td.y_dephault = 0x00460000;

    return {about,
            position,
            ExpectedSlider(8, "Emitter Size", 100.0, 0, 1000, 0, 400, 2),
            ExpectedSlider(1, "Detail", 1.0, 0, 5, 0, 5, 3),
            ExpectedSlider(9, "Softness", 0.0, 0, 100, 0, 100, 1),
            ExpectedSlider(2, "Speed", 1.0, -1000000, 1000000, -5, 5, 2),
            ExpectedSlider(3, "Offset", 0.0, -1000000, 1000000, -10, 10, 2)};
}

PF_Err RunParamsSetup(Simulator& host) {
    return EffectMain(PF_Cmd_PARAMS_SETUP, host.in_data(), host.out_data(), nullptr, nullptr,
                      nullptr);
}

// ---- Parameter set-up -------------------------------------------------------------------------

TEST(SetupParametersTest, DeclaresSevenParametersWithEveryField) {
    Simulator host;
    EXPECT_EQ(RunParamsSetup(host), 0);

    const std::vector<PF_ParamDef> added = host.AddedParams();
    const std::vector<PF_ParamDef> expected = ExpectedDeclarations();
    ASSERT_EQ(added.size(), expected.size());
    for (size_t i = 0; i < added.size(); ++i) {
        EXPECT_STREQ(ParamName(added[i]), ParamName(expected[i]));
        EXPECT_EQ(added[i].uu.id, expected[i].uu.id);
        EXPECT_EQ(std::memcmp(&added[i], &expected[i], sizeof(PF_ParamDef)), 0)
            << "declaration " << i + 1 << " (" << ParamName(expected[i]) << ") differs";
    }
    EXPECT_EQ(host.out_data()->num_params, 8);
    EXPECT_TRUE(host.UnbalancedSuites().empty());
}

TEST(SetupParametersTest, HostCallsComeInOrderAndAppend) {
    Simulator host;
    ASSERT_EQ(RunParamsSetup(host), 0);
    const std::vector<std::string> expected = {
        "add_param(-1)",
        "add_param(-1)",
        "add_param(-1)",
        "add_param(-1)",
        "add_param(-1)",
        "add_param(-1)",
        "add_param(-1)",
        "AcquireSuite(PF Effect UI Suite, 1)",
        "PF_SetOptionsButtonName(About...)",
        "register_ui",
        "ReleaseSuite(PF Effect UI Suite, 1)",
    };
    EXPECT_EQ(host.Calls(), expected);
    ASSERT_EQ(host.RegisteredUi().size(), 1u);
    PF_CustomUIInfo expectedInfo;
    std::memset(&expectedInfo, 0, sizeof(expectedInfo));
    expectedInfo.events = 4;
    EXPECT_EQ(std::memcmp(&host.RegisteredUi()[0], &expectedInfo, sizeof(expectedInfo)), 0);
}

TEST(SetupParametersTest, ReturnsTheResultOfRegisteringTheUi) {
    Simulator host;
    host.SetResult(Callback::kRegisterUi, 33);
    EXPECT_EQ(RunParamsSetup(host), 33);
    EXPECT_EQ(host.out_data()->num_params, 8);
}

TEST(SetupParametersTest, AddParamFailureStopsAtThatParameter) {
    Simulator host;
    host.SetAddParamResult([](const PF_ParamDef& def) -> PF_Err {
        return std::strcmp(ParamName(def), "Detail") == 0 ? 516 : 0;
    });
    host.out_data()->num_params = 77;
    EXPECT_EQ(RunParamsSetup(host), 516);

    std::vector<std::string> names;
    for (const PF_ParamDef& def : host.AddedParams()) names.push_back(ParamName(def));
    EXPECT_EQ(names, (std::vector<std::string>{"About", "Position", "Emitter Size"}));
    EXPECT_EQ(host.out_data()->num_params, 77) << "num_params must not be set";
    EXPECT_EQ(host.AcquireCount(kPFEffectUISuite, 1), 0) << "no UI set-up after a failure";
    EXPECT_TRUE(host.RegisteredUi().empty());
}

TEST(SetupParametersTest, MissingAddParamIsAnInvalidCallback) {
    Simulator host;
    host.SetMissing(Callback::kAddParam);
    EXPECT_EQ(RunParamsSetup(host), PF_Err_INVALID_CALLBACK);
    EXPECT_TRUE(host.Calls().empty());
}

TEST(SetupControlsUITest, MissingRegisterUiGives515AfterNamingTheButton) {
    Simulator host;
    host.SetMissing(Callback::kRegisterUi);
    EXPECT_EQ(RunParamsSetup(host), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.AddedParams().size(), 7u);
    EXPECT_EQ(host.out_data()->num_params, 8);
    EXPECT_EQ(host.OptionsButtonNames(), std::vector<std::string>{"About..."});
    EXPECT_TRUE(host.UnbalancedSuites().empty());
}

TEST(SetupControlsUITest, ButtonNameFailureIsReturnedWithoutRegistering) {
    Simulator host;
    host.SetResult(Callback::kSetOptionsButtonName, 21);
    EXPECT_EQ(SetupControlsUI(host.in_data()), 21);
    EXPECT_TRUE(host.RegisteredUi().empty());
    EXPECT_EQ(host.ReleaseCount(kPFEffectUISuite, 1), 1);
    EXPECT_TRUE(host.UnbalancedSuites().empty());
}

// Every way the UI suite can be unobtainable ends in 515 with nothing left acquired.
enum class SuiteFault {
    kNoBasicSuite,
    kNoAcquire,
    kNoRelease,
    kNotProvided,
    kAcquireFails,
    kNullTable,
    kWrongVersionOnly,
    kNullFunction
};

std::ostream& operator<<(std::ostream& os, SuiteFault fault) {
    const char* names[] = {"no basic suite",     "no AcquireSuite", "no ReleaseSuite",
                           "not provided",       "acquire fails",   "null table",
                           "other version only", "null function"};
    return os << names[static_cast<int>(fault)];
}

class MissingUiSuiteTest : public ::testing::TestWithParam<SuiteFault> {};

TEST_P(MissingUiSuiteTest, Raises515AndHoldsNothing) {
    Simulator host;
    PF_EffectUISuite1 emptyTable{};
    switch (GetParam()) {
        case SuiteFault::kNoBasicSuite:
            host.SetBasicSuiteMissing();
            break;
        case SuiteFault::kNoAcquire:
            host.SetMissing(Callback::kAcquireSuite);
            break;
        case SuiteFault::kNoRelease:
            host.SetMissing(Callback::kReleaseSuite);
            break;
        case SuiteFault::kNotProvided:
            host.RemoveSuite(kPFEffectUISuite, 1);
            break;
        case SuiteFault::kAcquireFails:
            host.FailSuite(kPFEffectUISuite, 1, 9);
            break;
        case SuiteFault::kNullTable:
            host.ProvideSuite(kPFEffectUISuite, 1, nullptr);
            break;
        case SuiteFault::kWrongVersionOnly:
            host.RemoveSuite(kPFEffectUISuite, 1);
            host.ProvideSuite(kPFEffectUISuite, 2, &emptyTable);
            break;
        case SuiteFault::kNullFunction:
            host.ProvideSuite(kPFEffectUISuite, 1, &emptyTable);
            break;
    }
    try {
        SetupControlsUI(host.in_data());
        ADD_FAILURE() << "expected PF_Err_INVALID_CALLBACK to be raised";
    } catch (const HostError& code) {
        EXPECT_EQ(code.code(), PF_Err_INVALID_CALLBACK);
    }
    EXPECT_TRUE(host.UnbalancedSuites().empty());
    EXPECT_TRUE(host.RegisteredUi().empty());
    EXPECT_TRUE(host.OptionsButtonNames().empty());

    // Through the dispatcher: the parameters stay added, the code is the result.
    host.ClearRecords();
    EXPECT_EQ(RunParamsSetup(host), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.AddedParams().size(), 7u);
    EXPECT_TRUE(host.UnbalancedSuites().empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, MissingUiSuiteTest,
                         ::testing::Values(SuiteFault::kNoBasicSuite, SuiteFault::kNoAcquire,
                                           SuiteFault::kNoRelease, SuiteFault::kNotProvided,
                                           SuiteFault::kAcquireFails, SuiteFault::kNullTable,
                                           SuiteFault::kWrongVersionOnly,
                                           SuiteFault::kNullFunction));

}  // namespace

}  // namespace pyrix
