#include "standins/fake_host/fake_host.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "tools/host_abi/host_tables.h"

namespace fake_host {
namespace {

std::atomic<FakeHost*> gCurrentHost{nullptr};

std::string SuiteLabel(const std::string& name, int32_t version) {
    return name + ", " + std::to_string(version);
}

}  // namespace

PF_ParamDef FloatParam(double value) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_FLOAT_SLIDER;
    def.u.fs_d.value = value;
    return def;
}

PF_ParamDef PointParam(PF_Fixed x, PF_Fixed y) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    def.param_type = PF_Param_POINT;
    def.u.td.x_value = x;
    def.u.td.y_value = y;
    return def;
}

FakeHost::FakeHost() {
    FakeHost* expected = nullptr;
    if (!gCurrentHost.compare_exchange_strong(expected, this)) {
        throw std::logic_error("only one FakeHost may exist at a time");
    }
    std::memset(&in_data_, 0, sizeof(in_data_));
    std::memset(&out_data_, 0, sizeof(out_data_));

    // Every slot filled; what the plug-in must never call stops the test with the slot's name.
    host_abi::FillUnserved(in_data_.inter);
    host_abi::FillUnserved(utils_);
    host_abi::FillUnserved(basic_suite_);
    host_abi::FillUnserved(pre_render_callbacks_);
    host_abi::FillUnserved(smart_render_callbacks_);
    host_abi::FillUnserved(effect_ui_suite_);

    host_abi::FillHostFields(in_data_);
    in_data_.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    in_data_.utils = &utils_;
    in_data_.pica_basicP = &basic_suite_;
    in_data_.current_time = 0;
    in_data_.time_step = 1;
    in_data_.local_time_step = 1;
    in_data_.time_scale = 30;
    in_data_.total_time = 300;
    in_data_.width = 1920;
    in_data_.height = 1080;
    in_data_.extent_hint = {0, 0, 1920, 1080};
    in_data_.downsample_x = {1, 1};
    in_data_.downsample_y = {1, 1};
    in_data_.num_params = 8;

    for (Callback callback :
         {Callback::kAddParam, Callback::kCheckoutParam, Callback::kCheckinParam, Callback::kAbort,
          Callback::kRegisterUi, Callback::kGetPlatformData, Callback::kAcquireSuite,
          Callback::kReleaseSuite, Callback::kCheckoutLayer, Callback::kCheckoutOutput,
          Callback::kSetOptionsButtonName}) {
        ApplyMissing(callback, false);
    }
    ProvideSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &effect_ui_suite_);
}

FakeHost::~FakeHost() {
    gCurrentHost.store(nullptr);
}

FakeHost& FakeHost::From(PF_ProgPtr effect_ref) {
    // A plug-in passing something other than our effect_ref is a fault worth stopping on.
    FakeHost* host = reinterpret_cast<FakeHost*>(effect_ref);
    if (host == nullptr || host != gCurrentHost.load()) {
        throw std::logic_error("callback called with a foreign effect_ref");
    }
    return *host;
}

FakeHost& FakeHost::Current() {
    FakeHost* host = gCurrentHost.load();
    if (host == nullptr) throw std::logic_error("no FakeHost alive");
    return *host;
}

void FakeHost::ApplyMissing(Callback callback, bool missing) {
    switch (callback) {
        case Callback::kAddParam:
            in_data_.inter.add_param = missing ? nullptr : &AddParam;
            break;
        case Callback::kCheckoutParam:
            in_data_.inter.checkout_param = missing ? nullptr : &CheckoutParam;
            break;
        case Callback::kCheckinParam:
            in_data_.inter.checkin_param = missing ? nullptr : &CheckinParam;
            break;
        case Callback::kAbort:
            in_data_.inter.abort = missing ? nullptr : &Abort;
            break;
        case Callback::kRegisterUi:
            in_data_.inter.register_ui = missing ? nullptr : &RegisterUi;
            break;
        case Callback::kGetPlatformData:
            utils_.get_platform_data = missing ? nullptr : &GetPlatformData;
            break;
        case Callback::kAcquireSuite:
            basic_suite_.AcquireSuite = missing ? nullptr : &AcquireSuite;
            break;
        case Callback::kReleaseSuite:
            basic_suite_.ReleaseSuite = missing ? nullptr : &ReleaseSuite;
            break;
        case Callback::kCheckoutLayer:
            pre_render_callbacks_.checkout_layer = missing ? nullptr : &CheckoutLayer;
            break;
        case Callback::kCheckoutOutput:
            smart_render_callbacks_.checkout_output = missing ? nullptr : &CheckoutOutput;
            break;
        case Callback::kSetOptionsButtonName:
            effect_ui_suite_.PF_SetOptionsButtonName = missing ? nullptr : &SetOptionsButtonName;
            break;
    }
}

void FakeHost::SetResult(Callback callback, PF_Err result) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[callback] = result;
}

void FakeHost::SetMissing(Callback callback, bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    ApplyMissing(callback, missing);
}

void FakeHost::SetBasicSuiteMissing(bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    in_data_.pica_basicP = missing ? nullptr : &basic_suite_;
}

