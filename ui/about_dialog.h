// The About dialog, shown for the About command and the options button's dialog command. Where
// no dialog can be shown (no user interface, no main window, no window system at all) the About
// text goes to the host's message buffer instead.
#pragma once

#include "host_api/effect_api.h"
#include "ui/about_layout.h"

namespace pyrix {

// 0, or PF_Err_OUT_OF_MEMORY when the dialog's brush cannot be created. Never throws.
PF_Err ShowAbout(PF_InData* in_data, PF_OutData* out_data) noexcept;

// The dialog's background and text colours: the host's interface colours where the App suite
// gives them, the dark defaults otherwise (also without a suite).
struct AboutColors {
    ColorRef background;
    ColorRef text;
};
AboutColors ReadAboutColors(const PFAppSuite6* app_suite);

// The host's colour ids for the panel background and the interface text.
inline constexpr A_long kHostColorBackground = 1000;
inline constexpr A_long kHostColorText = 2;

}  // namespace pyrix
