#include "standins/host_simulator/simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "standins/host_simulator/app_suite.h"
#include "standins/host_simulator/host_tables.h"

namespace host_sim {
namespace {

std::atomic<Simulator*> gCurrent{nullptr};

// The name this host gives itself, to plug-ins and in its own messages.
constexpr const char* kHostName = "pyrix";
// Widest output this host allocates; beyond it the host's own limit has long been passed.
constexpr int64_t kMaxWorldDimension = 65536;

std::string Bounded(const char* text, size_t size) {
    return text == nullptr ? std::string() : std::string(text, strnlen(text, size));
}

std::string Bounded(const A_u_char* text, size_t size) {
    return Bounded(reinterpret_cast<const char*>(text), size);
}

std::string SuiteLabel(const std::string& name, int32_t version) {
    return name + ", " + std::to_string(version);
}

// One side of the frame: size * num / den rounded up, saturated to the record's range.
A_long ScaledSide(A_long size, const PF_RationalScale& scale) {
    if (scale.den == 0 || size <= 0) return 0;
    const int64_t scaled =
        (static_cast<int64_t>(size) * scale.num + static_cast<int64_t>(scale.den) - 1) / scale.den;
    return static_cast<A_long>(std::min<int64_t>(scaled, std::numeric_limits<A_long>::max()));
}

// ---- Services of the full profile ---------------------------------------------------------------

// Handles: a master pointer the plug-in dereferences, followed by the block's size.
struct HandleBlock {
    void* data;
    A_u_longlong size;
};
std::atomic<long> gHandlesOut{0};

HandleBlock* BlockOf(PF_Handle handle) {
    return reinterpret_cast<HandleBlock*>(handle);  // data is the block's first member
}

PF_Handle NewHandle(A_u_longlong size) {
    auto* block = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    if (block == nullptr) return nullptr;
    block->data = std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1);
    if (block->data == nullptr) {
        std::free(block);
        return nullptr;
    }
    block->size = size;
    ++gHandlesOut;
    return &block->data;
}

void DisposeHandle(PF_Handle handle) {
    if (handle == nullptr) return;
    std::free(BlockOf(handle)->data);
    std::free(BlockOf(handle));
    --gHandlesOut;
}

PF_Err ResizeHandle(A_u_longlong size, PF_Handle* handle) {
    if (handle == nullptr || *handle == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    HandleBlock* block = BlockOf(*handle);
    void* resized = std::realloc(block->data, size > 0 ? static_cast<size_t>(size) : 1);
    if (resized == nullptr) return PF_Err_OUT_OF_MEMORY;
    if (size > block->size) {
        std::memset(static_cast<char*>(resized) + block->size, 0,
                    static_cast<size_t>(size - block->size));
    }
    block->data = resized;
    block->size = size;
    return PF_Err_NONE;
}

int AnsiSprintf(A_char* buffer, const A_char* format, ...) {
    if (buffer == nullptr || format == nullptr) return -1;
    va_list args;
    va_start(args, format);
    const int written = std::vsprintf(buffer, format, args);
    va_end(args);
    return written;
}

// The host's C library functions and memory handles, as SDK-built plug-ins use them.
void ServeCLibrary(PF_UtilCallbacks& utils) {
    PF_ANSICallbacksBlock& ansi = utils.ansi;
    ansi.atan = [](A_FpLong x) { return std::atan(x); };
    ansi.atan2 = [](A_FpLong y, A_FpLong x) { return std::atan2(y, x); };
    ansi.ceil = [](A_FpLong x) { return std::ceil(x); };
    ansi.cos = [](A_FpLong x) { return std::cos(x); };
    ansi.exp = [](A_FpLong x) { return std::exp(x); };
    ansi.fabs = [](A_FpLong x) { return std::fabs(x); };
    ansi.floor = [](A_FpLong x) { return std::floor(x); };
    ansi.fmod = [](A_FpLong x, A_FpLong y) { return std::fmod(x, y); };
    ansi.hypot = [](A_FpLong x, A_FpLong y) { return std::hypot(x, y); };
    ansi.log = [](A_FpLong x) { return std::log(x); };
    ansi.log10 = [](A_FpLong x) { return std::log10(x); };
    ansi.pow = [](A_FpLong x, A_FpLong y) { return std::pow(x, y); };
    ansi.sin = [](A_FpLong x) { return std::sin(x); };
    ansi.sqrt = [](A_FpLong x) { return std::sqrt(x); };
    ansi.tan = [](A_FpLong x) { return std::tan(x); };
    ansi.sprintf = AnsiSprintf;
    ansi.strcpy = [](A_char* to, const A_char* from) {
        return to == nullptr || from == nullptr ? to : std::strcpy(to, from);
    };
    ansi.asin = [](A_FpLong x) { return std::asin(x); };
    ansi.acos = [](A_FpLong x) { return std::acos(x); };
    utils.host_new_handle = NewHandle;
    utils.host_lock_handle = [](PF_Handle handle) { return handle != nullptr ? *handle : nullptr; };
    utils.host_unlock_handle = [](PF_Handle) {};
    utils.host_dispose_handle = DisposeHandle;
    utils.host_get_handle_size = [](PF_Handle handle) {
        return handle != nullptr ? BlockOf(handle)->size : A_u_longlong{0};
    };
    utils.host_resize_handle = ResizeHandle;
}

void ServeMemoryBlocks(SPBasicSuite& basic) {
    basic.IsEqual = [](const char* a, const char* b) -> SPBoolean {
        return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
    };
    basic.AllocateBlock = [](size_t size, void** block) -> SPErr {
        if (block == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        *block = std::malloc(size > 0 ? size : 1);
        return *block != nullptr ? 0 : PF_Err_OUT_OF_MEMORY;
    };
    basic.FreeBlock = [](void* block) -> SPErr {
        std::free(block);
        return 0;
    };
    basic.ReallocateBlock = [](void* block, size_t size, void** resized) -> SPErr {
        if (resized == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
        *resized = std::realloc(block, size > 0 ? size : 1);
        return *resized != nullptr ? 0 : PF_Err_OUT_OF_MEMORY;
    };
}

// A plug-in may mix more data into the frame's cache key; this host keeps no cache.
PF_Err GuidMixIn(PF_ProgPtr, A_u_long size, const void* buffer) {
    return size > 0 && buffer == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
}

// The input layer has no footage in this host.
PF_Err CheckoutLayerPixels(PF_ProgPtr, A_long, PF_EffectWorld** pixels) {
    if (pixels != nullptr) *pixels = nullptr;
    return PF_Err_BAD_CALLBACK_PARAM;
}

// Allocates the output buffer for `rect` at `depth` bits; rows padded as hosts do.
bool AllocateWorld(const PF_LRect& rect, int32_t depth, OutputWorld* out) {
    const int64_t width = static_cast<int64_t>(rect.right) - rect.left;
    const int64_t height = static_cast<int64_t>(rect.bottom) - rect.top;
    if (width > kMaxWorldDimension || height > kMaxWorldDimension) return false;
    const int64_t pixelBytes = depth == 32 ? 16 : depth == 16 ? 8 : 4;
    const int64_t rowBytes = (width * pixelBytes + 63) / 64 * 64;
    // calloc leaves untouched pages unmapped, so a refused frame costs no memory.
    out->pixels.reset(
        static_cast<uint8_t*>(std::calloc(static_cast<size_t>(rowBytes * height), 1)));
    if (out->pixels == nullptr) return false;
    PF_EffectWorld& world = out->world;
    world = {};
    world.world_flags = depth == 16 ? PF_WorldFlag_DEEP : 0;
    world.data = reinterpret_cast<PF_PixelPtr>(out->pixels.get());
    world.rowbytes = static_cast<A_long>(rowBytes);
    world.width = static_cast<A_long>(width);
    world.height = static_cast<A_long>(height);
    world.extent_hint = {0, 0, world.width, world.height};
    world.origin_x = rect.left;
    world.origin_y = rect.top;
    world.pix_aspect_ratio = {1, 1};
    return true;
}

}  // namespace

// ---- Values and geometry ------------------------------------------------------------------------

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

PF_LRect FrameRect(A_long layerWidth, A_long layerHeight, PF_RationalScale x, PF_RationalScale y) {
    return {0, 0, ScaledSide(layerWidth, x), ScaledSide(layerHeight, y)};
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const PF_LRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

PF_LRect FrameRequest::FullFrame() const {
    const PF_RationalScale scale = {1, static_cast<A_u_long>(downsample)};
    return FrameRect(layerWidth, layerHeight, scale, scale);
}

PF_LRect FrameRequest::Request() const {
    return rect ? *rect : FullFrame();
}

const char* CommandName(PF_Cmd command) {
    static const std::pair<PF_Cmd, const char*> kNames[] = {
        {PF_Cmd_ABOUT, "PF_Cmd_ABOUT"},
        {PF_Cmd_GLOBAL_SETUP, "PF_Cmd_GLOBAL_SETUP"},
        {PF_Cmd_GLOBAL_SETDOWN, "PF_Cmd_GLOBAL_SETDOWN"},
        {PF_Cmd_PARAMS_SETUP, "PF_Cmd_PARAMS_SETUP"},
        {PF_Cmd_RENDER, "PF_Cmd_RENDER"},
        {PF_Cmd_SMART_PRE_RENDER, "PF_Cmd_SMART_PRE_RENDER"},
        {PF_Cmd_SMART_RENDER, "PF_Cmd_SMART_RENDER"},
        {-1, "PluginDataEntryFunction2"}};
    for (const auto& [cmd, name] : kNames) {
        if (cmd == command) return name;
    }
    return "command";
}

std::string CommandResult::Describe() const {
    if (!message.empty()) return message;
    return std::string(CommandName(command)) + " failed with error " + std::to_string(error);
}

// ---- Records ------------------------------------------------------------------------------------

Command::Command(Simulator& owner) : simulator(owner) {
    host_abi::FillUnserved(in.inter);
    host_abi::FillUnserved(pre);
    host_abi::FillUnserved(smart);
    host_abi::FillHostFields(in);
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    in.utils = &owner.utils_;
    in.pica_basicP = &owner.basic_suite_;
    in.downsample_x = {1, 1};
    in.downsample_y = {1, 1};
    in.time_step = kTicksPerFrame;
    in.local_time_step = kTicksPerFrame;
    in.time_scale = 24 * kTicksPerFrame;  // until a render brings its own frame rate
    std::lock_guard<std::mutex> lock(owner.mutex_);
    in.global_data = owner.globalData_;
    in.num_params = std::max<A_long>(owner.numParams_, 1);  // the input layer at least
    owner.commands_.insert(this);
    owner.Serve(*this);
}

Command::~Command() {
    std::lock_guard<std::mutex> lock(simulator.mutex_);
    simulator.commands_.erase(this);
}

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

// ---- The host -----------------------------------------------------------------------------------

Simulator::Simulator(Profile profile) : profile_(profile), records_(*this) {
    Simulator* expected = nullptr;
    if (!gCurrent.compare_exchange_strong(expected, this)) {
        throw std::logic_error("only one host simulator may exist at a time");
    }
    // Every slot filled; what is not served stops the program or is noted, by profile.
    host_abi::FillUnserved(utils_);
    host_abi::FillUnserved(basic_suite_);
    host_abi::FillUnserved(effect_ui_suite_);
    if (profile_ == Profile::kFull) {
        host_abi::gUnservedHandler = NoteUnservedSlot;
        ServeCLibrary(utils_);
        ServeMemoryBlocks(basic_suite_);
        // No user interface: it renders like a render engine, in neutral grey.
        app_suite_ = std::make_unique<AppSuite>(*this);
        app_suite_->SetRenderEngine(true);
        app_suite_->SetDefaultColor({0x2020, 0x2020, 0x2020});
    }
    ProvideSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &effect_ui_suite_);
    std::lock_guard<std::mutex> lock(mutex_);
    ServeShared();
    Serve(records_);

    // The records tests hand over: a 1920x1080 layer at full resolution, 30 frames a second.
    PF_InData& in = records_.in;
    in.time_step = 1;
    in.local_time_step = 1;
    in.time_scale = 30;
    in.total_time = 300;
    in.width = 1920;
    in.height = 1080;
    in.extent_hint = {0, 0, 1920, 1080};
    in.num_params = 8;
    records_.refWidth = 1920;
    records_.refHeight = 1080;
}

Simulator::~Simulator() {
    app_suite_.reset();
    if (profile_ == Profile::kFull) host_abi::gUnservedHandler = nullptr;
    gCurrent.store(nullptr);
}

Simulator& Simulator::Current() {
    Simulator* host = gCurrent.load();
    if (host == nullptr) throw std::logic_error("no host simulator alive");
    return *host;
}

void Simulator::NoteUnservedSlot(const char* slot) {
    if (Simulator* host = gCurrent.load()) {
        host->NoteUnserved(std::string(slot) + " (answered " +
                           std::to_string(PF_Err_INVALID_CALLBACK) + ")");
    }
}

void Simulator::NoteUnserved(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(unserved_.begin(), unserved_.end(), what) == unserved_.end()) {
        unserved_.push_back(what);
    }
}

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

void Simulator::SetMissing(Callback callback, bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (missing) {
        missing_.insert(callback);
    } else {
        missing_.erase(callback);
    }
    ServeShared();
    Serve(records_);
}

void Simulator::SetBasicSuiteMissing(bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.in.pica_basicP = missing ? nullptr : &basic_suite_;
}

void Simulator::ProvideSuite(const std::string& name, int32_t version, const void* table) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[{name, version}];
    entry.provided = true;
    entry.table = table;
    entry.failure = 0;
}

void Simulator::RemoveSuite(const std::string& name, int32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[{name, version}];
    entry.provided = false;
    entry.table = nullptr;
}

// ---- Sending commands ---------------------------------------------------------------------------

void Simulator::SetEffect(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain) {
    data_entry_ = dataEntry;
    effect_main_ = effectMain;
}

CommandResult Simulator::Register() {
    registration_ = {};
    return {-1,
            data_entry_(reinterpret_cast<PF_PluginDataPtr>(&registration_),
                        Callbacks::RegisterEffect, &basic_suite_, kHostName, "1.0"),
            {}};
}

CommandResult Simulator::Call(PF_Cmd cmd, Command& command, PF_ParamDef** params,
                              PF_LayerDef* output, void* extra) {
    PF_OutData out{};
    out.global_data = command.in.global_data;
    out.num_params = command.in.num_params;
    const PF_Err error = effect_main_(cmd, &command.in, &out, params, output, extra);
    CommandResult result{cmd, error, Bounded(out.return_msg, sizeof out.return_msg)};
    // The plug-in's global data comes back with every later command, until global set-down.
    std::lock_guard<std::mutex> lock(mutex_);
    if (cmd == PF_Cmd_GLOBAL_SETUP) globalData_ = out.global_data;
    if (cmd == PF_Cmd_GLOBAL_SETDOWN) globalData_ = nullptr;
    if (cmd == PF_Cmd_GLOBAL_SETUP && result.ok()) {
        version_ = out.my_version;
        outFlags_ = out.out_flags;
        outFlags2_ = out.out_flags2;
    }
    if (cmd == PF_Cmd_PARAMS_SETUP) numParams_ = out.num_params;
    return result;
}

CommandResult Simulator::Send(PF_Cmd cmd) {
    if (cmd == PF_Cmd_PARAMS_SETUP) {
        std::lock_guard<std::mutex> lock(mutex_);
        books_.added_params.clear();
        books_.button_names.clear();
        books_.registered_ui.clear();
    }
    Command command(*this);
    command.acceptsParams = cmd == PF_Cmd_PARAMS_SETUP;
    return Call(cmd, command, nullptr, nullptr, nullptr);
}

CommandResult Simulator::About(std::string* text) {
    CommandResult result = Send(PF_Cmd_ABOUT);
    if (text != nullptr) {
        *text = result.message;
        std::replace(text->begin(), text->end(), '\r', '\n');
    }
    return result;
}

CommandResult Simulator::RenderFrame(const FrameRequest& request, OutputWorld* out) {
    *out = OutputWorld();
    Command command(*this);
    command.acceptsParams = false;
    command.refWidth = request.layerWidth;
    command.refHeight = request.layerHeight;
    command.cancel = request.cancel;
    command.values = &request.params;
    PF_InData& in = command.in;
    in.current_time = request.currentTime;
    in.time_step = request.timeStep;
    in.local_time_step = request.timeStep;
    in.time_scale = request.timeScale;
    in.total_time = request.currentTime + request.timeStep;
    in.width = request.layerWidth;
    in.height = request.layerHeight;
    in.downsample_x = {1, static_cast<A_u_long>(request.downsample)};
    in.downsample_y = in.downsample_x;
    const PF_LRect full = request.FullFrame();
    in.extent_hint = request.rect ? Intersect(*request.rect, full) : full;
    return request.legacy ? LegacyRender(command, request, out)
                          : SmartRender(command, request, out);
}

CommandResult Simulator::SmartRender(Command& command, const FrameRequest& request,
                                     OutputWorld* out) {
    PF_PreRenderInput preInput{};
    preInput.output_request.rect = request.Request();
    preInput.output_request.field = PF_Field_FRAME;
    preInput.output_request.channel_mask = PF_ChannelMask_ARGB;
    preInput.bitdepth = static_cast<A_short>(request.depth);
    PF_PreRenderOutput preOutput{};
    PF_PreRenderExtra preExtra{&preInput, &preOutput, &command.pre};
    CommandResult result = Call(PF_Cmd_SMART_PRE_RENDER, command, nullptr, nullptr, &preExtra);
    if (!result.ok()) return result;

    // From here the pre-render record is ours until we hand it back through its delete function.
    struct PreRenderRecord {
        PF_PreRenderOutput& output;
        ~PreRenderRecord() {
            if (output.delete_pre_render_data_func != nullptr && output.pre_render_data != nullptr)
                output.delete_pre_render_data_func(output.pre_render_data);
        }
    } record{preOutput};

    const PF_LRect& announced = preOutput.result_rect;
    if (!IsEmpty(announced)) {
        if (!AllocateWorld(announced, request.depth, out)) {
            return CommandResult{
                PF_Cmd_SMART_RENDER, PF_Err_OUT_OF_MEMORY,
                std::string(kHostName) +
                    ": cannot allocate an output buffer for the announced result (" +
                    std::to_string(announced.right - announced.left) + "x" +
                    std::to_string(announced.bottom - announced.top) + ")"};
        }
        command.output = &out->world;
    }
    PF_SmartRenderInput input{};
    input.output_request = preInput.output_request;
    input.bitdepth = preInput.bitdepth;
    input.pre_render_data = preOutput.pre_render_data;
    PF_SmartRenderExtra extra{&input, &command.smart};
    result = Call(PF_Cmd_SMART_RENDER, command, nullptr, nullptr, &extra);
    if (!result.ok()) *out = OutputWorld();
    return result;
}

CommandResult Simulator::LegacyRender(Command& command, const FrameRequest& request,
                                      OutputWorld* out) {
    const PF_LRect rect = request.Request();
    if (!AllocateWorld(rect, request.depth, out)) {
        return CommandResult{PF_Cmd_RENDER, PF_Err_OUT_OF_MEMORY,
                             std::string(kHostName) + ": cannot allocate the output buffer"};
    }
    // The legacy record carries the negated position of the buffer in the layer.
    command.in.output_origin_x = -rect.left;
    command.in.output_origin_y = -rect.top;
    std::vector<PF_ParamDef> values = request.params;
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& def : values) pointers.push_back(&def);
    CommandResult result = Call(PF_Cmd_RENDER, command, pointers.data(), &out->world, nullptr);
    if (!result.ok()) *out = OutputWorld();
    return result;
}

// ---- What happened ------------------------------------------------------------------------------

// A host in its own right renders without end; only a strict host keeps a log.
void Simulator::RecordLocked(std::string call) {
    if (profile_ == Profile::kStrict) books_.calls.push_back(std::move(call));
}

void Simulator::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    books_ = Books();
    for (auto& entry : suites_) {
        entry.second.acquired = 0;
        entry.second.released = 0;
    }
}

int Simulator::AcquireCount(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? 0 : it->second.acquired;
}

int Simulator::ReleaseCount(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? 0 : it->second.released;
}

std::vector<std::string> Simulator::UnbalancedSuites() const {
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

long Simulator::OutstandingSuites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    long out = 0;
    for (const auto& entry : suites_) out += entry.second.acquired - entry.second.released;
    return out;
}

long Simulator::OutstandingHandles() {
    return gHandlesOut.load();
}

}  // namespace host_sim
