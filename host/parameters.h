// The effect's parameters: their declaration at parameter set-up, the options button and
// custom-drawing registration, and reading one frame's values into EffectSettings.
#pragma once

#include <cstdint>

#include "host_api/effect_api.h"
#include "host_api/parameter_ids.h"
#include "render/effect_settings.h"

namespace pyrix {

constexpr const char* kOptionsButtonName = "About...";
constexpr const char* kInvalidPointDimensionsMessage = "Invalid point coordinate dimensions";

// A host downsample factor (num / den); a denominator of 0 counts as full resolution.
double DownsampleFactor(const PF_RationalScale& scale);

// Declares the seven parameters, then calls SetupControlsUI. A failing add_param ends it with
// that code.
PF_Err SetupParameters(PF_InData* in_data, PF_OutData* out_data);

// Names the options button and registers for drawing in the Effect Controls panel. Throws
// HostError(PF_Err_INVALID_CALLBACK) when the effect UI suite cannot be acquired.
PF_Err SetupControlsUI(PF_InData* in_data);

// The float slider at `index` at the current time: from `params` when the host passed the
// array, else by checkout and checkin. A failed checkout is thrown as a HostError with its code.
float ReadFloatParam(PF_InData* in_data, PF_ParamDef** params, PF_ParamIndex index);

// Fields 1-8 of EffectSettings (layerWidth/layerHeight are left at their initial values).
// Hints of 0 or less fall back to in_data->width/height for the position conversion.
// Throws a HostError: the checkout's code when a checkout fails, a message when the position
// cannot be converted.
EffectSettings ReadEffectSettings(PF_InData* in_data, PF_ParamDef** params, int32_t widthHint,
                                  int32_t heightHint);

}  // namespace pyrix
