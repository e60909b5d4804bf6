// The kernels' constants for a frame, from the host's request and the effect's settings, and the
// checks a request passes before them.
#pragma once

#include "kernels/params_block.h"
#include "render/effect_settings.h"
#include "render/render_records.h"

namespace pyrix {

// The kernels' constants for a validated frame whose full extent is `full`.
ParamsBlock MakeParamsBlock(const RenderRequest& request, const EffectSettings& settings,
                            const FrameExtent& full);

// The checks every frame passes, in this order (the host's abort is asked between the first
// two). Each throws std::runtime_error with the message the host shows.
FrameExtent CheckedFullExtent(const RenderRequest& request, const FrameContext& context);
void CheckSettings(const EffectSettings& settings);
void CheckStride(const RenderRequest& request);  // rows of request.depth pixels

}  // namespace pyrix
