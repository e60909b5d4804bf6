// A test effect written the way plug-ins built on the host vendor's SDK commonly are: global data
// in a host handle, names and texts through the host's ANSI helpers, parameters declared through
// add_param with zeroed definitions, some of types pyrix cannot render, and a suite asked for
// that pyrix does not serve (the plug-in carries on without it). Set-up only: it renders nothing.
//
// What it declares tells a test that the host filled its records: the checkbox is named after
// in_data->appl_id and the float slider after in_data->shutter_angle, both read at global set-up
// and kept in the global data handle until parameter set-up.
#include <cstdint>
#include <cstring>

#include "host_api/effect_api.h"

#ifdef _WIN32
#define TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr uint32_t kGlobalMagic = 0x53444B31;  // 'SDK1'
constexpr const char* kMissingSuite = "Pyrix Test Missing Suite";

struct GlobalData {
    uint32_t magic;
    A_AppID host;
    PF_Fixed shutterAngle;
};

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->version.major < 13) {
        in_data->utils->ansi.sprintf(out_data->return_msg, "needs effect API 13, host has %d.%d",
                                     in_data->version.major, in_data->version.minor);
        out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    PF_Handle handle = in_data->utils->host_new_handle(sizeof(GlobalData));
    if (handle == nullptr) return PF_Err_OUT_OF_MEMORY;
    auto* global = static_cast<GlobalData*>(in_data->utils->host_lock_handle(handle));
    if (global == nullptr) return PF_Err_OUT_OF_MEMORY;
    global->magic = kGlobalMagic;
    global->host = in_data->appl_id;
    global->shutterAngle = in_data->shutter_angle;
    in_data->utils->host_unlock_handle(handle);

    out_data->global_data = handle;
    out_data->my_version = 0x00080601;
    out_data->out_flags = PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_DEEP_COLOR_AWARE;
    out_data->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER;
    return PF_Err_NONE;
}

PF_Err AddParam(PF_InData* in_data, PF_ParamDef& def, PF_ParamType type, const char* name,
                A_long id) {
    def.param_type = type;
    def.uu.id = id;
    in_data->utils->ansi.strcpy(ParamName(def), name);
    return in_data->inter.add_param(in_data->effect_ref, -1, &def);
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->global_data == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    const auto* global =
        static_cast<const GlobalData*>(in_data->utils->host_lock_handle(in_data->global_data));
    if (global == nullptr || global->magic != kGlobalMagic) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    const GlobalData kept = *global;
    in_data->utils->host_unlock_handle(in_data->global_data);

    // An optional suite: a host without it gets no special treatment.
    const void* suite = nullptr;
    if (in_data->pica_basicP->AcquireSuite(kMissingSuite, 1, &suite) == 0 && suite != nullptr) {
        in_data->pica_basicP->ReleaseSuite(kMissingSuite, 1);
    }

    char name[32];
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    in_data->utils->ansi.sprintf(name, "Host %c%c%c%c", static_cast<char>(kept.host >> 24),
                                 static_cast<char>(kept.host >> 16),
                                 static_cast<char>(kept.host >> 8), static_cast<char>(kept.host));
    def.u.bd.value = def.u.bd.dephault = 1;
    def.u.bd.u.nameptr = "enabled";
    if (PF_Err err = AddParam(in_data, def, PF_Param_CHECKBOX, name, 1)) return err;

    std::memset(&def, 0, sizeof def);
    def.u.pd.num_choices = 3;
    def.u.pd.value = def.u.pd.dephault = 2;
    def.u.pd.u.namesptr = "Low|Medium|High";
    if (PF_Err err = AddParam(in_data, def, PF_Param_POPUP, "Quality", 2)) return err;

    std::memset(&def, 0, sizeof def);
    def.u.ad.value = def.u.ad.dephault = 45 << 16;
    if (PF_Err err = AddParam(in_data, def, PF_Param_ANGLE, "Spin", 3)) return err;

    std::memset(&def, 0, sizeof def);
    def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, 255, 128, 0};
    if (PF_Err err = AddParam(in_data, def, PF_Param_COLOR, "Tint", 4)) return err;

    std::memset(&def, 0, sizeof def);
    const double shutter = kept.shutterAngle / 65536.0;
    in_data->utils->ansi.sprintf(name, "Shutter %d", static_cast<int>(shutter));
    def.u.fs_d.value = shutter;
    def.u.fs_d.dephault = static_cast<PF_FpShort>(shutter);
    def.u.fs_d.valid_max = def.u.fs_d.slider_max = 360.0f;
    def.u.fs_d.precision = 1;
    if (PF_Err err = AddParam(in_data, def, PF_Param_FLOAT_SLIDER, name, 5)) return err;

    std::memset(&def, 0, sizeof def);
    def.u.sd.value = def.u.sd.dephault = 3;
    def.u.sd.valid_max = def.u.sd.slider_max = 10;
    if (PF_Err err = AddParam(in_data, def, PF_Param_SLIDER, "Count", 6)) return err;

    out_data->num_params = 7;
    return PF_Err_NONE;
}

PF_Err GlobalSetdown(PF_InData* in_data) {
    if (in_data->global_data != nullptr) in_data->utils->host_dispose_handle(in_data->global_data);
    return PF_Err_NONE;
}

}  // namespace

TEST_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr ptr, PF_PluginDataCB2 callback,
                                            SPBasicSuite*, const char*, const char*) {
    return callback(ptr, reinterpret_cast<const A_u_char*>("SDK-style test effect"),
                    reinterpret_cast<const A_u_char*>("pyrix SDK Style"),
                    reinterpret_cast<const A_u_char*>("Tests"),
                    reinterpret_cast<const A_u_char*>("EffectMain"), 0x65464B54, 13, 28, 0,
                    reinterpret_cast<const A_u_char*>("https://example.invalid/"));
}

TEST_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[],
                              PF_LayerDef*, void*) {
    switch (cmd) {
        case PF_Cmd_ABOUT:
            in_data->utils->ansi.sprintf(out_data->return_msg, "%s\r%s", "SDK-style test effect",
                                         "set-up only");
            return PF_Err_NONE;
        case PF_Cmd_GLOBAL_SETUP:
            return GlobalSetup(in_data, out_data);
        case PF_Cmd_PARAMS_SETUP:
            return ParamsSetup(in_data, out_data);
        case PF_Cmd_GLOBAL_SETDOWN:
            return GlobalSetdown(in_data);
        default:
            return PF_Err_NONE;
    }
}