void FakeHost::SetAddParamResult(std::function<PF_Err(const PF_ParamDef&)> decide) {
    std::lock_guard<std::mutex> lock(mutex_);
    add_param_result_ = std::move(decide);
}

void FakeHost::SetParamSource(std::function<PF_ParamDef(PF_ParamIndex, A_long)> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    param_source_ = std::move(source);
}

void FakeHost::SetParam(PF_ParamIndex index, const PF_ParamDef& def) {
    std::lock_guard<std::mutex> lock(mutex_);
    params_[index] = def;
}

void FakeHost::FailCheckoutOf(PF_ParamIndex index, PF_Err code) {
    std::lock_guard<std::mutex> lock(mutex_);
    checkout_failures_[index] = code;
}

void FakeHost::SetAbort(std::function<PF_Err()> abort) {
    std::lock_guard<std::mutex> lock(mutex_);
    abort_ = std::move(abort);
}

void FakeHost::ProvideSuite(const std::string& name, int32_t version, const void* table) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[{name, version}];
    entry.provided = true;
    entry.table = table;
    entry.failure = 0;
}

void FakeHost::RemoveSuite(const std::string& name, int32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[{name, version}];
    entry.provided = false;
    entry.table = nullptr;
}

void FakeHost::FailSuite(const std::string& name, int32_t version, SPErr code) {
    std::lock_guard<std::mutex> lock(mutex_);
    suites_[{name, version}].failure = code;
}

int FakeHost::AcquireCount(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? 0 : it->second.acquired;
}

int FakeHost::ReleaseCount(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? 0 : it->second.released;
}

std::vector<std::string> FakeHost::UnbalancedSuites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> unbalanced;
    for (const auto& [key, entry] : suites_) {
        if (entry.acquired != entry.released) {
            unbalanced.push_back(key.first + "/" + std::to_string(key.second) + ": acquired " +
                                 std::to_string(entry.acquired) + ", released " +
                                 std::to_string(entry.released));
        }
    }
    return unbalanced;
}

void FakeHost::SetLayerSize(A_long ref_width, A_long ref_height) {
    std::lock_guard<std::mutex> lock(mutex_);
    ref_width_ = ref_width;
    ref_height_ = ref_height;
}

void FakeHost::SetOutputWorld(PF_EffectWorld* world) {
    std::lock_guard<std::mutex> lock(mutex_);
    output_world_ = world;
}

void FakeHost::SetMainWindow(void* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    main_window_ = handle;
}

std::vector<std::string> FakeHost::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void FakeHost::Record(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    RecordLocked(std::move(call));
}

void FakeHost::RecordLocked(std::string call) {
    calls_.push_back(std::move(call));
}

void FakeHost::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    added_params_.clear();
    param_checkouts_.clear();
    checked_out_.clear();
    unmatched_checkins_ = 0;
    registered_ui_.clear();
    button_names_.clear();
    layer_checkouts_.clear();
    platform_requests_.clear();
    abort_calls_ = 0;
    for (auto& entry : suites_) {
        entry.second.acquired = 0;
        entry.second.released = 0;
    }
}

std::vector<PF_ParamDef> FakeHost::AddedParams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return added_params_;
}

std::vector<ParamCheckout> FakeHost::ParamCheckouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return param_checkouts_;
}

int FakeHost::OutstandingCheckouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(checked_out_.size());
}

int FakeHost::UnmatchedCheckins() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unmatched_checkins_;
}

std::vector<PF_CustomUIInfo> FakeHost::RegisteredUi() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registered_ui_;
}

std::vector<std::string> FakeHost::OptionsButtonNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return button_names_;
}

std::vector<LayerCheckout> FakeHost::LayerCheckouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return layer_checkouts_;
}

std::vector<PF_PlatDataID> FakeHost::PlatformDataRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return platform_requests_;
}

int FakeHost::AbortCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return abort_calls_;
}

PF_Err FakeHost::ResultOf(Callback callback) const {
    auto it = results_.find(callback);
    return it == results_.end() ? PF_Err_NONE : it->second;
}

// ---- Trampolines ------------------------------------------------------------------------------

PF_Err FakeHost::AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.RecordLocked("add_param(" + std::to_string(index) + ")");
    if (def == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    PF_Err result =
        host.add_param_result_ ? host.add_param_result_(*def) : host.ResultOf(Callback::kAddParam);
    if (result == PF_Err_NONE) host.added_params_.push_back(*def);
    return result;
}

