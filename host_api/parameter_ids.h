// The effect's parameters as the host numbers them, and the custom-drawn About area: shared by
// the dispatch layer and the user interface.
#pragma once

#include "host_api/effect_api.h"

namespace pyrix {

// Indices in the host's parameter array; 0 is the input layer, declared by the host itself.
enum : PF_ParamIndex {
    kParamInputLayer = 0,
    kParamAbout = 1,
    kParamPosition = 2,
    kParamEmitterSize = 3,
    kParamDetail = 4,
    kParamSoftness = 5,
    kParamSpeed = 6,
    kParamOffset = 7,
    kParamCount = 8,  // what the host counts, input layer included
};

// Fixed identities of the parameters towards the host; they do not follow the index order.
enum : A_long {
    kParamIdDetail = 1,
    kParamIdSpeed = 2,
    kParamIdOffset = 3,
    kParamIdPosition = 7,
    kParamIdEmitterSize = 8,
    kParamIdSoftness = 9,
    kParamIdAbout = 10,
};

// The custom control area of "About", in which the banner is drawn.
constexpr A_short kAboutAreaWidth = 240;
constexpr A_short kAboutAreaHeight = 60;

}  // namespace pyrix
