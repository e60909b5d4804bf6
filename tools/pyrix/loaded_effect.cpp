#include "tools/pyrix/loaded_effect.h"

#include <iomanip>
#include <ostream>
#include <sstream>

namespace pyrix::preview {

void ReportFailure(std::ostream& err, const CommandResult& result, const std::string& where) {
    if (!result.message.empty()) {
        err << result.message << "\n";  // as the plug-in wrote it
    } else {
        err << "pyrix: " << where << result.Describe() << "\n";
    }
}

bool LoadEffect(const std::string& path, std::ostream& err, LoadedEffect* effect) {
    std::string error;
    effect->library = PluginLibrary::Open(path, &error);
    if (!effect->library) {
        err << "pyrix: " << (path.empty() ? "no plug-in library found; use --plugin PATH" : error)
            << "\n";
        return false;
    }
    effect->host =
        std::make_unique<EffectHost>(effect->library->dataEntry(), effect->library->effectMain());
    EffectHost& host = *effect->host;
    CommandResult result = host.Register();
    if (result.ok()) result = host.GlobalSetup();
    if (!result.ok()) {
        ReportFailure(err, result, "");
        return false;
    }
    result = host.ParamsSetup();
    if (!result.ok()) {
        ReportFailure(err, result, "");
        host.GlobalSetdown();  // global set-up succeeded: the effect gets to clean up
        return false;
    }
    return true;
}

bool Setdown(LoadedEffect& effect, std::ostream& err) {
    const CommandResult result = effect.host->GlobalSetdown();
    if (!result.ok()) ReportFailure(err, result, "");
    return result.ok();
}

std::string Fixed(double value, int precision) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(precision) << value;
    return text.str();
}

}  // namespace pyrix::preview
