// Fuzz target: a whole host session through EffectMain. The bytes choose the host's callbacks
// (results, missing slots, null suites), the Direct3D faults, and a sequence of commands with
// their records: geometry, strides, rectangles, downsample factors, times, parameter values and
// null pointers. Every session ends with global set-down, after which nothing may be left.
//
// Faults: a result outside the documented codes and the callbacks' own, a message outside the
// documented ones, a byte of the host's buffer changed outside the output rectangle, a check-out
// or suite not given back, a drawing object or state left over, a Direct3D object still alive.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/entry_points.h"
#include "host/parameters.h"
#include "kernels/fan_out.h"
#include "standins/host_simulator/app_suite.h"
#include "standins/host_simulator/drawbot.h"
#include "standins/host_simulator/simulator.h"
#include "standins/win32/d3d_control.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/renderers/frame_messages.h"

using namespace pyrix;

namespace {

using fuzz::Fail;
using fuzz::Input;
using host_sim::Callback;
using host_sim::DrawCall;

bool IsKnownMessage(const std::string& text) {
    return test_support::kRendererMessages.count(text) != 0 ||
           test_support::kValidationMessages.count(text) != 0;
}

constexpr uint8_t kGuard = 0xA5;
// Largest host buffer a session allocates; frames that would need more are made shorter.
constexpr int64_t kMaxBufferBytes = 256 * 1024;

int32_t Dimension(Input& in) {
    static const int32_t kSpecial[] = {0,     -1,    1,         2,         16384,        16385,
                                       30000, 65536, INT32_MAX, INT32_MIN, INT32_MAX / 2};
    switch (in.Byte() % 8) {
        case 0:
            return in.Pick(kSpecial);
        case 1:
            return in.Raw<int32_t>();
        default:
            return in.Range(0, 48);
    }
}

int32_t Coordinate(Input& in) {
    static const int32_t kSpecial[] = {0, -1, 1, INT32_MAX, INT32_MIN, 16384, -16384, 1 << 30};
    switch (in.Byte() % 4) {
        case 0:
            return in.Pick(kSpecial);
        case 1:
            return in.Raw<int32_t>();
        default:
            return in.Range(-40, 80);
    }
}

PF_RationalScale Downsample(Input& in) {
    static const PF_RationalScale kCommon[] = {{1, 1}, {1, 2},  {1, 3}, {1, 4},  {1, 0},
                                               {0, 1}, {-1, 2}, {3, 1}, {1, 16}, {7, 5}};
    if (in.OneIn(4)) return PF_RationalScale{in.Raw<A_long>(), in.Raw<A_u_long>()};
    return in.Pick(kCommon);
}

double SliderValue(Input& in) {
    const double kSpecial[] = {0.0,
                               1.0,
                               -1.0,
                               100.0,
                               1e7,
                               -1e7,
                               1e300,
                               -1e300,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::denorm_min(),
                               3.4028235e38,
                               3.5e38};
    switch (in.Byte() % 4) {
        case 0:
            return in.Raw<double>();
        case 1:
            return in.Pick(kSpecial);
        default:
            return in.Range(-200, 1200) / 4.0;
    }
}

PF_Fixed PointCoordinate(Input& in) {
    if (in.OneIn(3)) return in.Raw<PF_Fixed>();
    return in.Range(-64, 128) * 65536;
}

// Codes the host's callbacks may answer; each one used becomes a valid result of the session.
PF_Err HostError(Input& in, std::set<PF_Err>& raised) {
    static const PF_Err kCodes[] = {PF_Err_OUT_OF_MEMORY,
                                    PF_Err_INTERNAL_STRUCT_DAMAGED,
                                    PF_Err_INVALID_CALLBACK,
                                    PF_Interrupt_CANCEL,
                                    PF_Err_BAD_CALLBACK_PARAM,
                                    -1,
                                    1,
                                    INT32_MIN};
    const PF_Err code = in.OneIn(4) ? in.Raw<PF_Err>() : in.Pick(kCodes);
    if (code != PF_Err_NONE) raised.insert(code);
    return code;
}

// A host buffer for one output world, guard bytes around and between its rows. A frame that
// must be refused (wider or taller than any frame) gets a buffer shorter than it declares:
// writing into it is caught by the guards or by AddressSanitizer.
class GuardedBuffer {
  public:
    GuardedBuffer(int32_t width, int32_t height, int32_t rowBytes, int bytesPerPixel) {
        rowBytes_ = rowBytes;
        rowSpan_ = width > 0 ? int64_t(width) * bytesPerPixel : 0;
        const int64_t pitch = std::max<int64_t>(std::llabs(int64_t(rowBytes)), rowSpan_);
        rows_ = height > 0 ? height : 0;
        allocatedRows_ = rows_;
        if (rowSpan_ >= kMaxBufferBytes) {
            allocatedRows_ = std::min<int64_t>(allocatedRows_, 1);
        } else if (pitch > 0) {
            allocatedRows_ = std::min(allocatedRows_, (kMaxBufferBytes - rowSpan_) / pitch + 1);
        }
        if (width <= kMaxSide && height <= kMaxSide) rows_ = allocatedRows_;
        const int64_t span =
            allocatedRows_ > 0 ? std::min((allocatedRows_ - 1) * pitch + rowSpan_, kMaxBufferBytes)
                               : 0;
        bytes_.assign(size_t(span + 2 * kGuardBytes), kGuard);
        first_ =
            kGuardBytes + (rowBytes < 0 && allocatedRows_ > 0 ? (allocatedRows_ - 1) * pitch : 0);
    }

