// The About command and the dialog command on a machine without a window system: the decision
// steps up to the main window, then the About text in the host's message buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/entry_points.h"
#include "host_api/registration.h"
#include "host_api/suite_scope.h"
#include "standins/host_simulator/app_suite.h"
#include "standins/host_simulator/simulator.h"
#include "ui/about_dialog.h"
#include "ui/about_template.h"
#include "ui/about_text.h"

namespace pyrix {

namespace {

using host_sim::AppSuite;
using host_sim::Callback;
using host_sim::Simulator;

const std::string kAppSuite = "PF AE App Suite, 1";

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t cr = text.find('\r'); cr != std::string::npos; cr = text.find('\r', start)) {
        lines.push_back(text.substr(start, cr - start));
        start = cr + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

TEST(AboutText, IsExactlyTheSixLines) {
    EXPECT_STREQ(kAboutText,
                 "vexo_Pyrix\r"
                 "Version 1.0.0, made by an independent effects developer\r"
                 "vexolab.example\r"
                 "Based on a public fire shader by its original author\r"
                 "Shader port and noise function credited to their authors\r"
                 "Free to use, provided as is, without warranty");
    EXPECT_EQ(std::strlen(kAboutText), kAboutTextLength);
}

TEST(AboutText, FitsTheHostBufferInSingleByteCharacters) {
    const std::string text = kAboutText;
    EXPECT_LT(text.size(), 255u);
    for (char c : text) {
        EXPECT_TRUE(c == '\r' || (c >= 0x20 && c <= 0x7E)) << "character " << int(c);
    }
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.back(), '\r');
}

TEST(AboutText, LinesAreTheDialogsStaticTextsAndTheWebsite) {
    const std::vector<std::string> lines = SplitLines(kAboutText);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], registration::kEffectName);
    EXPECT_EQ("https://" + lines[2], registration::kSupportUrl);
    EXPECT_EQ(std::string(kWebsiteUrl), registration::kSupportUrl);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_FALSE(lines[i].empty()) << "line " << i + 1;
        EXPECT_EQ(lines[i], kAboutDialogTemplate.controls[i].text) << "static text " << i + 1;
    }
}

class ShowAboutTest : public ::testing::Test {
  protected:
    ShowAboutTest() {
        // Something the text must replace completely.
        std::memset(host.out_data()->return_msg, 'x', sizeof host.out_data()->return_msg);
        host.SetMainWindow(reinterpret_cast<void*>(0x1234));
        host.ClearRecords();
    }

    PF_Err Run(PF_Cmd cmd) {
        return EffectMain(cmd, host.in_data(), host.out_data(), nullptr, nullptr, nullptr);
    }

    std::string Message() const {
        const char* msg = host_const().return_msg;
        return std::string(msg, strnlen(msg, sizeof host_const().return_msg));
    }
    const PF_OutData& host_const() const { return *const_cast<Simulator&>(host).out_data(); }

    Simulator host;
};

TEST_F(ShowAboutTest, WithoutWindowSystemAsksForTheMainWindowThenWritesTheText) {
    AppSuite app(host);
    EXPECT_EQ(ShowAbout(host.in_data(), host.out_data()), PF_Err_NONE);
    EXPECT_EQ(Message(), kAboutText);
    EXPECT_EQ(host.Calls(), (std::vector<std::string>{"AcquireSuite(" + kAppSuite + ")",
                                                      "PF_IsRenderEngine", "get_platform_data(0)",
                                                      "ReleaseSuite(" + kAppSuite + ")"}));
    EXPECT_EQ(host.UnbalancedSuites(), std::vector<std::string>{});
}

TEST_F(ShowAboutTest, RenderEngineGetsTheTextWithoutLookingForAWindow) {
    AppSuite app(host);
    app.SetRenderEngine(true);
    EXPECT_EQ(ShowAbout(host.in_data(), host.out_data()), PF_Err_NONE);
    EXPECT_EQ(Message(), kAboutText);
    EXPECT_EQ(host.PlatformDataRequests(), std::vector<PF_PlatDataID>{});
    EXPECT_EQ(host.UnbalancedSuites(), std::vector<std::string>{});
}

TEST_F(ShowAboutTest, FailedRenderEngineQueryIsNoRenderEngine) {
    AppSuite app(host);
    app.SetRenderEngine(true, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ShowAbout(host.in_data(), host.out_data()), PF_Err_NONE);
    EXPECT_EQ(host.PlatformDataRequests(), std::vector<PF_PlatDataID>{PF_PlatData_MAIN_WND});
    EXPECT_EQ(Message(), kAboutText);
}

