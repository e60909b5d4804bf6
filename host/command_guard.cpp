#include "host/command_guard.h"

#include <cstdio>

namespace pyrix {

void ReportErrorMessage(PF_OutData* out_data, const char* message) noexcept {
    if (out_data == nullptr) return;
    std::snprintf(out_data->return_msg, sizeof(out_data->return_msg), "Tazu Pyrix: %s",
                  message != nullptr ? message : "");
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
}

}  // namespace pyrix
