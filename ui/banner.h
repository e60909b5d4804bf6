// The banner in the effect's control area of the Effect Controls panel, drawn through the host's
// DRAWBOT suites.
#pragma once

#include "host_api/effect_api.h"

namespace pyrix {

// Draws the banner for a draw event of the "About" parameter's control area and ignores every
// other event. Returns 0 unless it throws a HostError: PF_Err_INVALID_CALLBACK for a missing
// suite, PF_Err_INTERNAL_STRUCT_DAMAGED for a failed drawing call.
PF_Err HandleEvent(PF_InData* in_data, PF_EventExtra* extra);

}  // namespace pyrix
