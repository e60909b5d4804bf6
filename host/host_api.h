// The host's effect API, as the plug-in sees it. Normally our own stand-in records; with
// PYRIX_HOST_SDK the host vendor's SDK headers from a local copy (never shipped with us).
#pragma once

#ifdef PYRIX_HOST_SDK
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_EffectUI.h"
#include "AE_AdvEffectSuites.h"
#include "SPBasic.h"
#else
#include "effect_api.h"
#endif

// The host raises error codes as values of its error enumeration; this names that type
// whatever the SDK calls it.
using PF_ErrEnum = decltype(PF_Err_NONE);
