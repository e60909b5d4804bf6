// pyrix about: the About command, answered with text by a host without a window.
#include <ostream>
#include <string>

#include "tools/pyrix/loaded_effect.h"
#include "tools/pyrix/subcommands.h"

namespace pyrix::preview {

int RunAbout(const CommandLine& line, std::ostream& out, std::ostream& err) {
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;
    std::string text;
    const CommandResult result = effect.host->About(&text);
    if (!result.ok()) {
        ReportFailure(err, result, "");
        Setdown(effect, err);
        return kExitFailed;
    }
    out << text << "\n";
    return Setdown(effect, err) ? kExitOk : kExitFailed;
}

}  // namespace pyrix::preview
