// Turns whatever a command handler raises into the host's result code, and a message-bearing
// failure into the host's error text.
#pragma once

#include <exception>
#include <new>

#include "host_api/effect_api.h"
#include "host_api/host_error.h"

namespace pyrix {

// Writes "Tazu Pyrix: <message>" into out_data->return_msg (cut to fit) and asks the host to
// show it. Does nothing when out_data is null.
void ReportErrorMessage(PF_OutData* out_data, const char* message) noexcept;

// Runs `handler` (returning PF_Err) and maps what it throws:
//   HostError -> its code, and its message reported when it has one;
//   a bare code (PF_Err, or a value of the host's error enumeration) -> that code;
//   any of these holding PF_Err_NONE -> PF_Err_INTERNAL_STRUCT_DAMAGED: a throw is never a
//   success, and the host would take the command's half-done work as done;
//   out of memory -> PF_Err_OUT_OF_MEMORY;
//   another std::exception (the renderer's failures) -> its message reported,
//   PF_Err_INTERNAL_STRUCT_DAMAGED;
//   anything else -> PF_Err_INTERNAL_STRUCT_DAMAGED.
constexpr PF_Err ThrownCode(PF_Err code) noexcept {
    return code == PF_Err_NONE ? PF_Err(PF_Err_INTERNAL_STRUCT_DAMAGED) : code;
}

template <typename Handler>
PF_Err RunCommandGuarded(PF_OutData* out_data, Handler&& handler) noexcept {
    try {
        return handler();
    } catch (const HostError& error) {
        if (error.hasMessage()) ReportErrorMessage(out_data, error.what());
        return ThrownCode(error.code());
    } catch (PF_Err code) {
        return ThrownCode(code);
    } catch (PF_ErrEnum code) {
        return ThrownCode(code);
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception& error) {
        ReportErrorMessage(out_data, error.what());
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

}  // namespace pyrix
