// The host as a program: it owns the records it hands a plug-in for every command, serves the
// callbacks and suites through which the plug-in reaches back, computes the frame a render asks
// for, and keeps the books on what the plug-in borrowed. Tests drive the plug-in's entry points
// themselves with in_data() and change any callback's answer; pyrix lets the simulator send the
// commands and render frames, several at once.
//
// Only one Simulator may exist at a time: the basic suite's functions and the handle callbacks
// carry no effect_ref, so they reach the live host through a process-wide pointer. Everything a
// render can reach (callbacks, suites, the books) may be used from several threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host_api/effect_api.h"

namespace host_sim {

class AppSuite;
class GpuFrameHost;
class Simulator;

// What the host serves beyond the records.
enum class Profile {
    // The callbacks and suites the effect may use, nothing more: any other slot stops the
    // program with the slot's name. Keeps a log of every call.
    kStrict,
    // Also what plug-ins built the common way use (C library, handles, memory blocks, layer
    // pixels, progress, the application suite), as a host in its own right. A slot it does not
    // serve is noted and answers PF_Err_INVALID_CALLBACK; no call log.
    kFull,
};

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

// Time runs in hundredths of a frame so that fractional rates such as 29.97 stay exact.
constexpr A_long kTicksPerFrame = 100;
// What the basic suite answers for a suite the host does not offer ('S!Fd').
constexpr SPErr kSuiteNotFound = 0x53214664;

// PF_ParamDef values for the parameter store.
PF_ParamDef FloatParam(double value);
PF_ParamDef PointParam(PF_Fixed x, PF_Fixed y);

// The frame at the current resolution, as the host works it out: each side of the layer times
// the downsample factor, rounded up, in integers.
PF_LRect FrameRect(A_long layerWidth, A_long layerHeight, PF_RationalScale x, PF_RationalScale y);
PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b);
bool IsEmpty(const PF_LRect& r);

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

// What the plug-in's registration call told the host.
struct Registration {
    int calls = 0;
    std::string name, matchName, category, entryPoint, supportUrl;
    A_long kind = 0;
    A_long apiMajor = 0;
    A_long apiMinor = 0;
    A_long reservedInfo = 0;
};

// The outcome of one call into the plug-in.
struct CommandResult {
    PF_Cmd command = 0;
    PF_Err error = PF_Err_NONE;
    std::string message;         // the plug-in's own text, when it wrote one
    PF_OutFlags2 outFlags2 = 0;  // as the plug-in left them

    bool ok() const { return error == PF_Err_NONE; }
    // The plug-in's message as written, or the command and its code.
    std::string Describe() const;
};

const char* CommandName(PF_Cmd command);

// One frame as the host asks for it.
struct FrameRequest {
    A_long layerWidth = 0;  // full-resolution pixels
    A_long layerHeight = 0;
    A_long downsample = 1;  // the host renders at 1/downsample of full resolution
    A_long currentTime = 0;
    A_long timeStep = kTicksPerFrame;
    A_u_long timeScale = 24 * kTicksPerFrame;
    int32_t depth = 8;  // 8, 16 or 32
    bool legacy = false;
    std::optional<PF_LRect> rect;     // in pixels of the current resolution; unset: whole frame
    std::vector<PF_ParamDef> params;  // this frame's values, [0] the input layer
    const std::atomic<bool>* cancel = nullptr;  // what the abort callback answers

    PF_LRect FullFrame() const;
    PF_LRect Request() const;  // the rect, or the whole frame
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The output buffer the host allocated for a frame; empty when the effect announced nothing.
struct OutputWorld {
    PF_EffectWorld world{};
    std::unique_ptr<uint8_t, FreeDeleter> pixels;
};

// The records of one command; the plug-in's effect_ref points at it.
struct Command {
    explicit Command(Simulator& simulator);
    ~Command();
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    Simulator& simulator;
    PF_InData in{};
    PF_PreRenderCallbacks pre{};
    PF_SmartRenderCallbacks smart{};
    // What the callbacks answer; set before the plug-in runs.
    A_long refWidth = 0;  // the input layer's size at full resolution
    A_long refHeight = 0;
    PF_EffectWorld* output = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    const std::vector<PF_ParamDef>* values = nullptr;  // null: the simulator's parameter store
    bool acceptsParams = true;
};

class Simulator {
  public:
    // A host that accepts everything: every callback present and returning 0, the "PF Effect
    // UI Suite" version 1 provided, a 1920x1080 layer at full resolution, time 0.
    explicit Simulator(Profile profile = Profile::kStrict);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The records tests hand to the plug-in themselves.
    PF_InData* in_data() { return &records_.in; }
    PF_OutData* out_data() { return &out_data_; }
    PF_ProgPtr effect_ref() const { return records_.in.effect_ref; }
    PF_PreRenderCallbacks* pre_render_callbacks() { return &records_.pre; }
    PF_SmartRenderCallbacks* smart_render_callbacks() { return &records_.smart; }

