// pyrix strip: one parameter over several values at one frame, the others at the defaults the
// plug-in declared, written as one labelled image.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tools/pyrix/image_writers.h"
#include "tools/pyrix/loaded_effect.h"
#include "tools/pyrix/parameter_strip.h"
#include "tools/pyrix/subcommands.h"

namespace pyrix::preview {
namespace {

// The name the plug-in declared for the parameter, with the axis for a point's coordinate.
std::string DeclaredName(const EffectHost& host, const StripParameter& parameter) {
    A_long id = 0;
    for (const ControlBinding& binding : kControlBindings) {
        if (binding.control == parameter.control) id = binding.paramId;
    }
    for (const PF_ParamDef& def : host.AddedParams()) {
        if (def.uu.id != id) continue;
        const A_char(&name)[32] = ParamName(def);
        std::string text(name, strnlen(name, sizeof name));
        if (parameter.axis == StripAxis::kX) text += " X";
        if (parameter.axis == StripAxis::kY) text += " Y";
        return text;
    }
    return parameter.name;
}

}  // namespace

int RunStrip(const CommandLine& line, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& cancel) {
    const StripJob& job = line.strip;
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;

    std::vector<StripCell> cells;
    for (size_t i = 0; i < job.values.size(); ++i) {
        RenderSettings settings = job.settings;
        SetStripValue(*job.parameter, job.values[i], &settings);
        StripCell cell{job.labels[i], {}};
        const CommandResult result =
            effect.host->RenderFrame(settings, job.frame, &cancel, &cell.image);
        if (!result.ok()) {
            if (!cancel.load()) ReportFailure(err, result, "value " + job.labels[i] + ": ");
            Setdown(effect, err);
            return cancel.load() ? kExitInterrupted : kExitFailed;
        }
        cells.push_back(std::move(cell));
    }
    const std::string title = DeclaredName(*effect.host, *job.parameter);
    const bool setdownOk = Setdown(effect, err);
    try {
        const auto folder = std::filesystem::u8path(job.output).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder);
        StripLayout layout;
        layout.scale = StripLabelScale(job.settings.layerHeight);
        WriteImageFile(job.output, ComposeParameterStrip(title, cells, layout));
    } catch (const std::exception& e) {
        err << "pyrix: " << e.what() << "\n";
        return kExitFailed;
    }
    out << "pyrix: " << title << " at " << cells.size() << " values, frame " << job.frame << ": "
        << job.output << "\n";
    return setdownOk ? kExitOk : kExitFailed;
}

}  // namespace pyrix::preview
