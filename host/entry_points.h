// The library's two exported entry points, under the plain names the host looks up.
#pragma once

#include "host/export.h"
#include "host_api/effect_api.h"

extern "C" {

// Announces the one effect of this library through the host's registration callback.
PYRIX_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr,
                                             PF_PluginDataCB2 inPluginDataCallBackPtr,
                                             SPBasicSuite* inSPBasicSuitePtr,
                                             const char* inHostName, const char* inHostVersion);

// Every command of the effect comes through here.
PYRIX_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                               PF_ParamDef* params[], PF_LayerDef* output, void* extra);
}