    // ---- Callback behaviour ---------------------------------------------------------------
    void SetResult(Callback callback, PF_Err result) {
        Locked([&] { results_[callback] = result; });
    }
    // Takes the callback out of the host's records (a null pointer), or puts it back. These
    // two edit in_data itself: call them before the plug-in runs, not while it does.
    void SetMissing(Callback callback, bool missing = true);
    void SetBasicSuiteMissing(bool missing = true);
    // Decides add_param's result per definition (overrides SetResult for add_param).
    void SetAddParamResult(std::function<PF_Err(const PF_ParamDef&)> decide) {
        Locked([&] { add_param_result_ = std::move(decide); });
    }

    // ---- Parameter store ---------------------------------------------------------------------
    // The value of parameter `index` at `time` outside of frames this host renders itself.
    // Without a source, SetParam's values are used and unknown indices give a zeroed definition.
    void SetParamSource(std::function<PF_ParamDef(PF_ParamIndex index, A_long time)> source) {
        Locked([&] { param_source_ = std::move(source); });
    }
    void SetParam(PF_ParamIndex index, const PF_ParamDef& def) {
        Locked([&] { params_[index] = def; });
    }
    // checkout_param of this index fails with `code` (and leaves the definition untouched).
    void FailCheckoutOf(PF_ParamIndex index, PF_Err code) {
        Locked([&] { checkout_failures_[index] = code; });
    }

    // Called on the render's thread, possibly from several at once; must be thread-safe.
    void SetAbort(std::function<PF_Err()> abort) {
        Locked([&] { abort_ = std::move(abort); });
    }

    // ---- Suites -------------------------------------------------------------------------------
    // Makes AcquireSuite(name, version) hand out `table` (which may be null) with result 0.
    void ProvideSuite(const std::string& name, int32_t version, const void* table);
    void RemoveSuite(const std::string& name, int32_t version);
    // AcquireSuite(name, version) returns `code` and hands out nothing.
    void FailSuite(const std::string& name, int32_t version, SPErr code) {
        Locked([&] { suites_[{name, version}].failure = code; });
    }

    // ---- Other host data ----------------------------------------------------------------------
    void SetLayerSize(A_long ref_width, A_long ref_height) {
        Locked([&] { records_.refWidth = ref_width, records_.refHeight = ref_height; });
    }
    void SetOutputWorld(PF_EffectWorld* world) {
        Locked([&] { records_.output = world; });
    }
    void SetMainWindow(void* handle) {
        Locked([&] { main_window_ = handle; });
    }

    // ---- Driving the plug-in ------------------------------------------------------------------
    void SetEffect(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain);
    // The registration call, then global and parameter set-up, as the host does them once
    // before the first frame.
    CommandResult Register();
    CommandResult GlobalSetup() { return Send(PF_Cmd_GLOBAL_SETUP); }
    CommandResult ParamsSetup() { return Send(PF_Cmd_PARAMS_SETUP); }
    CommandResult GlobalSetdown() { return Send(PF_Cmd_GLOBAL_SETDOWN); }
    // Offers the effect device `device_index` of `what_gpu`; the effect's gpu_data comes back in
    // *gpu_data, and whether it accepted in the result's outFlags2.
    CommandResult GpuDeviceSetup(PF_GPU_Framework what_gpu, A_u_long device_index, void** gpu_data);
    CommandResult GpuDeviceSetdown(void* gpu_data, PF_GPU_Framework what_gpu,
                                   A_u_long device_index);
    // 32-bit smart frames that the effect says it can render on the GPU go to `frames`'
    // device (null: none, as natively); set before frames are rendered.
    void SetGpuFrameHost(GpuFrameHost* frames) { gpu_frames_ = frames; }
    // The About command; the text comes back in *text with line breaks.
    CommandResult About(std::string* text);
    // Pre-render and smart render, or the legacy render, of one frame. The output buffer comes
    // back in *out; a failed frame costs no pixels.
    CommandResult RenderFrame(const FrameRequest& request, OutputWorld* out);

    const Registration& registration() const { return registration_; }
    A_u_long version() const { return version_; }
    PF_OutFlags outFlags() const { return outFlags_; }
    PF_OutFlags2 outFlags2() const { return outFlags2_; }
    A_long declaredParamCount() const { return numParams_; }

    // ---- What happened ------------------------------------------------------------------------
    // Every callback in call order, e.g. "add_param(-1)", "checkout_param(4)",
    // "AcquireSuite(PF Effect UI Suite, 1)", "PF_SetOptionsButtonName(About...)".
    std::vector<std::string> Calls() const { return Get(books_.calls); }
    // Suites living next to this host log their calls here too.
    void Record(std::string call) {
        Locked([&] { RecordLocked(std::move(call)); });
    }
    void ClearRecords();

