#include "ui/about_dialog.h"

#include <cstddef>
#include <cstdio>

#include "host_api/suite_scope.h"
#include "ui/about_text.h"
#include "ui/about_window.h"

namespace pyrix {

namespace {

// A host running without a user interface (a render engine) gets the text.
bool HostIsRenderEngine(const PFAppSuite6* app_suite) {
    if (app_suite == nullptr || app_suite->PF_IsRenderEngine == nullptr) return false;
    PF_Boolean render_engine = false;
    return app_suite->PF_IsRenderEngine(&render_engine) == PF_Err_NONE && render_engine;
}

// The host's main window, or null. Only the handle counts, not the callback's result.
void* HostMainWindow(PF_InData* in_data) {
    if (in_data == nullptr || in_data->utils == nullptr ||
        in_data->utils->get_platform_data == nullptr) {
        return nullptr;
    }
    void* window = nullptr;
    in_data->utils->get_platform_data(in_data->effect_ref, PF_PlatData_MAIN_WND, &window);
    return window;
}

ColorRef HostColor(const PFAppSuite6* app_suite, A_long type, ColorRef fallback) {
    if (app_suite == nullptr || app_suite->PF_AppGetColor == nullptr) return fallback;
    PF_App_Color color = {};
    if (app_suite->PF_AppGetColor(static_cast<PF_App_ColorType>(type), &color) != PF_Err_NONE) {
        return fallback;
    }
    return HostColorToColorRef(color.red, color.green, color.blue);
}

}  // namespace

void WriteAboutText(PF_OutData* out_data) {
    if (out_data == nullptr) return;
    std::snprintf(out_data->return_msg, sizeof out_data->return_msg, "%s", kAboutText);
}

AboutColors ReadAboutColors(const PFAppSuite6* app_suite) {
    return {HostColor(app_suite, kHostColorBackground, kDefaultBackgroundColor),
            HostColor(app_suite, kHostColorText, kDefaultTextColor)};
}

PF_Err ShowAbout(PF_InData* in_data, PF_OutData* out_data) noexcept {
    const SPBasicSuite* basic = in_data != nullptr ? in_data->pica_basicP : nullptr;
    // Optional: without it there is no render-engine test and the colours are the defaults.
    SuiteScope<PFAppSuite6> app_suite(basic, kPFAppSuite, kPFAppSuiteVersion1);
    if (HostIsRenderEngine(app_suite.get())) {
        WriteAboutText(out_data);
        return PF_Err_NONE;
    }
    void* main_window = HostMainWindow(in_data);
#ifdef _WIN32
    return ShowAboutDialog(app_suite.get(), main_window, out_data);
#else
    // No window system here: the host shows the text.
    static_cast<void>(main_window);
    WriteAboutText(out_data);
    return PF_Err_NONE;
#endif
}

}  // namespace pyrix
