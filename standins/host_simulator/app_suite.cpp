#include "standins/host_simulator/app_suite.h"

#include <stdexcept>
#include <string>

#include "standins/host_simulator/host_tables.h"

namespace host_sim {
namespace {

AppSuite* gCurrent = nullptr;

}  // namespace

AppSuite::AppSuite(Simulator& host) : host_(host) {
    if (gCurrent != nullptr) throw std::logic_error("only one AppSuite at a time");
    gCurrent = this;
    // Every other slot is unserved: PF_AppGetBgColor, first in the table, must never run in
    // place of PF_AppGetColor.
    host_abi::FillUnserved(suite_);
    suite_.PF_AppGetColor = &AppGetColor;
    suite_.PF_IsRenderEngine = &IsRenderEngine;
    host_.ProvideSuite(kPFAppSuite, kPFAppSuiteVersion1, &suite_);
}

AppSuite::~AppSuite() {
    host_.RemoveSuite(kPFAppSuite, kPFAppSuiteVersion1);
    gCurrent = nullptr;
}

void AppSuite::SetRenderEngine(bool render_engine, PF_Err result) {
    render_engine_ = render_engine;
    render_engine_result_ = result;
}

void AppSuite::SetColor(A_long color_type, PF_App_Color color) {
    colors_[color_type] = color;
}

void AppSuite::SetColorResult(A_long color_type, PF_Err result) {
    color_results_[color_type] = result;
}

AppSuite& AppSuite::Current() {
    if (gCurrent == nullptr) throw std::logic_error("application suite call without its suite");
    return *gCurrent;
}

PF_Err AppSuite::AppGetColor(PF_App_ColorType color_type, PF_App_Color* color) {
    AppSuite& self = Current();
    const A_long type = static_cast<A_long>(color_type);
    self.host_.Record("PF_AppGetColor(" + std::to_string(type) + ")");
    if (color == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    const auto known = self.colors_.find(type);
    const bool found = known != self.colors_.end() || self.default_color_;
    if (found) *color = known != self.colors_.end() ? known->second : *self.default_color_;
    const auto result = self.color_results_.find(type);
    if (result != self.color_results_.end()) return result->second;
    return found ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err AppSuite::IsRenderEngine(PF_Boolean* render_engine) {
    AppSuite& self = Current();
    self.host_.Record("PF_IsRenderEngine");
    if (render_engine == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    if (*render_engine) self.host_.Record("PF_IsRenderEngine(flag not cleared)");
    if (self.render_engine_result_ == PF_Err_NONE) *render_engine = self.render_engine_;
    return self.render_engine_result_;
}

}  // namespace host_sim