    std::vector<PF_ParamDef> AddedParams() const { return Get(books_.added_params); }
    // Successful ones only.
    std::vector<ParamCheckout> ParamCheckouts() const { return Get(books_.param_checkouts); }
    // Successful checkouts not (yet) checked in.
    int OutstandingCheckouts() const { return static_cast<int>(Get(books_.checked_out).size()); }
    // Checkins of a definition that was not checked out.
    int UnmatchedCheckins() const { return Get(books_.unmatched_checkins); }
    std::vector<PF_CustomUIInfo> RegisteredUi() const { return Get(books_.registered_ui); }
    std::vector<std::string> OptionsButtonNames() const { return Get(books_.button_names); }
    std::vector<LayerCheckout> LayerCheckouts() const { return Get(books_.layer_checkouts); }
    std::vector<PF_PlatDataID> PlatformDataRequests() const {
        return Get(books_.platform_requests);
    }

    int AcquireCount(const std::string& name, int32_t version) const;
    int ReleaseCount(const std::string& name, int32_t version) const;
    // "name/version: acquired A, released R" for each suite whose counts differ (a release
    // without acquisition counts too). Empty when every acquisition was released exactly once.
    std::vector<std::string> UnbalancedSuites() const;
    long OutstandingSuites() const;
    static long OutstandingHandles();  // allocated through the utility callbacks, not disposed
    // What the plug-in asked for that this host does not serve, with the answer it got, e.g.
    // "PF_UtilCallbacks.iterate (answered 515)" or "suite \"X\" version 1 (answered 'S!Fd')".
    std::vector<std::string> UnservedCalls() const { return Get(unserved_); }

  private:
    friend struct Command;
    struct SuiteEntry {
        bool provided = false;
        const void* table = nullptr;
        SPErr failure = 0;
        int acquired = 0;
        int released = 0;
    };
    using SuiteKey = std::pair<std::string, int32_t>;

    struct Callbacks;  // the functions in the host's tables
    static Simulator& Current();
    static void NoteUnservedSlot(const char* slot);
    void NoteUnserved(const std::string& what);
    template <typename F>
    void Locked(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        f();
    }
    template <typename T>
    T Get(const T& member) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return member;
    }
    void RecordLocked(std::string call);
    // Puts in the callbacks this host serves, except those a test took out (a command's own, or
    // the tables all commands share, written only while no command runs). Holding mutex_.
    template <typename F>
    F Slot(Callback callback, F function) const {
        return missing_.count(callback) != 0 ? nullptr : function;
    }
    void Serve(Command& command);
    void ServeShared();
    CommandResult Send(PF_Cmd cmd);  // a command without extra records
    CommandResult Call(PF_Cmd cmd, Command& command, PF_ParamDef** params, PF_LayerDef* output,
                       void* extra);
    CommandResult SmartRender(Command& command, const FrameRequest& request, OutputWorld* out);
    CommandResult SmartRenderGpu(Command& command, const PF_SmartRenderInput& input,
                                 const PF_LRect& announced, OutputWorld* out);
    CommandResult LegacyRender(Command& command, const FrameRequest& request, OutputWorld* out);

    const Profile profile_;
    mutable std::mutex mutex_;

    PF_UtilCallbacks utils_{};
    SPBasicSuite basic_suite_{};
    PF_EffectUISuite1 effect_ui_suite_{};
    std::unique_ptr<AppSuite> app_suite_;  // the full profile's
    std::set<const Command*> commands_;    // alive, to tell a foreign effect_ref

    std::map<Callback, PF_Err> results_;
    std::set<Callback> missing_;
    std::function<PF_Err(const PF_ParamDef&)> add_param_result_;
    std::function<PF_ParamDef(PF_ParamIndex, A_long)> param_source_;
    std::map<PF_ParamIndex, PF_ParamDef> params_;
    std::map<PF_ParamIndex, PF_Err> checkout_failures_;
    std::function<PF_Err()> abort_;
    std::map<SuiteKey, SuiteEntry> suites_;
    void* main_window_ = nullptr;
    GpuFrameHost* gpu_frames_ = nullptr;

    PF_PluginDataEntryFunc2 data_entry_ = nullptr;
    PF_EffectMainFunc effect_main_ = nullptr;
    Registration registration_;
    A_u_long version_ = 0;
    PF_OutFlags outFlags_ = 0;
    PF_OutFlags2 outFlags2_ = 0;
    A_long numParams_ = 0;
    PF_Handle globalData_ = nullptr;  // the plug-in's, between global set-up and set-down

    std::vector<std::string> unserved_;
    struct Books {
        std::vector<std::string> calls;  // the strict profile's only: the full one renders on
        std::vector<PF_ParamDef> added_params;
        std::vector<ParamCheckout> param_checkouts;
        std::multiset<const PF_ParamDef*> checked_out;
        int unmatched_checkins = 0;
        std::vector<PF_CustomUIInfo> registered_ui;
        std::vector<std::string> button_names;
        std::vector<LayerCheckout> layer_checkouts;
        std::vector<PF_PlatDataID> platform_requests;
    } books_;

    // Last: built from the tables above.
    Command records_;
    PF_OutData out_data_{};
};

}  // namespace host_sim
