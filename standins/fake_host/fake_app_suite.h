// The host's "PF AE App Suite" version 1 for tests, provided through a FakeHost: whether the
// host runs without a user interface, and its interface colours. Calls are logged in the host's
// call list, e.g. "PF_IsRenderEngine", "PF_AppGetColor(1000)".
#pragma once

#include <map>

#include "standins/fake_host/fake_host.h"

namespace fake_host {

class FakeAppSuite {
  public:
    // A host with a user interface that knows no colours (PF_AppGetColor fails).
    explicit FakeAppSuite(FakeHost& host);
    ~FakeAppSuite();
    FakeAppSuite(const FakeAppSuite&) = delete;
    FakeAppSuite& operator=(const FakeAppSuite&) = delete;

    void SetRenderEngine(bool render_engine, PF_Err result = PF_Err_NONE);
    void SetColor(A_long color_type, PF_App_Color color);
    // PF_AppGetColor of this type returns `result` (and fills the colour if one was set).
    void SetColorResult(A_long color_type, PF_Err result);
    // The table the host hands out, e.g. to empty a slot.
    PFAppSuite6& table() { return suite_; }

  private:
    static FakeAppSuite& Current();
    static PF_Err AppGetColor(PF_App_ColorType color_type, PF_App_Color* color);
    static PF_Err IsRenderEngine(PF_Boolean* render_engine);

    FakeHost& host_;
    PFAppSuite6 suite_{};
    bool render_engine_ = false;
    PF_Err render_engine_result_ = PF_Err_NONE;
    std::map<A_long, PF_App_Color> colors_;
    std::map<A_long, PF_Err> color_results_;
};

}  // namespace fake_host
