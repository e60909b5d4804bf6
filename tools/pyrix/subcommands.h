// The subcommands of pyrix, one source file each: render_command.cpp, strip_command.cpp,
// info_command.cpp, about_command.cpp, bench_command.cpp. Each returns pyrix's exit code.
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

int RunRender(const CommandLine& line, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& cancel, bool progress);
int RunStrip(const CommandLine& line, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& cancel);
int RunInfo(const CommandLine& line, std::ostream& out, std::ostream& err);
int RunAbout(const CommandLine& line, std::ostream& out, std::ostream& err);
int RunBenchCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& cancel);

}  // namespace pyrix::preview
