// A configurable stand-in for the host, for tests only. It owns a PF_InData/PF_OutData whose
// callbacks lead back to it, records what the plug-in called and in what order, and checks
// that what was checked out or acquired was given back.
//
// Only one FakeHost may exist at a time: the basic suite's functions carry no effect_ref, so
// they reach the live host through a process-wide pointer. Everything a render can reach
// (abort, parameter checkout, layer/output checkout, suites, the call log) may be used from
// several threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/api/effect_api.h"

namespace fake_host {

// The host callbacks whose behaviour a test can change.
enum class Callback {
    kAddParam,
    kCheckoutParam,
    kCheckinParam,
    kAbort,
    kRegisterUi,
    kGetPlatformData,
    kAcquireSuite,
    kReleaseSuite,
    kCheckoutLayer,
    kCheckoutOutput,
    kSetOptionsButtonName,
};

// PF_ParamDef values for the parameter store.
PF_ParamDef FloatParam(double value);
PF_ParamDef PointParam(PF_Fixed x, PF_Fixed y);

struct ParamCheckout {
    PF_ParamIndex index;
    A_long what_time;
    A_long time_step;
    A_u_long time_scale;
};

struct LayerCheckout {
    PF_ParamIndex index;
    A_long checkout_id;
    PF_RenderRequest request;
    A_long what_time;
    A_long time_step;
    A_u_long time_scale;
};

class FakeHost {
  public:
    // What AcquireSuite returns for a suite nobody provided.
    static constexpr SPErr kSuiteUnavailable = -1;

    // A host that accepts everything: every callback present and returning 0, the
    // "PF Effect UI Suite" version 1 provided, a 1920x1080 layer at full resolution, time 0.
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    PF_InData* in_data() { return &in_data_; }
    PF_OutData* out_data() { return &out_data_; }
    PF_ProgPtr effect_ref() const { return in_data_.effect_ref; }

    // ---- Callback behaviour ---------------------------------------------------------------
    void SetResult(Callback callback, PF_Err result);
    // Takes the callback out of the host's records (a null pointer), or puts it back. These
    // two edit in_data itself: call them before the plug-in runs, not while it does.
    void SetMissing(Callback callback, bool missing = true);
    void SetBasicSuiteMissing(bool missing = true);

    // Decides add_param's result per definition (overrides SetResult for add_param).
    void SetAddParamResult(std::function<PF_Err(const PF_ParamDef&)> decide);

    // ---- Parameter store ---------------------------------------------------------------------
    // The value of parameter `index` at `time`. Without a source, SetParam's values are used
    // and unknown indices give a zeroed definition.
    void SetParamSource(std::function<PF_ParamDef(PF_ParamIndex index, A_long time)> source);
    void SetParam(PF_ParamIndex index, const PF_ParamDef& def);
    // checkout_param of this index fails with `code` (and leaves the definition untouched).
    void FailCheckoutOf(PF_ParamIndex index, PF_Err code);

    // ---- Abort --------------------------------------------------------------------------------
    // Called on the render's thread, possibly from several at once; must be thread-safe.
    void SetAbort(std::function<PF_Err()> abort);

    // ---- Suites -------------------------------------------------------------------------------
    // Makes AcquireSuite(name, version) hand out `table` (which may be null) with result 0.
    void ProvideSuite(const std::string& name, int32_t version, const void* table);
    void RemoveSuite(const std::string& name, int32_t version);
    // AcquireSuite(name, version) returns `code` and hands out nothing.
    void FailSuite(const std::string& name, int32_t version, SPErr code);

    int AcquireCount(const std::string& name, int32_t version) const;
    int ReleaseCount(const std::string& name, int32_t version) const;
    // "name/version: acquired A, released R" for each suite whose counts differ (a release
    // without acquisition counts too). Empty when every acquisition was released exactly once.
    std::vector<std::string> UnbalancedSuites() const;

    // ---- Smart-render callbacks -----------------------------------------------------------
    void SetLayerSize(A_long ref_width, A_long ref_height);
    void SetOutputWorld(PF_EffectWorld* world);
    PF_PreRenderCallbacks* pre_render_callbacks() { return &pre_render_callbacks_; }
    PF_SmartRenderCallbacks* smart_render_callbacks() { return &smart_render_callbacks_; }

