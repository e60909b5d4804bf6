// Fuzz target: a whole host session through EffectMain. The bytes choose the host's callbacks
// (results, missing slots, null suites), the Direct3D faults, and a sequence of commands with
// their records: geometry, strides, rectangles, downsample factors, times, parameter values and
// null pointers. Every session ends with global set-down, after which nothing may be left.
//
// Faults: a result outside the documented codes and the callbacks' own, a message outside the
// documented ones, a byte of the host's buffer changed outside the output rectangle, a check-out
// or suite not given back, a drawing object or state left over, a Direct3D object still alive.
#include "tests/fuzz/effect_main_inputs.h"

using namespace pyrix;
using namespace effect_main_fuzz;

namespace {

using fuzz::Fail;
using fuzz::Input;
using host_sim::Callback;
using host_sim::DrawCall;

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

        world = MakeWorld(in_, int(BytesPerPixel(DepthOfBits(preInput.bitdepth))));
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
