// Registration and command dispatch: the library's two exported entry points.
#include "host/command_guard.h"
#include "host/entry_points.h"
#include "host/gpu_device.h"
#include "host/parameters.h"
#include "host/render_entry.h"
#include "host_api/registration.h"
#include "renderers/render_frame.h"
#include "ui/about_dialog.h"
#include "ui/banner.h"

namespace pyrix {

namespace {

const A_u_char* HostString(const char* text) {
    return reinterpret_cast<const A_u_char*>(text);
}

PF_Err GlobalSetup(PF_OutData* out_data) {
    if (out_data == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    out_data->my_version = registration::kEffectVersion;
    out_data->out_flags = registration::kGlobalOutFlags;
    out_data->out_flags2 = registration::kGlobalOutFlags2;
    return PF_Err_NONE;
}

// One line per command this effect answers; every other selector is acknowledged and ignored.
PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                [[maybe_unused]] PF_ParamDef* params[], [[maybe_unused]] PF_LayerDef* output,
                [[maybe_unused]] void* extra) {
    switch (cmd) {
        case PF_Cmd_ABOUT:
        case PF_Cmd_DO_DIALOG:
            return ShowAbout(in_data, out_data);
        case PF_Cmd_EVENT:
            return HandleEvent(in_data, static_cast<PF_EventExtra*>(extra));
        case PF_Cmd_GLOBAL_SETUP:
            return GlobalSetup(out_data);
        case PF_Cmd_GLOBAL_SETDOWN:
            ReleaseRenderer();
            return PF_Err_NONE;
        case PF_Cmd_PARAMS_SETUP:
            return SetupParameters(in_data, out_data);
        case PF_Cmd_RENDER:
            return LegacyRender(in_data, params, output);
        case PF_Cmd_SMART_PRE_RENDER:
            return PreRender(in_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            return SmartRender(in_data, static_cast<PF_SmartRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER_GPU:
            return SmartRenderGpu(in_data, static_cast<PF_SmartRenderExtra*>(extra));
        case PF_Cmd_GPU_DEVICE_SETUP:
            return GpuDeviceSetup(in_data, out_data, static_cast<PF_GPUDeviceSetupExtra*>(extra));
        case PF_Cmd_GPU_DEVICE_SETDOWN:
            return GpuDeviceSetdown(static_cast<PF_GPUDeviceSetdownExtra*>(extra));
        default:
            return PF_Err_NONE;
    }
}

PF_Err RegisterEffect(PF_PluginDataPtr inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr) {
    if (inPluginDataCallBackPtr == nullptr) return PF_Err_INVALID_CALLBACK;
    using namespace registration;
    return inPluginDataCallBackPtr(inPtr, HostString(kEffectName), HostString(kMatchName),
                                   HostString(kCategory), HostString(kEntryPointName), kEffectKind,
                                   kApiVersionMajor, kApiVersionMinor, kRegistrationReservedInfo,
                                   HostString(kSupportUrl));
}

}  // namespace

}  // namespace pyrix

extern "C" PYRIX_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr,
                                                        PF_PluginDataCB2 inPluginDataCallBackPtr,
                                                        SPBasicSuite* /*inSPBasicSuitePtr*/,
                                                        const char* /*inHostName*/,
                                                        const char* /*inHostVersion*/) {
    return pyrix::RegisterEffect(inPtr, inPluginDataCallBackPtr);
}

extern "C" PYRIX_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                          PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    return pyrix::RunCommandGuarded(
        out_data, [&] { return pyrix::Dispatch(cmd, in_data, out_data, params, output, extra); });
}
