// The host simulator's callbacks: every function it puts in the host's tables and suites, and
// which of them each command and profile is served.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standins/host_simulator/host_tables.h"
#include "standins/host_simulator/simulator.h"
#include "standins/host_simulator/simulator_internal.h"

namespace host_sim {

// ---- Callbacks ----------------------------------------------------------------------------------

struct Simulator::Callbacks {
    // A callback's start: the command behind effect_ref, found with the host's lock held, the
    // call logged and the answer a test chose.
    struct Entered {
        Command& command;
        Simulator& host;
        std::unique_lock<std::mutex> lock;
        PF_Err result;
    };

    // The registration callback has no context of its own beyond the opaque pointer we pass.
    static PF_Err RegisterEffect(PF_PluginDataPtr ptr, const A_u_char* name,
                                 const A_u_char* matchName, const A_u_char* category,
                                 const A_u_char* entryPoint, A_long kind, A_long apiMajor,
                                 A_long apiMinor, A_long reserved, const A_u_char* supportUrl) {
        if (ptr == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        Registration& r = *reinterpret_cast<Registration*>(ptr);
        ++r.calls;
        r.name = Bounded(name, 256);
        r.matchName = Bounded(matchName, 256);
        r.category = Bounded(category, 256);
        r.entryPoint = Bounded(entryPoint, 256);
        r.supportUrl = Bounded(supportUrl, 1024);
        r.kind = kind;
        r.apiMajor = apiMajor;
        r.apiMinor = apiMinor;
        r.reservedInfo = reserved;
        return PF_Err_NONE;
    }

    static Entered Enter(PF_ProgPtr ref, const std::string& call, Callback callback) {
        Simulator& host = Current();
        std::unique_lock<std::mutex> lock(host.mutex_);
        // A plug-in passing something other than one of our effect_refs is a fault worth stopping
        // on; an exception would only meet the plug-in's own guard and become an error code.
        const auto* command = reinterpret_cast<const Command*>(ref);
        if (host.commands_.count(command) == 0) {
            std::fprintf(stderr, "%s: %s called with a foreign effect_ref\n", kHostName,
                         call.c_str());
            std::abort();
        }
        host.RecordLocked(call);
        const auto chosen = host.results_.find(callback);
        return {*const_cast<Command*>(command), host, std::move(lock),
                chosen == host.results_.end() ? PF_Err_NONE : chosen->second};
    }

    static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
        Entered e = Enter(ref, "add_param(" + std::to_string(index) + ")", Callback::kAddParam);
        std::vector<PF_ParamDef>& added = e.host.books_.added_params;
        if (!e.command.acceptsParams) return PF_Err_INVALID_CALLBACK;
        if (def == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        if (e.host.add_param_result_) e.result = e.host.add_param_result_(*def);
        if (e.result != PF_Err_NONE) return e.result;
        if (index != -1 && index != static_cast<PF_ParamIndex>(added.size()) + 1) {
            return PF_Err_INVALID_INDEX;
        }
        added.push_back(*def);
        return PF_Err_NONE;
    }

    static PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time,
                                A_long time_step, A_u_long time_scale, PF_ParamDef* param) {
        Entered e =
            Enter(ref, "checkout_param(" + std::to_string(index) + ")", Callback::kCheckoutParam);
        Simulator& host = e.host;
        if (param == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        auto failure = host.checkout_failures_.find(index);
        if (failure != host.checkout_failures_.end()) e.result = failure->second;
        if (e.result != PF_Err_NONE) return e.result;
        const std::vector<PF_ParamDef>* values = e.command.values;
        // A frame this host renders has its values for the parameters the effect declared.
        if (values != nullptr &&
            (index < 0 || index >= static_cast<PF_ParamIndex>(values->size()))) {
            return PF_Err_INVALID_INDEX;
        }
        // Outside a frame, a host in its own right knows the input layer and what was declared.
        if (values == nullptr && host.profile_ == Profile::kFull &&
            (index < 0 || index > static_cast<PF_ParamIndex>(host.books_.added_params.size()))) {
            return PF_Err_INVALID_INDEX;
        }
        PF_ParamDef value;
        std::memset(&value, 0, sizeof(value));
        const auto stored = host.params_.find(index);
        if (values != nullptr) {
            value = (*values)[static_cast<size_t>(index)];
        } else if (!host.param_source_ && stored != host.params_.end()) {
            value = stored->second;
        }
        if (host.profile_ == Profile::kStrict) {
            host.books_.param_checkouts.push_back({index, what_time, time_step, time_scale});
        }
        host.books_.checked_out.insert(param);
        const auto source = values == nullptr ? host.param_source_ : nullptr;
        e.lock.unlock();
        // The source is the test's code; call it without holding our lock.
        *param = source ? source(index, what_time) : value;
        return PF_Err_NONE;
    }

    static PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
        Entered e = Enter(ref, "checkin_param", Callback::kCheckinParam);
        auto& checked_out = e.host.books_.checked_out;
        auto it = checked_out.find(param);
        if (it == checked_out.end()) {
            ++e.host.books_.unmatched_checkins;
        } else {
            checked_out.erase(it);
        }
        return param == nullptr ? PF_Err_BAD_CALLBACK_PARAM : e.result;
    }

