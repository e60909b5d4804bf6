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

// The checks every frame passes before its constants, in this order: its full extent (returned
// in *full), the host's abort (false when it asks to stop), its settings, and its stride in
// rows of request.depth pixels. Each failure throws std::runtime_error with the message the host
// shows.
bool CheckFrame(const RenderRequest& request, const EffectSettings& settings,
                const FrameContext& context, FrameExtent* full);

}  // namespace pyrix
