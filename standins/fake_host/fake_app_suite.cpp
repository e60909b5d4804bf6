#include "standins/fake_host/fake_app_suite.h"

#include <stdexcept>
#include <string>

#include "tools/host_abi/host_tables.h"

namespace fake_host {
namespace {

FakeAppSuite* gCurrentAppSuite = nullptr;

}  // namespace

FakeAppSuite::FakeAppSuite(FakeHost& host) : host_(host) {
    if (gCurrentAppSuite != nullptr) throw std::logic_error("only one FakeAppSuite at a time");
    gCurrentAppSuite = this;
    // Every other slot stops the test: PF_AppGetBgColor, first in the table, must never run in
    // place of PF_AppGetColor.
    host_abi::FillUnserved(suite_);
    suite_.PF_AppGetColor = &AppGetColor;
    suite_.PF_IsRenderEngine = &IsRenderEngine;
    host_.ProvideSuite(kPFAppSuite, kPFAppSuiteVersion1, &suite_);
}

FakeAppSuite::~FakeAppSuite() {
    host_.RemoveSuite(kPFAppSuite, kPFAppSuiteVersion1);
    gCurrentAppSuite = nullptr;
}

void FakeAppSuite::SetRenderEngine(bool render_engine, PF_Err result) {
    render_engine_ = render_engine;
    render_engine_result_ = result;
}

void FakeAppSuite::SetColor(A_long color_type, PF_App_Color color) {
    colors_[color_type] = color;
}

void FakeAppSuite::SetColorResult(A_long color_type, PF_Err result) {
    color_results_[color_type] = result;
}

FakeAppSuite& FakeAppSuite::Current() {
    if (gCurrentAppSuite == nullptr) throw std::logic_error("App suite call without a fake");
    return *gCurrentAppSuite;
}

PF_Err FakeAppSuite::AppGetColor(PF_App_ColorType color_type, PF_App_Color* color) {
    FakeAppSuite& self = Current();
    const A_long type = static_cast<A_long>(color_type);
    self.host_.Record("PF_AppGetColor(" + std::to_string(type) + ")");
    if (color == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    const auto known = self.colors_.find(type);
    if (known != self.colors_.end()) *color = known->second;
    const auto result = self.color_results_.find(type);
    if (result != self.color_results_.end()) return result->second;
    return known != self.colors_.end() ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err FakeAppSuite::IsRenderEngine(PF_Boolean* render_engine) {
    FakeAppSuite& self = Current();
    self.host_.Record("PF_IsRenderEngine");
    if (render_engine == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    if (*render_engine) self.host_.Record("PF_IsRenderEngine(flag not cleared)");
    if (self.render_engine_result_ == PF_Err_NONE) *render_engine = self.render_engine_;
    return self.render_engine_result_;
}

}  // namespace fake_host