    static PF_Err Abort(PF_ProgPtr ref) {
        Entered e = Enter(ref, "abort", Callback::kAbort);
        const std::function<PF_Err()> abort = e.host.abort_;
        e.lock.unlock();
        if (e.command.cancel != nullptr && e.command.cancel->load()) return PF_Interrupt_CANCEL;
        return abort ? abort() : e.result;
    }

    static PF_Err Progress(PF_ProgPtr ref, A_long, A_long) { return Abort(ref); }

    static PF_Err RegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info) {
        Entered e = Enter(ref, "register_ui", Callback::kRegisterUi);
        if (info == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        e.host.books_.registered_ui.push_back(*info);
        return e.result;
    }

    static PF_Err GetPlatformData(PF_ProgPtr ref, PF_PlatDataID which, void* data) {
        Entered e = Enter(ref, "get_platform_data(" + std::to_string(which) + ")",
                          Callback::kGetPlatformData);
        e.host.books_.platform_requests.push_back(which);
        if (e.result != PF_Err_NONE) return e.result;
        if (data == nullptr || which != PF_PlatData_MAIN_WND) return PF_Err_BAD_CALLBACK_PARAM;
        std::memcpy(data, &e.host.main_window_, sizeof e.host.main_window_);
        return PF_Err_NONE;
    }

    static SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
        Simulator& host = Current();
        std::unique_lock<std::mutex> lock(host.mutex_);
        const std::string suite_name = name != nullptr ? name : "";
        host.RecordLocked("AcquireSuite(" + SuiteLabel(suite_name, version) + ")");
        if (suite == nullptr) return kSuiteNotFound;
        *suite = nullptr;
        const auto chosen = host.results_.find(Callback::kAcquireSuite);
        if (chosen != host.results_.end() && chosen->second != PF_Err_NONE) return chosen->second;
        SuiteEntry& entry = host.suites_[{suite_name, version}];
        if (entry.failure != 0) return entry.failure;
        if (!entry.provided) {
            lock.unlock();
            host.NoteUnserved("suite \"" + suite_name + "\" version " + std::to_string(version) +
                              " (answered 'S!Fd')");
            return kSuiteNotFound;
        }
        *suite = entry.table;
        // A null table is a host fault the plug-in must survive; nothing was handed out to give
        // back, so it does not count as an acquisition.
        if (entry.table != nullptr) ++entry.acquired;
        return 0;
    }

    static SPErr ReleaseSuite(const char* name, int32_t version) {
        Simulator& host = Current();
        std::lock_guard<std::mutex> lock(host.mutex_);
        const std::string suite_name = name != nullptr ? name : "";
        host.RecordLocked("ReleaseSuite(" + SuiteLabel(suite_name, version) + ")");
        SuiteEntry& entry = host.suites_[{suite_name, version}];
        ++entry.released;
        const auto chosen = host.results_.find(Callback::kReleaseSuite);
        if (chosen != host.results_.end()) return chosen->second;
        return entry.provided ? 0 : kSuiteNotFound;
    }

