// The messages a frame can fail with, as raised inside the plug-in (the host sees them behind
// "Tazu Pyrix: "). Tests that throw arbitrary input at the plug-in accept these and no others.
#pragma once

#include <set>
#include <string>

namespace pyrix {

namespace test_support {

// What creating or using a renderer can fail with.
inline const std::set<std::string> kRendererMessages = {
    "DXGI initialization failed",
    "No hardware GPU available",
    "Direct3D 11 GPU initialization failed",
    "GPU shader initialization failed",
    "GPU anchor shader initialization failed",
    "GPU anchor buffer allocation failed",
    "GPU anchor UAV failed",
    "GPU anchor SRV failed",
    "GPU constant buffer allocation failed",
    "GPU texture allocation failed",
    "GPU output view failed",
    "GPU readback allocation failed",
    "GPU readback failed",
};

// What the parameters and the frame's validation refuse.
inline const std::set<std::string> kValidationMessages = {
    "Invalid point coordinate dimensions",
    "Unsupported frame dimensions (maximum 16384)",
    "Non-finite effect parameter",
    "Non-finite position/emitter parameter",
    "Invalid output stride",
};

}  // namespace test_support

}  // namespace pyrix
