// pyrix from argv to exit code: the command line parsed, then its subcommand run.
#pragma once

#include <atomic>
#include <iosfwd>

#include "tools/pyrix/command_line.h"
#include "tools/pyrix/subcommands.h"

namespace pyrix::preview {

// Runs the subcommand. Setting `cancel` (Ctrl-C) makes the host's abort callback answer yes;
// frames not yet started are skipped. `progress`: draw a progress bar on `err`.
int RunCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& cancel, bool progress);

// argv in, exit code out: parsing, then RunCommand.
int RunPyrix(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& cancel, bool progress);

}  // namespace pyrix::preview