PF_Err FakeHost::CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time,
                               A_long time_step, A_u_long time_scale, PF_ParamDef* param) {
    FakeHost& host = From(ref);
    std::function<PF_ParamDef(PF_ParamIndex, A_long)> source;
    PF_ParamDef value;
    std::memset(&value, 0, sizeof(value));
    {
        std::lock_guard<std::mutex> lock(host.mutex_);
        host.RecordLocked("checkout_param(" + std::to_string(index) + ")");
        if (param == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        PF_Err result = host.ResultOf(Callback::kCheckoutParam);
        auto failure = host.checkout_failures_.find(index);
        if (failure != host.checkout_failures_.end()) result = failure->second;
        if (result != PF_Err_NONE) return result;
        source = host.param_source_;
        if (!source) {
            auto it = host.params_.find(index);
            if (it != host.params_.end()) value = it->second;
        }
        host.param_checkouts_.push_back({index, what_time, time_step, time_scale});
        host.checked_out_.insert(param);
    }
    // The source is the test's code; call it without holding our lock.
    if (source) value = source(index, what_time);
    *param = value;
    return PF_Err_NONE;
}

PF_Err FakeHost::CheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.RecordLocked("checkin_param");
    auto it = host.checked_out_.find(param);
    if (it == host.checked_out_.end()) {
        ++host.unmatched_checkins_;
    } else {
        host.checked_out_.erase(it);
    }
    return host.ResultOf(Callback::kCheckinParam);
}

PF_Err FakeHost::Abort(PF_ProgPtr ref) {
    FakeHost& host = From(ref);
    std::function<PF_Err()> abort;
    PF_Err result;
    {
        std::lock_guard<std::mutex> lock(host.mutex_);
        host.RecordLocked("abort");
        ++host.abort_calls_;
        abort = host.abort_;
        result = host.ResultOf(Callback::kAbort);
    }
    return abort ? abort() : result;
}

PF_Err FakeHost::RegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.RecordLocked("register_ui");
    if (info == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    host.registered_ui_.push_back(*info);
    return host.ResultOf(Callback::kRegisterUi);
}

PF_Err FakeHost::GetPlatformData(PF_ProgPtr ref, PF_PlatDataID which, void* data) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.RecordLocked("get_platform_data(" + std::to_string(which) + ")");
    host.platform_requests_.push_back(which);
    PF_Err result = host.ResultOf(Callback::kGetPlatformData);
    if (result != PF_Err_NONE) return result;
    if (data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    if (which == PF_PlatData_MAIN_WND) *static_cast<void**>(data) = host.main_window_;
    return PF_Err_NONE;
}

SPErr FakeHost::AcquireSuite(const char* name, int32_t version, const void** suite) {
    FakeHost& host = Current();
    std::lock_guard<std::mutex> lock(host.mutex_);
    const std::string suite_name = name != nullptr ? name : "";
    host.RecordLocked("AcquireSuite(" + SuiteLabel(suite_name, version) + ")");
    if (suite == nullptr) return kSuiteUnavailable;
    *suite = nullptr;
    PF_Err result = host.ResultOf(Callback::kAcquireSuite);
    if (result != PF_Err_NONE) return result;
    SuiteEntry& entry = host.suites_[{suite_name, version}];
    if (entry.failure != 0) return entry.failure;
    if (!entry.provided) return kSuiteUnavailable;
    *suite = entry.table;
    // A null table is a host fault the plug-in must survive; nothing was handed out to give
    // back, so it does not count as an acquisition.
    if (entry.table != nullptr) ++entry.acquired;
    return 0;
}

SPErr FakeHost::ReleaseSuite(const char* name, int32_t version) {
    FakeHost& host = Current();
    std::lock_guard<std::mutex> lock(host.mutex_);
    const std::string suite_name = name != nullptr ? name : "";
    host.RecordLocked("ReleaseSuite(" + SuiteLabel(suite_name, version) + ")");
    ++host.suites_[{suite_name, version}].released;
    return host.ResultOf(Callback::kReleaseSuite);
}

PF_Err FakeHost::CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkout_id,
                               const PF_RenderRequest* request, A_long what_time, A_long time_step,
                               A_u_long time_scale, PF_CheckoutResult* result) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.RecordLocked("checkout_layer");
    LayerCheckout record{};
    record.index = index;
    record.checkout_id = checkout_id;
    if (request != nullptr) record.request = *request;
    record.what_time = what_time;
    record.time_step = time_step;
    record.time_scale = time_scale;
    host.layer_checkouts_.push_back(record);
    const PF_Err code = host.ResultOf(Callback::kCheckoutLayer);
    if (code != PF_Err_NONE) return code;
    if (request == nullptr || result == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    result->ref_width = host.ref_width_;
    result->ref_height = host.ref_height_;
    return PF_Err_NONE;
}

PF_Err FakeHost::CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    host.RecordLocked("checkout_output");
    const PF_Err code = host.ResultOf(Callback::kCheckoutOutput);
    if (code != PF_Err_NONE) return code;
    if (output == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *output = host.output_world_;
    return PF_Err_NONE;
}

PF_Err FakeHost::SetOptionsButtonName(PF_ProgPtr ref, const A_char* name) {
    FakeHost& host = From(ref);
    std::lock_guard<std::mutex> lock(host.mutex_);
    const std::string text = name != nullptr ? name : "";
    host.RecordLocked("PF_SetOptionsButtonName(" + text + ")");
    const PF_Err code = host.ResultOf(Callback::kSetOptionsButtonName);
    if (code == PF_Err_NONE) host.button_names_.push_back(text);
    return code;
}

}  // namespace fake_host
