// The kernels' constants for a frame, from the host's request and the effect's settings.
#pragma once

#include "kernels/params_block.h"
#include "render/effect_settings.h"
#include "render/render_records.h"

namespace pyrix {

// The kernels' constants for a validated frame whose full extent is `full`.
ParamsBlock MakeParamsBlock(const RenderRequest& request, const EffectSettings& settings,
                            const FrameExtent& full);

}  // namespace pyrix