TEST_F(ShowAboutTest, MissingAppSuiteIsNotAnError) {
    EXPECT_EQ(ShowAbout(host.in_data(), host.out_data()), PF_Err_NONE);
    EXPECT_EQ(Message(), kAboutText);
    EXPECT_EQ(host.ReleaseCount("PF AE App Suite", 1), 0);
    EXPECT_EQ(host.PlatformDataRequests(), std::vector<PF_PlatDataID>{PF_PlatData_MAIN_WND});
}

TEST_F(ShowAboutTest, WithoutHostServicesStillWritesTheText) {
    host.SetBasicSuiteMissing();
    host.SetMissing(Callback::kGetPlatformData);
    EXPECT_EQ(ShowAbout(host.in_data(), host.out_data()), PF_Err_NONE);
    EXPECT_EQ(Message(), kAboutText);

    std::memset(host.out_data()->return_msg, 'x', sizeof host.out_data()->return_msg);
    host.in_data()->utils = nullptr;
    EXPECT_EQ(ShowAbout(host.in_data(), host.out_data()), PF_Err_NONE);
    EXPECT_EQ(Message(), kAboutText);

    std::memset(host.out_data()->return_msg, 'x', sizeof host.out_data()->return_msg);
    EXPECT_EQ(ShowAbout(nullptr, host.out_data()), PF_Err_NONE);
    EXPECT_EQ(Message(), kAboutText);
}

TEST_F(ShowAboutTest, NullOutDataWritesNothingAndSucceeds) {
    AppSuite app(host);
    EXPECT_EQ(ShowAbout(host.in_data(), nullptr), PF_Err_NONE);
    EXPECT_EQ(host.UnbalancedSuites(), std::vector<std::string>{});
}

TEST_F(ShowAboutTest, AboutAndDialogCommandsBehaveIdentically) {
    AppSuite app(host);
    for (bool render_engine : {false, true}) {
        app.SetRenderEngine(render_engine);
        std::vector<std::vector<std::string>> calls;
        std::vector<std::string> messages;
        for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_DO_DIALOG}) {
            std::memset(host.out_data()->return_msg, 'x', sizeof host.out_data()->return_msg);
            host.out_data()->out_flags = 0;
            host.ClearRecords();
            EXPECT_EQ(Run(cmd), PF_Err_NONE);
            EXPECT_EQ(host.out_data()->out_flags, 0) << "the text is no error message";
            calls.push_back(host.Calls());
            messages.push_back(Message());
        }
        EXPECT_EQ(calls[0], calls[1]);
        EXPECT_EQ(messages[0], kAboutText);
        EXPECT_EQ(messages[1], kAboutText);
    }
}

TEST(AboutColors, DefaultsWithoutSuite) {
    const AboutColors colors = ReadAboutColors(nullptr);
    EXPECT_EQ(colors.background, 0x00202020u);
    EXPECT_EQ(colors.text, 0x00C3C3C3u);
}

TEST(AboutColors, HostColoursConvertedPerTypeEachFallingBackAlone) {
    Simulator host;
    AppSuite app(host);
    app.SetColor(kHostColorBackground, PF_App_Color{0x1000, 0x2000, 0xFFFF});
    app.SetColor(kHostColorText, PF_App_Color{0xFFFF, 0x8080, 0});
    host.ClearRecords();
    SuiteScope<PFAppSuite6> suite(host.in_data()->pica_basicP, kPFAppSuite, kPFAppSuiteVersion1);
    ASSERT_TRUE(suite);
    AboutColors colors = ReadAboutColors(suite.get());
    // 0x1000 -> 16, 0x2000 -> 32, 0xFFFF -> 255; red in the low byte.
    EXPECT_EQ(colors.background, 0x00FF2010u);
    EXPECT_EQ(colors.text, 0x000080FFu);
    EXPECT_EQ(host.Calls(),
              (std::vector<std::string>{"AcquireSuite(" + kAppSuite + ")", "PF_AppGetColor(1000)",
                                        "PF_AppGetColor(2)"}));

    app.SetColorResult(kHostColorText, PF_Err_BAD_CALLBACK_PARAM);
    colors = ReadAboutColors(suite.get());
    EXPECT_EQ(colors.background, 0x00FF2010u);
    EXPECT_EQ(colors.text, kDefaultTextColor);

    // An empty slot counts as no suite.
    app.table().PF_AppGetColor = nullptr;
    colors = ReadAboutColors(suite.get());
    EXPECT_EQ(colors.background, kDefaultBackgroundColor);
    EXPECT_EQ(colors.text, kDefaultTextColor);
}

}  // namespace

}  // namespace pyrix