    // The height the host declares for this buffer.
    int32_t rows() const { return static_cast<int32_t>(rows_); }
    void* firstPixel() { return bytes_.data() + first_; }

    // Whether every byte outside the rows of the output rectangle still holds the guard.
    bool GuardsIntact() const {
        const int64_t size = int64_t(bytes_.size());
        std::vector<bool> inside(bytes_.size(), false);
        for (int64_t row = 0; row < allocatedRows_ && rowSpan_ > 0; ++row) {
            const int64_t start = first_ + row * rowBytes_;
            const int64_t from = std::max<int64_t>(start, 0);
            const int64_t to = std::min<int64_t>(start + std::min(rowSpan_, size), size);
            for (int64_t at = from; at < to; ++at) inside[size_t(at)] = true;
        }
        for (size_t i = 0; i < bytes_.size(); ++i) {
            if (!inside[i] && bytes_[i] != kGuard) return false;
        }
        return true;
    }

    bool Untouched() const {
        for (uint8_t b : bytes_) {
            if (b != kGuard) return false;
        }
        return true;
    }

    // Whether every pixel of the rectangle was written: the fire is opaque inside the frame
    // and transparent black outside it, so each alpha is all bits clear or the format's 1.0.
    bool AlphaWritten(int bytesPerPixel) const {
        const int64_t width = rowSpan_ / bytesPerPixel;
        for (int64_t row = 0; row < allocatedRows_; ++row) {
            for (int64_t x = 0; x < width; ++x) {
                const uint8_t* alpha = bytes_.data() + first_ + row * rowBytes_ + x * bytesPerPixel;
                bool ok = false;
                if (bytesPerPixel == 4) {
                    ok = alpha[0] == 0 || alpha[0] == 0xFF;
                } else if (bytesPerPixel == 8) {
                    uint16_t v = 0;
                    std::memcpy(&v, alpha, sizeof(v));
                    ok = v == 0 || v == 32768;
                } else {
                    float v = 0;
                    std::memcpy(&v, alpha, sizeof(v));
                    ok = v == 0.0f || v == 1.0f;
                }
                if (!ok) return false;
            }
        }
        return true;
    }

