#include "host/parameters.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "host_api/host_error.h"
#include "host_api/suite_scope.h"
#include "renderers/render_frame.h"

namespace pyrix {

namespace {

struct FloatSliderDecl {
    PF_ParamIndex index;
    const char* name;
    A_long id;
    double dephault;
    SettingRange valid;
    float sliderMin, sliderMax;
    A_short precision;
};

// Declared in index order; index 3 and up.
constexpr FloatSliderDecl kFloatSliders[] = {
    {kParamEmitterSize, "Emitter Size", kParamIdEmitterSize, 100.0, kEmitterSizeRange, 0.0f, 400.0f,
     2},
    {kParamDetail, "Detail", kParamIdDetail, 1.0, kDetailRange, 0.0f, 5.0f, 3},
    {kParamSoftness, "Softness", kParamIdSoftness, 0.0, kSoftnessRange, 0.0f, 100.0f, 1},
    {kParamSpeed, "Speed", kParamIdSpeed, 1.0, kSpeedRange, -5.0f, 5.0f, 2},
    {kParamOffset, "Offset", kParamIdOffset, 0.0, kOffsetRange, -10.0f, 10.0f, 2},
};

constexpr float kCurveTolerance = 0.05f;

// Double to float, rounding to nearest. A host value beyond the float range becomes an infinity
// (what the rounding gives) instead of an out-of-range conversion, so the renderer rejects it.
float SliderValueToFloat(double value) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;  // FLT_MAX plus half its last step
    if (value >= kRoundsToInfinity) return std::numeric_limits<float>::infinity();
    if (value <= -kRoundsToInfinity) return -std::numeric_limits<float>::infinity();
    const FrameFloatMode nearest;
    return static_cast<float>(value);
}
constexpr PF_Fixed kFixedOne = 1 << 16;
constexpr PF_Fixed kPositionDefaultX = 50 * kFixedOne;  // percent of the layer width
constexpr PF_Fixed kPositionDefaultY = 70 * kFixedOne;

PF_ParamDef ZeroedDef() {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof(def));
    return def;
}

// Names keep at most 31 characters and always end in a zero.
void CopyName(PF_ParamDef& def, const char* name) {
    std::snprintf(ParamName(def), sizeof(ParamName(def)), "%s", name);
}

PF_ParamDef AboutDef() {
    PF_ParamDef def = ZeroedDef();
    def.param_type = PF_Param_NO_DATA;
    def.ui_flags = PF_PUI_CONTROL;
    def.ui_width = kAboutAreaWidth;
    def.ui_height = kAboutAreaHeight;
    def.uu.id = kParamIdAbout;
    CopyName(def, "About");
    return def;
}

PF_ParamDef PositionDef() {
    PF_ParamDef def = ZeroedDef();
    def.param_type = PF_Param_POINT;
    def.u.td.x_value = def.u.td.x_dephault = kPositionDefaultX;
    def.u.td.y_value = def.u.td.y_dephault = kPositionDefaultY;
    def.u.td.restrict_bounds = 0;
    def.uu.id = kParamIdPosition;
    CopyName(def, "Position");
    return def;
}

PF_ParamDef FloatSliderDef(const FloatSliderDecl& slider) {
    PF_ParamDef def = ZeroedDef();
    def.param_type = PF_Param_FLOAT_SLIDER;
    def.u.fs_d.value = slider.dephault;
    def.u.fs_d.dephault = static_cast<PF_FpShort>(slider.dephault);
    def.u.fs_d.valid_min = slider.valid.min;
    def.u.fs_d.valid_max = slider.valid.max;
    def.u.fs_d.slider_min = slider.sliderMin;
    def.u.fs_d.slider_max = slider.sliderMax;
    def.u.fs_d.precision = slider.precision;
    def.u.fs_d.curve_tolerance = kCurveTolerance;
    def.uu.id = slider.id;
    CopyName(def, slider.name);
    return def;
}

// The host writes a whole definition; one of another type than declared holds other data in
// the union, so it is refused rather than read.
void RequireType(const PF_ParamDef& def, PF_ParamType type) {
    if (def.param_type != type) throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED);
}

// Checks out parameter `index` at the current time, checks that it is of `type`, hands the
// definition to `use`, and checks it back in on every way out.
template <typename Use>
auto WithCheckedOutParam(PF_InData* in_data, PF_ParamIndex index, PF_ParamType type, Use&& use) {
    // Without checkin a checkout would leak in the host; refuse both rather than one.
    if (in_data->inter.checkout_param == nullptr || in_data->inter.checkin_param == nullptr) {
        throw HostError(PF_Err_INVALID_CALLBACK);
    }
    PF_ParamDef def = ZeroedDef();
    const PF_Err err =
        in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time,
                                      in_data->time_step, in_data->time_scale, &def);
    if (err != PF_Err_NONE) throw HostError(err);

    struct Checkin {
        PF_InData* in_data;
        PF_ParamDef* def;
        ~Checkin() { in_data->inter.checkin_param(in_data->effect_ref, def); }
    } checkin{in_data, &def};
    RequireType(def, type);
    return use(static_cast<const PF_ParamDef&>(def));
}

