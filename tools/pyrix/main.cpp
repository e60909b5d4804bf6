// pyrix: a command-line host for the fire effect. See docs/pyrix.md.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "tools/pyrix/pyrix_app.h"

#ifdef _WIN32
#include <io.h>
#define PYRIX_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define PYRIX_ISATTY(fd) isatty(fd)
#endif

namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Ctrl-C only raises the flag: the host's abort callback passes it to the plug-in, which
// cancels the frames in flight; nothing is left half written.
extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const bool progress = PYRIX_ISATTY(2) != 0;
    return pyrix::preview::RunPyrix(argc, argv, std::cout, std::cerr, gInterrupted, progress);
}
