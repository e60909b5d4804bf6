// Marks the two functions the host looks up by name; everything else stays inside the library.
#pragma once

#if defined(_WIN32)
#define PYRIX_EXPORT __declspec(dllexport)
#else
#define PYRIX_EXPORT __attribute__((visibility("default")))
#endif