  private:
    static constexpr int64_t kGuardBytes = 64;
    static constexpr int32_t kMaxSide = 16384;
    std::vector<uint8_t> bytes_;
    int64_t rowBytes_ = 0;
    int64_t rowSpan_ = 0;
    int64_t rows_ = 0;
    int64_t allocatedRows_ = 0;
    int64_t first_ = 0;
};

int32_t StrideFor(Input& in, int32_t width, int bytesPerPixel) {
    const int64_t tight = width > 0 ? int64_t(width) * bytesPerPixel : 0;
    const int64_t padded = tight + in.Range(0, 3) * 16;
    switch (in.Byte() % 6) {
        case 0:
            return in.Raw<int32_t>();
        case 1:
            return static_cast<int32_t>(-std::min<int64_t>(padded, INT32_MAX));
        case 2:
            return static_cast<int32_t>(std::max<int64_t>(0, tight - in.Range(1, 16)));
        default:
            return static_cast<int32_t>(std::min<int64_t>(padded, INT32_MAX));
    }
}

struct World {
    PF_EffectWorld world{};
    std::unique_ptr<GuardedBuffer> buffer;
    int bytesPerPixel = 4;
    bool handedOver = false;  // the plug-in got this world
};

// An output world as the host hands it out, over a guarded buffer (or none at all).
std::unique_ptr<World> MakeWorld(Input& in, int bytesPerPixel) {
    auto result = std::make_unique<World>();
    PF_EffectWorld& world = result->world;
    const int32_t width = Dimension(in);
    const int32_t height = Dimension(in);
    world.rowbytes = StrideFor(in, width, bytesPerPixel);
    world.width = width;
    result->buffer = std::make_unique<GuardedBuffer>(width, height, world.rowbytes, bytesPerPixel);
    world.height = height > 0 ? result->buffer->rows() : height;
    world.data = in.OneIn(16) ? nullptr : static_cast<PF_PixelPtr>(result->buffer->firstPixel());
    world.origin_x = Coordinate(in);
    world.origin_y = Coordinate(in);
    result->bytesPerPixel = bytesPerPixel;
    return result;
}

int BytesPerPixel(int depth) {
    return depth == 2 ? 16 : (depth == 1 ? 8 : 4);
}

class Session {
  public:
    explicit Session(Input& in) : in_(in) {}

    void Run() {
        ConfigureHost();
        const int steps = in_.Range(1, 6);
        for (int i = 0; i < steps && !in_.Empty(); ++i) Step();
        d3d_standin::ClearFaults();
        d3d_standin::HoldDevices(false);
        fan_out_testing::FailThreadStarts(0);
        if (host_.OutstandingCheckouts() != 0) Fail("parameters left checked out");
        if (host_.UnmatchedCheckins() != 0) Fail("parameters checked in but never out");
        if (!host_.UnbalancedSuites().empty()) Fail("suites not released exactly once");
        if (drawbot_) {
            if (drawbot_->LiveImages() != 0) Fail("drawing images left", drawbot_->LiveImages());
            if (drawbot_->StateDepth() != 0) Fail("drawing state left", drawbot_->StateDepth());
        }
        const PF_Err setdown = EffectMain(PF_Cmd_GLOBAL_SETDOWN, host_.in_data(), host_.out_data(),
                                          nullptr, nullptr, nullptr);
        if (setdown != PF_Err_NONE) Fail("global set-down failed", setdown);
    }