    static PF_Err CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkout_id,
                                const PF_RenderRequest* request, A_long what_time, A_long time_step,
                                A_u_long time_scale, PF_CheckoutResult* result) {
        Entered e = Enter(ref, "checkout_layer", Callback::kCheckoutLayer);
        if (e.host.profile_ == Profile::kStrict) {
            LayerCheckout record{index, checkout_id, {}, what_time, time_step, time_scale};
            if (request != nullptr) record.request = *request;
            e.host.books_.layer_checkouts.push_back(record);
        }
        if (e.result != PF_Err_NONE) return e.result;
        if (index != 0 || request == nullptr || result == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        // The input layer at the current resolution, and the part of it the request covers.
        const Command& command = e.command;
        *result = {};
        result->max_result_rect = FrameRect(command.refWidth, command.refHeight,
                                            command.in.downsample_x, command.in.downsample_y);
        result->result_rect = Intersect(request->rect, result->max_result_rect);
        if (IsEmpty(result->result_rect)) result->result_rect = {};
        result->par = {1, 1};
        result->ref_width = command.refWidth;
        result->ref_height = command.refHeight;
        return PF_Err_NONE;
    }

    static PF_Err CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
        Entered e = Enter(ref, "checkout_output", Callback::kCheckoutOutput);
        if (e.result != PF_Err_NONE) return e.result;
        if (output == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        *output = e.command.output;
        return PF_Err_NONE;
    }

    static PF_Err SetOptionsButtonName(PF_ProgPtr ref, const A_char* name) {
        const std::string text = Bounded(name, 32);
        Entered e =
            Enter(ref, "PF_SetOptionsButtonName(" + text + ")", Callback::kSetOptionsButtonName);
        if (e.result != PF_Err_NONE) return e.result;
        if (name == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        e.host.books_.button_names.push_back(text);
        return PF_Err_NONE;
    }
};

void Simulator::Serve(Command& command) {
    PF_InteractCallbacks& inter = command.in.inter;
    inter.add_param = Slot(Callback::kAddParam, &Callbacks::AddParam);
    inter.checkout_param = Slot(Callback::kCheckoutParam, &Callbacks::CheckoutParam);
    inter.checkin_param = Slot(Callback::kCheckinParam, &Callbacks::CheckinParam);
    inter.abort = Slot(Callback::kAbort, &Callbacks::Abort);
    inter.register_ui = Slot(Callback::kRegisterUi, &Callbacks::RegisterUi);
    command.pre.checkout_layer = Slot(Callback::kCheckoutLayer, &Callbacks::CheckoutLayer);
    command.smart.checkout_output = Slot(Callback::kCheckoutOutput, &Callbacks::CheckoutOutput);
    if (profile_ == Profile::kFull) {
        inter.progress = Callbacks::Progress;
        command.pre.GuidMixInPtr = GuidMixIn;
        command.smart.checkout_layer_pixels = CheckoutLayerPixels;
        command.smart.checkin_layer_pixels = [](PF_ProgPtr, A_long) -> PF_Err {
            return PF_Err_NONE;
        };
    }
}

void Simulator::ServeShared() {
    utils_.get_platform_data = Slot(Callback::kGetPlatformData, &Callbacks::GetPlatformData);
    basic_suite_.AcquireSuite = Slot(Callback::kAcquireSuite, &Callbacks::AcquireSuite);
    basic_suite_.ReleaseSuite = Slot(Callback::kReleaseSuite, &Callbacks::ReleaseSuite);
    effect_ui_suite_.PF_SetOptionsButtonName =
        Slot(Callback::kSetOptionsButtonName, &Callbacks::SetOptionsButtonName);
}

CommandResult Simulator::Register() {
    registration_ = {};
    return {-1,
            data_entry_(reinterpret_cast<PF_PluginDataPtr>(&registration_),
                        Callbacks::RegisterEffect, &basic_suite_, kHostName, "1.0"),
            {}};
}

}  // namespace host_sim
