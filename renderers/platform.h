// The Direct3D 11, DXGI and Win32 headers: the real ones on Windows, our stand-in elsewhere;
// and Check, which turns a failed call into the message the host shows.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#endif

#include <d3d11.h>
#include <dxgi.h>
#include <windows.h>

// Older SDK headers predate high-resolution waitable timers; the value is the platform's.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

#include <stdexcept>

namespace pyrix {

inline void Check(HRESULT result, const char* message) {
    if (FAILED(result)) throw std::runtime_error(message);
}

}  // namespace pyrix
