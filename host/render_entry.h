// The host's render commands: the smart pre-render/render pair and the legacy render. They turn
// the host's records into a RenderRequest and FrameContext and hand the frame to RenderFrame.
#pragma once

#include "host_api/effect_api.h"
#include "render/render_records.h"

namespace pyrix {

// Announces the output extent and hands the host a snapshot of the parameters, which the host
// gives back to SmartRender and frees through the delete function passed with it.
PF_Err PreRender(PF_InData* in_data, PF_PreRenderExtra* extra);

// Renders into the host's output world with the parameters sampled by PreRender. 517 when the
// host asked to abort.
PF_Err SmartRender(PF_InData* in_data, PF_SmartRenderExtra* extra);

// Renders a 32-bit frame on the host's GPU device set up as input->gpu_data, into the host's
// GPU world. 517 when the host asked to abort.
PF_Err SmartRenderGpu(PF_InData* in_data, PF_SmartRenderExtra* extra);

// One-call render from the host's parameter array into `output`. 517 when the host asked to
// abort.
PF_Err LegacyRender(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output);

// Layer size and downsampling of the current command, with the host's abort test.
FrameContext MakeFrameContext(PF_InData* in_data);

// True when the host wants the render abandoned; `context` is the command's PF_InData.
bool IsRenderAborted(void* context);

}  // namespace pyrix