    // ---- Other host data ----------------------------------------------------------------------
    void SetMainWindow(void* handle);

    // ---- What happened ------------------------------------------------------------------------
    // Every callback in call order, e.g. "add_param(-1)", "checkout_param(4)",
    // "AcquireSuite(PF Effect UI Suite, 1)", "PF_SetOptionsButtonName(About...)".
    std::vector<std::string> Calls() const;
    // Fake suites living next to this host log their calls here too.
    void Record(std::string call);
    void ClearRecords();

    std::vector<PF_ParamDef> AddedParams() const;       // accepted definitions only
    std::vector<ParamCheckout> ParamCheckouts() const;  // successful ones only
    int OutstandingCheckouts() const;                   // successful checkouts not (yet) checked in
    int UnmatchedCheckins() const;  // checkins of a definition that was not checked out
    std::vector<PF_CustomUIInfo> RegisteredUi() const;
    std::vector<std::string> OptionsButtonNames() const;
    std::vector<LayerCheckout> LayerCheckouts() const;
    std::vector<PF_PlatDataID> PlatformDataRequests() const;
    int AbortCalls() const;

  private:
    struct SuiteEntry {
        bool provided = false;
        const void* table = nullptr;
        SPErr failure = 0;
        int acquired = 0;
        int released = 0;
    };
    using SuiteKey = std::pair<std::string, int32_t>;

    static FakeHost& From(PF_ProgPtr effect_ref);
    static FakeHost& Current();
    PF_Err ResultOf(Callback callback) const;
    void RecordLocked(std::string call);
    void ApplyMissing(Callback callback, bool missing);

    static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def);
    static PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time,
                                A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    static PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* param);
    static PF_Err Abort(PF_ProgPtr ref);
    static PF_Err RegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info);
    static PF_Err GetPlatformData(PF_ProgPtr ref, PF_PlatDataID which, void* data);
    static SPErr AcquireSuite(const char* name, int32_t version, const void** suite);
    static SPErr ReleaseSuite(const char* name, int32_t version);
    static PF_Err CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkout_id,
                                const PF_RenderRequest* request, A_long what_time, A_long time_step,
                                A_u_long time_scale, PF_CheckoutResult* result);
    static PF_Err CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output);
    static PF_Err SetOptionsButtonName(PF_ProgPtr ref, const A_char* name);

    mutable std::mutex mutex_;

    PF_InData in_data_{};
    PF_OutData out_data_{};
    PF_UtilCallbacks utils_{};
    SPBasicSuite basic_suite_{};
    PF_PreRenderCallbacks pre_render_callbacks_{};
    PF_SmartRenderCallbacks smart_render_callbacks_{};
    PF_EffectUISuite1 effect_ui_suite_{};

    std::map<Callback, PF_Err> results_;
    std::function<PF_Err(const PF_ParamDef&)> add_param_result_;
    std::function<PF_ParamDef(PF_ParamIndex, A_long)> param_source_;
    std::map<PF_ParamIndex, PF_ParamDef> params_;
    std::map<PF_ParamIndex, PF_Err> checkout_failures_;
    std::function<PF_Err()> abort_;
    std::map<SuiteKey, SuiteEntry> suites_;
    A_long ref_width_ = 1920;
    A_long ref_height_ = 1080;
    PF_EffectWorld* output_world_ = nullptr;
    void* main_window_ = nullptr;

    std::vector<std::string> calls_;
    std::vector<PF_ParamDef> added_params_;
    std::vector<ParamCheckout> param_checkouts_;
    std::multiset<const PF_ParamDef*> checked_out_;
    int unmatched_checkins_ = 0;
    std::vector<PF_CustomUIInfo> registered_ui_;
    std::vector<std::string> button_names_;
    std::vector<LayerCheckout> layer_checkouts_;
    std::vector<PF_PlatDataID> platform_requests_;
    int abort_calls_ = 0;
};

}  // namespace fake_host
