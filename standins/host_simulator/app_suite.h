// The host's "PF AE App Suite" version 1, provided through a Simulator: whether the host runs
// without a user interface, and its interface colours. Calls are logged in the host's call list,
// e.g. "PF_IsRenderEngine", "PF_AppGetColor(1000)". One at a time.
#pragma once

#include <map>
#include <optional>

#include "standins/host_simulator/simulator.h"

namespace host_sim {

class AppSuite {
  public:
    // A host with a user interface that knows no colours (PF_AppGetColor fails).
    explicit AppSuite(Simulator& host);
    ~AppSuite();
    AppSuite(const AppSuite&) = delete;
    AppSuite& operator=(const AppSuite&) = delete;

    void SetRenderEngine(bool render_engine, PF_Err result = PF_Err_NONE);
    void SetColor(A_long color_type, PF_App_Color color);
    // The colour of every type without one of its own.
    void SetDefaultColor(PF_App_Color color) { default_color_ = color; }
    // PF_AppGetColor of this type returns `result` (and fills the colour if one was set).
    void SetColorResult(A_long color_type, PF_Err result);
    // The table the host hands out, e.g. to empty a slot.
    PFAppSuite6& table() { return suite_; }

  private:
    static AppSuite& Current();
    static PF_Err AppGetColor(PF_App_ColorType color_type, PF_App_Color* color);
    static PF_Err IsRenderEngine(PF_Boolean* render_engine);

    Simulator& host_;
    PFAppSuite6 suite_{};
    bool render_engine_ = false;
    PF_Err render_engine_result_ = PF_Err_NONE;
    std::map<A_long, PF_App_Color> colors_;
    std::optional<PF_App_Color> default_color_;
    std::map<A_long, PF_Err> color_results_;
};

}  // namespace host_sim
