// The subcommands of pyrix, run on a parsed command line.
#pragma once

#include <atomic>
#include <iosfwd>

#include "tools/pyrix/command_line.h"

namespace pyrix::preview {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the plug-in failed a command, or a file could not be written
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Runs the subcommand. Setting `cancel` (Ctrl-C) makes the host's abort callback answer yes;
// frames not yet started are skipped. `progress`: draw a progress bar on `err`.
int RunCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& cancel, bool progress);

// argv in, exit code out: parsing, then RunCommand.
int RunPyrix(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& cancel, bool progress);

}  // namespace pyrix::preview