const PF_ParamDef& ParamFromArray(PF_ParamDef** params, PF_ParamIndex index, PF_ParamType type) {
    if (params[index] == nullptr) throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED);
    RequireType(*params[index], type);
    return *params[index];
}

}  // namespace

double DownsampleFactor(const PF_RationalScale& scale) {
    if (scale.den == 0) return 1.0;
    const FrameFloatMode nearest;
    return static_cast<double>(scale.num) / static_cast<double>(scale.den);
}

PF_Err SetupParameters(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data == nullptr || out_data == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (in_data->inter.add_param == nullptr) return PF_Err_INVALID_CALLBACK;

    auto add = [in_data](PF_ParamDef def) {
        return in_data->inter.add_param(in_data->effect_ref, -1, &def);
    };
    if (PF_Err err = add(AboutDef())) return err;
    if (PF_Err err = add(PositionDef())) return err;
    for (const FloatSliderDecl& slider : kFloatSliders) {
        if (PF_Err err = add(FloatSliderDef(slider))) return err;
    }
    out_data->num_params = kParamCount;
    return SetupControlsUI(in_data);
}

PF_Err SetupControlsUI(PF_InData* in_data) {
    if (in_data == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    SuiteScope<PF_EffectUISuite1> ui(in_data->pica_basicP, kPFEffectUISuite,
                                     kPFEffectUISuiteVersion1);
    if (!ui || ui->PF_SetOptionsButtonName == nullptr) throw HostError(PF_Err_INVALID_CALLBACK);

    if (PF_Err err = ui->PF_SetOptionsButtonName(in_data->effect_ref, kOptionsButtonName)) {
        return err;
    }
    if (in_data->inter.register_ui == nullptr) return PF_Err_INVALID_CALLBACK;

    PF_CustomUIInfo info;
    std::memset(&info, 0, sizeof(info));
    info.events = PF_CustomEFlag_EFFECT;
    return in_data->inter.register_ui(in_data->effect_ref, &info);
}

float ReadFloatParam(PF_InData* in_data, PF_ParamDef** params, PF_ParamIndex index) {
    if (params != nullptr) {
        return SliderValueToFloat(
            ParamFromArray(params, index, PF_Param_FLOAT_SLIDER).u.fs_d.value);
    }
    if (in_data == nullptr) throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED);
    return WithCheckedOutParam(in_data, index, PF_Param_FLOAT_SLIDER, [](const PF_ParamDef& def) {
        return SliderValueToFloat(def.u.fs_d.value);
    });
}

EffectSettings ReadEffectSettings(PF_InData* in_data, PF_ParamDef** params, int32_t widthHint,
                                  int32_t heightHint) {
    if (in_data == nullptr) throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED);
    EffectSettings settings;
    settings.detail = ReadFloatParam(in_data, params, kParamDetail);
    settings.speed = ReadFloatParam(in_data, params, kParamSpeed);
    settings.offset = ReadFloatParam(in_data, params, kParamOffset);

    PF_PointDef position;
    if (params != nullptr) {
        position = ParamFromArray(params, kParamPosition, PF_Param_POINT).u.td;
    } else {
        position = WithCheckedOutParam(in_data, kParamPosition, PF_Param_POINT,
                                       [](const PF_ParamDef& def) { return def.u.td; });
    }

    const double dsx = DownsampleFactor(in_data->downsample_x);
    const double dsy = DownsampleFactor(in_data->downsample_y);
    const int32_t width = widthHint > 0 ? widthHint : in_data->width;
    const int32_t height = heightHint > 0 ? heightHint : in_data->height;
    if (width <= 0 || height <= 0 || dsx <= 0.0 || dsy <= 0.0) {
        throw HostError(PF_Err_INTERNAL_STRUCT_DAMAGED, kInvalidPointDimensionsMessage);
    }
    settings.emitterSize = ReadFloatParam(in_data, params, kParamEmitterSize);
    settings.softness = ReadFloatParam(in_data, params, kParamSoftness);

    // After the last callback, so that the host's calls see its own mode.
    const FrameFloatMode nearest;
    // Host points are 16.16 pixels at the current resolution; travel as layer fractions.
    settings.positionX = static_cast<float>((position.x_value / 65536.0) / (width * dsx));
    settings.positionY = static_cast<float>((position.y_value / 65536.0) / (height * dsy));
    const A_long step =
        in_data->local_time_step != 0 ? in_data->local_time_step : in_data->time_step;
    settings.frameNumber =
        step != 0 ? static_cast<float>(static_cast<double>(in_data->current_time) / step + 1.0)
                  : 1.0f;
    return settings;
}

}  // namespace pyrix
