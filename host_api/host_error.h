// The one error raised towards the host: its result code and, when not empty, a message that the
// command guard shows as "Tazu Pyrix: <message>". A user's abort is a result, never an error.
#pragma once

#include <stdexcept>
#include <string>

#include "host_api/effect_api.h"

namespace pyrix {

class HostError : public std::runtime_error {
  public:
    explicit HostError(PF_Err code, const std::string& message = std::string())
        : std::runtime_error(message), code_(code) {}

    PF_Err code() const noexcept { return code_; }
    bool hasMessage() const noexcept { return what()[0] != '\0'; }

  private:
    PF_Err code_;
};

}  // namespace pyrix
