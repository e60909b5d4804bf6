#include "tools/pyrix/pyrix_app.h"

namespace pyrix::preview {

int RunCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& cancel, bool progress) {
    switch (line.command) {
        case Subcommand::kRender:
            return RunRender(line, out, err, cancel, progress);
        case Subcommand::kStrip:
            return RunStrip(line, out, err, cancel);
        case Subcommand::kInfo:
            return RunInfo(line, out, err);
        case Subcommand::kAbout:
            return RunAbout(line, out, err);
        case Subcommand::kBench:
            return RunBenchCommand(line, out, err, cancel);
    }
    return kExitUsage;
}

int RunPyrix(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& cancel, bool progress) {
    int exitCode = kExitOk;
    const std::optional<CommandLine> line = ParseCommandLine(argc, argv, out, err, &exitCode);
    if (!line) return exitCode;
    return RunCommand(*line, out, err, cancel, progress);
}

}  // namespace pyrix::preview
