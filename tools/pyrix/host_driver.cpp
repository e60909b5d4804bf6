#include "tools/pyrix/host_driver.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "render/render_records.h"
#include "tools/host_abi/host_tables.h"

namespace pyrix {

const ControlBinding kControlBindings[6] = {
    {Control::kPosition, 7}, {Control::kEmitterSize, 8}, {Control::kDetail, 1},
    {Control::kSoftness, 9}, {Control::kSpeed, 2},       {Control::kOffset, 3},
};

namespace {

// Time runs in hundredths of a frame so that fractional rates such as 29.97 stay exact.
constexpr A_long kTimeStep = 100;
// What the basic suite answers for a suite this host does not offer ('S!Fd').
constexpr SPErr kSuiteNotFound = 0x53214664;
// Widest output this host allocates; beyond it the host's own limit has long been passed.
constexpr int64_t kMaxWorldDimension = 65536;

std::string Bounded(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

std::string Bounded(const A_u_char* text, size_t size) {
    return text == nullptr ? std::string() : Bounded(reinterpret_cast<const char*>(text), size);
}

PF_Fixed ToFixed(double value) {
    const double scaled = std::round(value * 65536.0);
    if (!(scaled > -2147483648.0)) return std::numeric_limits<PF_Fixed>::min();
    if (scaled >= 2147483647.0) return std::numeric_limits<PF_Fixed>::max();
    return static_cast<PF_Fixed>(scaled);
}

bool IsEmpty(const PF_LRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

// Colours and the render-engine answer of the application suite: this host has no user
// interface and renders like a render engine.
PF_Err AppGetColor(PF_App_ColorType, PF_App_Color* color) {
    if (color == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *color = {0x2020, 0x2020, 0x2020};
    return PF_Err_NONE;
}

PF_Err IsRenderEngine(PF_Boolean* renderEngine) {
    if (renderEngine == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *renderEngine = 1;
    return PF_Err_NONE;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// ---- Services every plug-in may ask for ---------------------------------------------------------

// Handles: a master pointer the plug-in dereferences, followed by the block's size.
struct HandleBlock {
    void* data;
    A_u_longlong size;
};
std::atomic<long> gHandlesOut{0};

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

HandleBlock* BlockOf(PF_Handle handle) {
    return reinterpret_cast<HandleBlock*>(handle);  // data is the block's first member
}

void* LockHandle(PF_Handle handle) {
    return handle != nullptr ? *handle : nullptr;
}

void UnlockHandle(PF_Handle) {}

void DisposeHandle(PF_Handle handle) {
    if (handle == nullptr) return;
    std::free(BlockOf(handle)->data);
    std::free(BlockOf(handle));
    --gHandlesOut;
}

A_u_longlong HandleSize(PF_Handle handle) {
    return handle != nullptr ? BlockOf(handle)->size : 0;
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

A_char* AnsiStrcpy(A_char* to, const A_char* from) {
    if (to == nullptr || from == nullptr) return to;
    return std::strcpy(to, from);
}

SPBoolean IsEqual(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

SPErr AllocateBlock(size_t size, void** block) {
    if (block == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *block = std::malloc(size > 0 ? size : 1);
    return *block != nullptr ? 0 : PF_Err_OUT_OF_MEMORY;
}

SPErr FreeBlock(void* block) {
    std::free(block);
    return 0;
}

SPErr ReallocateBlock(void* block, size_t size, void** resized) {
    if (resized == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *resized = std::realloc(block, size > 0 ? size : 1);
    return *resized != nullptr ? 0 : PF_Err_OUT_OF_MEMORY;
}

// The host's C library functions and memory handles, as SDK-built plug-ins use them during set-up.
PF_UtilCallbacks MakeUtilCallbacks() {
    PF_UtilCallbacks utils{};
    host_abi::FillUnserved(utils);
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
    ansi.strcpy = AnsiStrcpy;
    ansi.asin = [](A_FpLong x) { return std::asin(x); };
    ansi.acos = [](A_FpLong x) { return std::acos(x); };
    utils.host_new_handle = NewHandle;
    utils.host_lock_handle = LockHandle;
    utils.host_unlock_handle = UnlockHandle;
    utils.host_dispose_handle = DisposeHandle;
    utils.host_get_handle_size = HandleSize;
    utils.host_resize_handle = ResizeHandle;
    return utils;
}

// What a plug-in asked for that this host does not offer, each named once, with the answer.
std::mutex gUnservedMutex;
std::vector<std::string> gUnservedCalls;

void NoteUnserved(const std::string& what) {
    std::lock_guard<std::mutex> lock(gUnservedMutex);
    if (std::find(gUnservedCalls.begin(), gUnservedCalls.end(), what) == gUnservedCalls.end())
        gUnservedCalls.push_back(what);
}

void NoteUnservedSlot(const char* slot) {
    NoteUnserved(std::string(slot) + " (answered " + std::to_string(PF_Err_INVALID_CALLBACK) + ")");
}

}  // namespace

// ---- One command's records ---------------------------------------------------------------------

struct EffectHost::Command {
    EffectHost* host = nullptr;
    const RenderSettings* settings = nullptr;  // null outside of renders
    const std::atomic<bool>* cancel = nullptr;
    bool settingUpParams = false;

    PF_InData in{};
    PF_UtilCallbacks utils = MakeUtilCallbacks();

    PF_LRect resultRect{};  // what the plug-in announced in pre-render
    PF_EffectWorld world{};
    std::unique_ptr<uint8_t, FreeDeleter> worldPixels;

    explicit Command(EffectHost* owner, const RenderSettings* renderSettings = nullptr,
                     int32_t frame = 1)
        : host(owner), settings(renderSettings) {
        host_abi::FillUnserved(in.inter);
        host_abi::FillHostFields(in);
        in.inter.checkout_param = CheckoutParam;
        in.inter.checkin_param = CheckinParam;
        in.inter.add_param = AddParam;
        in.inter.abort = Abort;
        in.inter.progress = Progress;
        in.inter.register_ui = RegisterUi;
        utils.get_platform_data = GetPlatformData;
        in.utils = &utils;
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
        in.pica_basicP = &basicSuite_;
        in.global_data = owner->globalData_;
        in.num_params = std::max<A_long>(owner->numParams_, 1);  // the input layer at least
        in.downsample_x = {1, 1};
        in.downsample_y = {1, 1};
        in.time_step = kTimeStep;
        in.local_time_step = kTimeStep;
        in.time_scale = 24 * kTimeStep;  // until a render brings its own frame rate
        if (settings == nullptr) return;

        const RenderSettings& s = *settings;
        in.current_time = (frame - 1) * kTimeStep;
        in.total_time = frame * kTimeStep;
        in.time_scale = static_cast<A_u_long>(std::llround(s.fps * kTimeStep));
        in.width = s.layerWidth;
        in.height = s.layerHeight;
        in.downsample_x = {1, static_cast<A_u_long>(s.downsample)};
        in.downsample_y = {1, static_cast<A_u_long>(s.downsample)};
        in.extent_hint = s.rect ? Intersect(*s.rect, s.FullFrame()) : s.FullFrame();
    }

    static Command& From(PF_ProgPtr ref) { return *reinterpret_cast<Command*>(ref); }

    // Allocates the output buffer for `rect` at `depth` bits; rows padded as hosts do.
    bool AllocateWorld(const PF_LRect& rect, int32_t depth) {
        const int64_t width = static_cast<int64_t>(rect.right) - rect.left;
        const int64_t height = static_cast<int64_t>(rect.bottom) - rect.top;
        if (width > kMaxWorldDimension || height > kMaxWorldDimension) return false;
        const int64_t rowBytes =
            (width * static_cast<int64_t>(FrameImage::BytesPerPixel(depth)) + 63) / 64 * 64;
        // calloc leaves untouched pages unmapped, so a refused frame costs no memory.
        worldPixels.reset(
            static_cast<uint8_t*>(std::calloc(static_cast<size_t>(rowBytes * height), 1)));
        if (worldPixels == nullptr) return false;
        world = {};
        world.world_flags = depth == 16 ? PF_WorldFlag_DEEP : 0;
        world.data = reinterpret_cast<PF_PixelPtr>(worldPixels.get());
        world.rowbytes = static_cast<A_long>(rowBytes);
        world.width = static_cast<A_long>(width);
        world.height = static_cast<A_long>(height);
        world.extent_hint = {0, 0, world.width, world.height};
        world.origin_x = rect.left;
        world.origin_y = rect.top;
        world.pix_aspect_ratio = {1, 1};
        return true;
    }

    // The finished frame: the part of the output buffer that lies in `request`, transparent
    // elsewhere. Made only after the effect succeeded, so a refused frame costs no memory.
    void CopyWorldTo(const PF_LRect& request, FrameImage* image) const {
        *image = FrameImage::Blank(request.right - request.left, request.bottom - request.top,
                                   settings->depth);
        if (world.data == nullptr) return;
        const PF_LRect worldRect = {world.origin_x, world.origin_y, world.origin_x + world.width,
                                    world.origin_y + world.height};
        const PF_LRect common = Intersect(worldRect, request);
        if (IsEmpty(common)) return;
        const size_t bpp = image->pixelBytes();
        const size_t bytes = bpp * static_cast<size_t>(common.right - common.left);
        const auto* base = reinterpret_cast<const uint8_t*>(world.data);
        for (A_long y = common.top; y < common.bottom; ++y) {
            const uint8_t* src = base + static_cast<int64_t>(y - worldRect.top) * world.rowbytes +
                                 bpp * static_cast<size_t>(common.left - worldRect.left);
            uint8_t* dst =
                image->row(y - request.top) + bpp * static_cast<size_t>(common.left - request.left);
            std::memcpy(dst, src, bytes);
        }
    }
};

// ---- Results -----------------------------------------------------------------------------------

const char* CommandName(PF_Cmd command) {
    switch (command) {
        case PF_Cmd_ABOUT:
            return "PF_Cmd_ABOUT";
        case PF_Cmd_GLOBAL_SETUP:
            return "PF_Cmd_GLOBAL_SETUP";
        case PF_Cmd_GLOBAL_SETDOWN:
            return "PF_Cmd_GLOBAL_SETDOWN";
        case PF_Cmd_PARAMS_SETUP:
            return "PF_Cmd_PARAMS_SETUP";
        case PF_Cmd_RENDER:
            return "PF_Cmd_RENDER";
        case PF_Cmd_SMART_PRE_RENDER:
            return "PF_Cmd_SMART_PRE_RENDER";
        case PF_Cmd_SMART_RENDER:
            return "PF_Cmd_SMART_RENDER";
        case -1:
            return "PluginDataEntryFunction2";
        default:
            return "command";
    }
}

std::string CommandResult::Describe() const {
    if (!message.empty()) return message;
    return std::string(CommandName(command)) + " failed with error " + std::to_string(error);
}

// ---- Settings ----------------------------------------------------------------------------------

PF_LRect RenderSettings::Request() const {
    return rect ? *rect : FullFrame();
}

PF_LRect RenderSettings::FullFrame() const {
    FrameContext context;
    context.layerWidth = layerWidth;
    context.layerHeight = layerHeight;
    context.downsampleX = 1.0 / downsample;
    context.downsampleY = 1.0 / downsample;
    const FrameExtent full = FullFrameExtent(context);
    return {0, 0, full.width, full.height};
}

std::optional<double> RenderSettings::SliderValue(Control control) const {
    switch (control) {
        case Control::kPosition:
            return std::nullopt;  // a point, not a slider
        case Control::kEmitterSize:
            return emitterSize;
        case Control::kDetail:
            return detail;
        case Control::kSoftness:
            return softness;
        case Control::kSpeed:
            return speed;
        case Control::kOffset:
            return offset;
    }
    return std::nullopt;
}

// ---- The host ----------------------------------------------------------------------------------

SPBasicSuite EffectHost::basicSuite_ = {};
PF_EffectUISuite1 EffectHost::effectUiSuite_ = {};
PFAppSuite6 EffectHost::appSuite_ = {};
std::atomic<long> EffectHost::suitesOut_{0};

EffectHost::EffectHost(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain)
    : dataEntry_(dataEntry), effectMain_(effectMain) {
    // The tables are process-wide (the basic suite's functions carry no context), filled once
    // with every slot; what this host does not offer answers PF_Err_INVALID_CALLBACK.
    static std::once_flag filled;
    std::call_once(filled, [] {
        host_abi::gUnservedHandler = NoteUnservedSlot;
        host_abi::FillUnserved(basicSuite_);
        basicSuite_.AcquireSuite = AcquireSuite;
        basicSuite_.ReleaseSuite = ReleaseSuite;
        basicSuite_.IsEqual = IsEqual;
        basicSuite_.AllocateBlock = AllocateBlock;
        basicSuite_.FreeBlock = FreeBlock;
        basicSuite_.ReallocateBlock = ReallocateBlock;
        host_abi::FillUnserved(effectUiSuite_);
        effectUiSuite_.PF_SetOptionsButtonName = SetOptionsButtonName;
        host_abi::FillUnserved(appSuite_);
        appSuite_.PF_AppGetColor = AppGetColor;
        appSuite_.PF_IsRenderEngine = IsRenderEngine;
    });
}

EffectHost::~EffectHost() = default;

long EffectHost::OutstandingSuites() {
    return suitesOut_.load();
}

long EffectHost::OutstandingHandles() {
    return gHandlesOut.load();
}

std::vector<std::string> EffectHost::UnservedCalls() {
    std::lock_guard<std::mutex> lock(gUnservedMutex);
    return gUnservedCalls;
}

const void* EffectHost::FindSuite(const char* name, int32_t version) {
    if (name == nullptr) return nullptr;
    if (std::strcmp(name, kPFEffectUISuite) == 0 && version == kPFEffectUISuiteVersion1) {
        return &effectUiSuite_;
    }
    if (std::strcmp(name, kPFAppSuite) == 0 && version == kPFAppSuiteVersion1) return &appSuite_;
    return nullptr;
}

SPErr EffectHost::AcquireSuite(const char* name, int32_t version, const void** suite) {
    if (suite == nullptr) return kSuiteNotFound;
    *suite = FindSuite(name, version);
    if (*suite == nullptr) {
        NoteUnserved("suite \"" + std::string(name != nullptr ? name : "") + "\" version " +
                     std::to_string(version) + " (answered 'S!Fd')");
        return kSuiteNotFound;
    }
    ++suitesOut_;
    return 0;
}

SPErr EffectHost::ReleaseSuite(const char* name, int32_t version) {
    if (FindSuite(name, version) == nullptr) return kSuiteNotFound;
    --suitesOut_;
    return 0;
}

// The registration callback has no context of its own beyond the opaque pointer we pass.
PF_Err EffectHost::RegisterEffect(PF_PluginDataPtr ptr, const A_u_char* name,
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

CommandResult EffectHost::Register() {
    registration_ = {};
    CommandResult result;
    result.command = -1;
    result.error = dataEntry_(reinterpret_cast<PF_PluginDataPtr>(&registration_), RegisterEffect,
                              &basicSuite_, "pyrix", "1.0");
    return result;
}

CommandResult EffectHost::Call(PF_Cmd cmd, Command& command, PF_ParamDef** params,
                               PF_LayerDef* output, void* extra) {
    PF_OutData out{};
    out.global_data = command.in.global_data;
    out.num_params = command.in.num_params;
    CommandResult result;
    result.command = cmd;
    result.error = effectMain_(cmd, &command.in, &out, params, output, extra);
    result.message = Bounded(out.return_msg, sizeof out.return_msg);
    // The plug-in's global data comes back with every later command, until global set-down.
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

CommandResult EffectHost::GlobalSetup() {
    Command command(this);
    return Call(PF_Cmd_GLOBAL_SETUP, command, nullptr, nullptr, nullptr);
}

CommandResult EffectHost::ParamsSetup() {
    params_.clear();
    optionsButtonName_.clear();
    customUiEvents_ = 0;
    Command command(this);
    command.settingUpParams = true;
    return Call(PF_Cmd_PARAMS_SETUP, command, nullptr, nullptr, nullptr);
}

CommandResult EffectHost::GlobalSetdown() {
    Command command(this);
    return Call(PF_Cmd_GLOBAL_SETDOWN, command, nullptr, nullptr, nullptr);
}

CommandResult EffectHost::About(std::string* text) {
    Command command(this);
    CommandResult result = Call(PF_Cmd_ABOUT, command, nullptr, nullptr, nullptr);
    if (text != nullptr) {
        *text = result.message;
        std::replace(text->begin(), text->end(), '\r', '\n');
    }
    return result;
}

PF_ParamDef EffectHost::ParamAt(const RenderSettings& settings, A_long index) const {
    PF_ParamDef def{};
    if (index == 0) {
        def.param_type = PF_Param_LAYER;
        return def;
    }
    def = params_.at(static_cast<size_t>(index - 1));
    const ControlBinding* binding = nullptr;
    for (const ControlBinding& b : kControlBindings) {
        if (b.paramId == def.uu.id) binding = &b;
    }
    if (binding == nullptr) return def;

    if (def.param_type == PF_Param_POINT) {
        // Points reach the effect in pixels of the current resolution; the host keeps them
        // as percentages of the layer, as the declared defaults are.
        const double px = settings.positionX.value_or(def.u.td.x_dephault / 65536.0);
        const double py = settings.positionY.value_or(def.u.td.y_dephault / 65536.0);
        def.u.td.x_value = ToFixed(px / 100.0 * settings.layerWidth / settings.downsample);
        def.u.td.y_value = ToFixed(py / 100.0 * settings.layerHeight / settings.downsample);
    } else if (def.param_type == PF_Param_FLOAT_SLIDER) {
        def.u.fs_d.value = settings.SliderValue(binding->control).value_or(def.u.fs_d.dephault);
    }
    return def;
}

CommandResult EffectHost::RenderFrame(const RenderSettings& settings, int32_t frame,
                                      const std::atomic<bool>* cancel, FrameImage* image) {
    if (settings.layerWidth < 1 || settings.layerHeight < 1 || settings.downsample < 1 ||
        !(settings.fps > 0.0) || frame < 1 || frame > INT32_MAX / kTimeStep ||
        (settings.depth != 8 && settings.depth != 16 && settings.depth != 32) ||
        (settings.legacy && settings.depth == 32)) {
        throw std::invalid_argument("pyrix: render settings out of range");
    }
    const PF_LRect request = settings.Request();
    *image = FrameImage();
    Command command(this, &settings, frame);
    command.cancel = cancel;
    return settings.legacy ? LegacyRender(command, request, image)
                           : SmartRender(command, request, image);
}

CommandResult EffectHost::SmartRender(Command& command, const PF_LRect& request,
                                      FrameImage* image) {
    PF_PreRenderInput preInput{};
    preInput.output_request.rect = request;
    preInput.output_request.field = PF_Field_FRAME;
    preInput.output_request.channel_mask = PF_ChannelMask_ARGB;
    preInput.bitdepth = static_cast<A_short>(command.settings->depth);
    PF_PreRenderOutput preOutput{};
    PF_PreRenderCallbacks preCallbacks{CheckoutLayer, GuidMixIn};
    PF_PreRenderExtra preExtra{&preInput, &preOutput, &preCallbacks};

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

    command.resultRect = preOutput.result_rect;
    if (!IsEmpty(command.resultRect) &&
        !command.AllocateWorld(command.resultRect, command.settings->depth)) {
        result.command = PF_Cmd_SMART_RENDER;
        result.error = PF_Err_OUT_OF_MEMORY;
        result.message = "pyrix: cannot allocate an output buffer for the announced result (" +
                         std::to_string(command.resultRect.right - command.resultRect.left) + "x" +
                         std::to_string(command.resultRect.bottom - command.resultRect.top) + ")";
        return result;
    }

    PF_SmartRenderInput input{};
    input.output_request = preInput.output_request;
    input.bitdepth = preInput.bitdepth;
    input.pre_render_data = preOutput.pre_render_data;
    PF_SmartRenderCallbacks callbacks{CheckoutLayerPixels, CheckinLayerPixels, CheckoutOutput};
    PF_SmartRenderExtra extra{&input, &callbacks};
    result = Call(PF_Cmd_SMART_RENDER, command, nullptr, nullptr, &extra);
    if (result.ok()) command.CopyWorldTo(request, image);
    return result;
}

CommandResult EffectHost::LegacyRender(Command& command, const PF_LRect& request,
                                       FrameImage* image) {
    if (!command.AllocateWorld(request, command.settings->depth)) {
        CommandResult result;
        result.command = PF_Cmd_RENDER;
        result.error = PF_Err_OUT_OF_MEMORY;
        result.message = "pyrix: cannot allocate the output buffer";
        return result;
    }
    // The legacy record carries the negated position of the buffer in the layer.
    command.in.output_origin_x = -request.left;
    command.in.output_origin_y = -request.top;

    std::vector<PF_ParamDef> values;
    for (A_long i = 0; i <= static_cast<A_long>(params_.size()); ++i) {
        values.push_back(ParamAt(*command.settings, i));
    }
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& def : values) pointers.push_back(&def);

    CommandResult result = Call(PF_Cmd_RENDER, command, pointers.data(), &command.world, nullptr);
    if (result.ok()) command.CopyWorldTo(request, image);
    return result;
}

// ---- Callbacks ---------------------------------------------------------------------------------

PF_Err EffectHost::AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    Command& command = Command::From(ref);
    if (!command.settingUpParams) return PF_Err_INVALID_CALLBACK;
    if (def == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    auto& params = command.host->params_;
    if (index != -1 && index != static_cast<PF_ParamIndex>(params.size()) + 1) {
        return PF_Err_INVALID_INDEX;
    }
    params.push_back(*def);
    return PF_Err_NONE;
}

PF_Err EffectHost::CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long, A_long, A_u_long,
                                 PF_ParamDef* param) {
    Command& command = Command::From(ref);
    if (param == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    EffectHost& host = *command.host;
    if (index < 0 || index > static_cast<PF_ParamIndex>(host.params_.size())) {
        return PF_Err_INVALID_INDEX;
    }
    // The controls hold no keyframes: every time asks for the same values.
    const RenderSettings defaults;
    *param = host.ParamAt(command.settings != nullptr ? *command.settings : defaults, index);
    ++host.paramCheckouts_;
    return PF_Err_NONE;
}

PF_Err EffectHost::CheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    if (param == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    --Command::From(ref).host->paramCheckouts_;
    return PF_Err_NONE;
}

PF_Err EffectHost::Abort(PF_ProgPtr ref) {
    const Command& command = Command::From(ref);
    return command.cancel != nullptr && command.cancel->load() ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err EffectHost::Progress(PF_ProgPtr ref, A_long, A_long) {
    return Abort(ref);
}

PF_Err EffectHost::RegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info) {
    if (info == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    Command::From(ref).host->customUiEvents_ = info->events;
    return PF_Err_NONE;
}

PF_Err EffectHost::SetOptionsButtonName(PF_ProgPtr ref, const A_char* name) {
    if (name == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    Command::From(ref).host->optionsButtonName_ = Bounded(name, 32);
    return PF_Err_NONE;
}

PF_Err EffectHost::GetPlatformData(PF_ProgPtr, PF_PlatDataID which, void* data) {
    if (which != PF_PlatData_MAIN_WND || data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    // No main window: this host runs without a user interface.
    void* const noWindow = nullptr;
    std::memcpy(data, &noWindow, sizeof noWindow);
    return PF_Err_NONE;
}

PF_Err EffectHost::CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long,
                                 const PF_RenderRequest* request, A_long, A_long, A_u_long,
                                 PF_CheckoutResult* result) {
    const Command& command = Command::From(ref);
    if (index != 0 || request == nullptr || result == nullptr || command.settings == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const RenderSettings& s = *command.settings;
    *result = {};
    result->max_result_rect = s.FullFrame();
    result->result_rect = Intersect(request->rect, result->max_result_rect);
    if (IsEmpty(result->result_rect)) result->result_rect = {};
    result->par = {1, 1};
    result->ref_width = s.layerWidth;
    result->ref_height = s.layerHeight;
    return PF_Err_NONE;
}

// The input layer has no footage in this host; the effect never needs its pixels.
// A plug-in may mix more data into the frame's cache key; this host keeps no cache.
PF_Err EffectHost::GuidMixIn(PF_ProgPtr, A_u_long size, const void* buffer) {
    return size > 0 && buffer == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
}

PF_Err EffectHost::CheckoutLayerPixels(PF_ProgPtr, A_long, PF_EffectWorld** pixels) {
    if (pixels != nullptr) *pixels = nullptr;
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err EffectHost::CheckinLayerPixels(PF_ProgPtr, A_long) {
    return PF_Err_NONE;
}

PF_Err EffectHost::CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    Command& command = Command::From(ref);
    if (output == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *output = command.world.data != nullptr ? &command.world : nullptr;
    return PF_Err_NONE;
}

}  // namespace pyrix
