// The About dialog's two ways of showing: the text in the host's message buffer, anywhere, and
// the dialog window, on Windows (about_window_win32.cpp).
#pragma once

#include "host_api/effect_api.h"

namespace pyrix {

// Writes the About text into the host's message buffer; nothing when out_data is null.
void WriteAboutText(PF_OutData* out_data);

#ifdef _WIN32
// Shows the dialog over `main_window`; where it cannot be shown, writes the text instead.
// 0, or PF_Err_OUT_OF_MEMORY when the dialog's brush cannot be created.
PF_Err ShowAboutDialog(const PFAppSuite6* app_suite, void* main_window, PF_OutData* out_data);
#endif

}  // namespace pyrix