  private:
    void ConfigureHost() {
        static const Callback kCallbacks[] = {
            Callback::kAddParam,       Callback::kCheckoutParam,       Callback::kCheckinParam,
            Callback::kAbort,          Callback::kRegisterUi,          Callback::kGetPlatformData,
            Callback::kAcquireSuite,   Callback::kReleaseSuite,        Callback::kCheckoutLayer,
            Callback::kCheckoutOutput, Callback::kSetOptionsButtonName};
        const int changes = in_.Range(0, 4);
        for (int i = 0; i < changes; ++i) {
            const Callback callback = in_.Pick(kCallbacks);
            switch (in_.Byte() % 3) {
                case 0:
                    host_.SetMissing(callback);
                    abortMissing_ = abortMissing_ || callback == Callback::kAbort;
                    break;
                default:
                    host_.SetResult(callback, HostError(in_, raised_));
                    break;
            }
        }
        if (in_.OneIn(16)) host_.SetBasicSuiteMissing();
        if (in_.OneIn(8)) {
            host_.FailSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, in_.Raw<int32_t>());
        } else if (in_.OneIn(8)) {
            host_.ProvideSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, nullptr);
        }
        if (in_.Bit()) {
            drawbot_.emplace(host_);
            static const DrawCall kDrawCalls[] = {
                DrawCall::kGetDrawingReference, DrawCall::kGetSupplier,   DrawCall::kGetSurface,
                DrawCall::kNewImageFromBuffer,  DrawCall::kReleaseObject, DrawCall::kPushStateStack,
                DrawCall::kPopStateStack,       DrawCall::kTransform,     DrawCall::kDrawImage};
            const int drawChanges = in_.Range(0, 3);
            for (int i = 0; i < drawChanges; ++i) {
                const DrawCall call = in_.Pick(kDrawCalls);
                switch (in_.Byte() % 3) {
                    case 0:
                        drawbot_->SetMissing(call);
                        break;
                    case 1:
                        drawbot_->SetNullResult(call);
                        break;
                    default:
                        drawbot_->SetResult(call, HostError(in_, raised_));
                        break;
                }
            }
        }
        if (in_.Bit()) {
            app_suite_.emplace(host_);
            if (in_.Bit()) app_suite_->SetRenderEngine(in_.Bit(), HostError(in_, raised_));
        }
        const int abortAfter = in_.OneIn(4) ? in_.Range(0, 6) : -1;
        PF_Err abortCode = PF_Err_NONE;
        if (abortAfter >= 0) {
            abortCode = HostError(in_, raised_);
            host_.SetAbort([this, abortAfter, abortCode] {
                return ++abortCalls_ > abortAfter ? abortCode : PF_Err_NONE;
            });
        }
        if (in_.OneIn(4)) {
            static const HRESULT kFailures[] = {E_FAIL, E_OUTOFMEMORY, E_INVALIDARG,
                                                DXGI_ERROR_DEVICE_REMOVED, DXGI_ERROR_DEVICE_RESET};
            const auto call = static_cast<d3d_standin::Call>(in_.Range(0, 9));
            const int count = in_.OneIn(4) ? d3d_standin::kEveryCall : in_.Range(1, 3);
            d3d_standin::FailCall(call, in_.Pick(kFailures), in_.Range(0, 8), count);
        }
        if (in_.OneIn(6)) d3d_standin::LoseDeviceAtCall(in_.Range(0, 60));
        if (in_.OneIn(6)) fan_out_testing::FailThreadStarts(in_.Range(-1, 6));
        // Held devices only end a frame through the host's abort.
        if (abortCode != PF_Err_NONE && !abortMissing_ && in_.OneIn(4)) {
            d3d_standin::HoldDevices(true);
        }
    }

    void SetGeometry(PF_InData& in_data) {
        if (in_.Bit()) in_data.width = Dimension(in_);
        if (in_.Bit()) in_data.height = Dimension(in_);
        if (in_.Bit()) in_data.downsample_x = Downsample(in_);
        if (in_.Bit()) in_data.downsample_y = Downsample(in_);
        if (in_.Bit()) {
            in_data.current_time = in_.OneIn(2) ? in_.Raw<A_long>() : in_.Range(-10, 100);
            in_data.time_step = in_.OneIn(2) ? in_.Raw<A_long>() : in_.Range(-2, 3);
            in_data.local_time_step = in_.OneIn(2) ? in_.Raw<A_long>() : in_.Range(-2, 3);
            in_data.time_scale = in_.Raw<A_u_long>();
        }
        if (in_.Bit()) {
            in_data.output_origin_x = Coordinate(in_);
            in_data.output_origin_y = Coordinate(in_);
        }
        if (in_.Bit()) host_.SetLayerSize(Dimension(in_), Dimension(in_));
    }

    void SetParams() {
        if (in_.Bit())
            host_.SetParam(kParamPosition,
                           host_sim::PointParam(PointCoordinate(in_), PointCoordinate(in_)));
        for (PF_ParamIndex index :
             {kParamEmitterSize, kParamDetail, kParamSoftness, kParamSpeed, kParamOffset}) {
            if (in_.Bit()) host_.SetParam(index, host_sim::FloatParam(SliderValue(in_)));
        }
        if (in_.OneIn(8)) host_.FailCheckoutOf(in_.Range(0, 8), HostError(in_, raised_));
    }

    void Step() {
        SetGeometry(*host_.in_data());
        SetParams();
        PF_InData* in_data = in_.OneIn(32) ? nullptr : host_.in_data();
        PF_OutData* out_data = in_.OneIn(16) ? nullptr : host_.out_data();
        PF_OutData& out = *host_.out_data();
        std::memset(out.return_msg, 0, sizeof(out.return_msg));
        out.out_flags = 0;
        isAbout_ = false;

        std::unique_ptr<World> world;
        const PF_Err result = Command(in_data, out_data, world);
        CheckResult(result, out_data);
        if (!world) return;
        if (!world->buffer->GuardsIntact()) {
            Fail("host buffer written outside the output rectangle", result);
        }
        // A failed frame writes nothing (a cancelled one may have finished before the abort).
        const bool failed = result != PF_Err_NONE && result != PF_Interrupt_CANCEL &&
                            result != PF_Err_OUT_OF_MEMORY;
        if (failed && !world->buffer->Untouched()) Fail("failed frame wrote pixels", result);
        const PF_EffectWorld& w = world->world;
        if (result == PF_Err_NONE && world->handedOver && w.data != nullptr && w.width > 0 &&
            w.height > 0 && !world->buffer->AlphaWritten(world->bytesPerPixel)) {
            Fail("frame reported done with pixels not written");
        }
    }

    PF_Err Command(PF_InData* in_data, PF_OutData* out_data, std::unique_ptr<World>& world) {
        switch (in_.Byte() % 10) {
            case 0:
                return EffectMain(PF_Cmd_GLOBAL_SETUP, in_data, out_data, nullptr, nullptr,
                                  nullptr);
            case 1:
                return EffectMain(PF_Cmd_PARAMS_SETUP, in_data, out_data, nullptr, nullptr,
                                  nullptr);
            case 2:
                isAbout_ = true;
                return EffectMain(in_.Bit() ? PF_Cmd_ABOUT : PF_Cmd_DO_DIALOG, in_data, out_data,
                                  nullptr, nullptr, nullptr);
            case 3:
                return Event(in_data, out_data);
            case 4:
                return EffectMain(PF_Cmd_GLOBAL_SETDOWN, in_data, out_data, nullptr, nullptr,
                                  nullptr);
            case 5: {
                // Any other selector, with whatever pointers: acknowledged and ignored.
                static const PF_Cmd kIgnored[] = {2, 5, 6, 7, 8, 10, 12, 13, 14, 16, 22, 25};
                const PF_Cmd raw = in_.Raw<PF_Cmd>();
                const PF_Cmd cmd = raw > PF_Cmd_SMART_RENDER ? raw : in_.Pick(kIgnored);
                return EffectMain(cmd, in_data, out_data, nullptr, nullptr, nullptr);
            }
            case 6:
            case 7:
                return Legacy(in_data, out_data, world);
            default:
                return Smart(in_data, out_data, world);
        }
    }

    PF_Err Event(PF_InData* in_data, PF_OutData* out_data) {
        PF_EventExtra extra;
        std::memset(&extra, 0, sizeof(extra));
        extra.contextH = drawbot_ ? drawbot_->context() : nullptr;
        extra.e_type = in_.OneIn(4) ? in_.Raw<PF_EventType>() : PF_Event_DRAW;
        extra.effect_win.index = in_.OneIn(4) ? in_.Raw<PF_ParamIndex>() : kParamAbout;
        extra.effect_win.area = in_.OneIn(4) ? in_.Raw<PF_EffectArea>() : PF_EA_CONTROL;
        extra.effect_win.current_frame = {Coordinate(in_), Coordinate(in_), Coordinate(in_),
                                          Coordinate(in_)};
        return EffectMain(PF_Cmd_EVENT, in_data, out_data, nullptr, nullptr,
                          in_.OneIn(16) ? nullptr : &extra);
    }

    PF_Err Legacy(PF_InData* in_data, PF_OutData* out_data, std::unique_ptr<World>& world) {
        const bool deep = in_.Bit();
        world = MakeWorld(in_, deep ? 8 : 4);
        world->world.world_flags = deep ? PF_WorldFlag_DEEP : 0;
        if (in_.OneIn(4)) world->world.world_flags |= in_.Raw<PF_WorldFlags>() & ~1u;

        PF_ParamDef defs[kParamCount];
        PF_ParamDef* params[kParamCount];
        for (int i = 0; i < kParamCount; ++i) {
            std::memset(&defs[i], 0, sizeof(defs[i]));
            defs[i].param_type = PF_Param_FLOAT_SLIDER;
            defs[i].u.fs_d.value = SliderValue(in_);
            params[i] = in_.OneIn(64) ? nullptr : &defs[i];
        }
        defs[kParamPosition] = host_sim::PointParam(PointCoordinate(in_), PointCoordinate(in_));
        PF_ParamDef** paramArray = in_.OneIn(16) ? nullptr : params;
        world->handedOver = !in_.OneIn(16);
        return EffectMain(PF_Cmd_RENDER, in_data, out_data, paramArray,
                          world->handedOver ? &world->world : nullptr, nullptr);
    }

    PF_Err Smart(PF_InData* in_data, PF_OutData* out_data, std::unique_ptr<World>& world) {
        static const short kDepths[] = {8, 16, 32, 24, 0, -32};
        PF_PreRenderInput preInput{};
        preInput.output_request.rect = {Coordinate(in_), Coordinate(in_), Coordinate(in_),
                                        Coordinate(in_)};
        preInput.output_request.field = in_.Raw<PF_Field>();
        preInput.bitdepth = in_.OneIn(8) ? in_.Raw<short>() : in_.Pick(kDepths);
        PF_PreRenderOutput preOutput{};
        PF_PreRenderExtra preExtra{};
        preExtra.input = in_.OneIn(32) ? nullptr : &preInput;
        preExtra.output = in_.OneIn(32) ? nullptr : &preOutput;
        preExtra.cb = in_.OneIn(32) ? nullptr : host_.pre_render_callbacks();

        const PF_Err pre = EffectMain(PF_Cmd_SMART_PRE_RENDER, in_data, out_data, nullptr, nullptr,
                                      in_.OneIn(32) ? nullptr : &preExtra);
        // The host owns the record from here and frees it when done, whatever happens next.
        std::unique_ptr<void, PF_DeletePreRenderDataFunc> record(
            preOutput.pre_render_data, preOutput.delete_pre_render_data_func);
        if (preOutput.pre_render_data != nullptr &&
            preOutput.delete_pre_render_data_func == nullptr) {
            Fail("pre-render record without a delete function");
        }
        if (pre != PF_Err_NONE) {
            if (record) Fail("failed pre-render handed over a record", pre);
            return pre;
        }
        CheckResult(pre, out_data);
        const PF_LRect& produced = preOutput.result_rect;
        const PF_LRect& limit = preOutput.max_result_rect;
        if (produced.left < 0 || produced.top < 0 || produced.right > limit.right ||
            produced.bottom > limit.bottom || produced.right < produced.left ||
            produced.bottom < produced.top) {
            Fail("result rectangle outside the announced extent");
        }

        const int depth = preInput.bitdepth == 32 ? 2 : (preInput.bitdepth == 16 ? 1 : 0);
        world = MakeWorld(in_, BytesPerPixel(depth));
        world->handedOver = !in_.OneIn(16);
        host_.SetOutputWorld(world->handedOver ? &world->world : nullptr);
        PF_SmartRenderInput renderInput{};
        renderInput.output_request = preInput.output_request;
        renderInput.bitdepth = preInput.bitdepth;
        renderInput.pre_render_data = in_.OneIn(32) ? nullptr : record.get();
        PF_SmartRenderExtra renderExtra{};
        renderExtra.input = in_.OneIn(32) ? nullptr : &renderInput;
        renderExtra.cb = in_.OneIn(32) ? nullptr : host_.smart_render_callbacks();
        const PF_Err rendered =
            EffectMain(PF_Cmd_SMART_RENDER, in_data, out_data, nullptr, nullptr, &renderExtra);
        host_.SetOutputWorld(nullptr);
        return rendered;
    }

    void CheckResult(PF_Err result, PF_OutData* out_data) {
        const bool documented = result == PF_Err_NONE || result == PF_Err_OUT_OF_MEMORY ||
                                result == PF_Err_INTERNAL_STRUCT_DAMAGED ||
                                result == PF_Err_INVALID_CALLBACK || result == PF_Interrupt_CANCEL;
        if (!documented && raised_.count(result) == 0) Fail("undocumented result", result);
        if (out_data == nullptr) return;
        const bool flagged = (out_data->out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
        const std::string message(out_data->return_msg,
                                  strnlen(out_data->return_msg, sizeof(out_data->return_msg)));
        if (message.size() == sizeof(out_data->return_msg)) Fail("message not terminated");
        if (flagged) {
            const std::string prefix = "Tazu Pyrix: ";
            if (result != PF_Err_INTERNAL_STRUCT_DAMAGED) Fail("message shown with code", result);
            if (message.compare(0, prefix.size(), prefix) != 0 ||
                !IsKnownMessage(message.substr(prefix.size()))) {
                std::fprintf(stderr, "message: \"%s\"\n", message.c_str());
                Fail("undocumented message");
            }
        } else if (!message.empty() && !isAbout_) {
            std::fprintf(stderr, "message: \"%s\"\n", message.c_str());
            Fail("message written without the display flag", result);
        }
    }

    Input& in_;
    host_sim::Simulator host_;
    std::optional<host_sim::Drawbot> drawbot_;
    std::optional<host_sim::AppSuite> app_suite_;
    std::set<PF_Err> raised_;
    int abortCalls_ = 0;
    bool abortMissing_ = false;
    bool isAbout_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    {
        Session session(in);
        session.Run();
    }
    if (d3d_standin::LiveObjects() != 0) {
        Fail("Direct3D objects alive after global set-down", d3d_standin::LiveObjects());
    }
    d3d_standin::Reset();
    return 0;
}
