// What every subcommand starts and ends with: the plug-in loaded and set up as the host does
// before its first frame, set down at the end, and failures reported as the plug-in wrote them.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "tools/pyrix/effect_host.h"
#include "tools/pyrix/plugin_library.h"

namespace pyrix::preview {

struct LoadedEffect {
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<EffectHost> host;
};

// Opens the library at `path`, registers it, runs global and parameter set-up. False (with the
// reason on `err`) when any of that fails; the effect is then set down if it was set up.
bool LoadEffect(const std::string& path, std::ostream& err, LoadedEffect* effect);

// Global set-down; false (reported) when the plug-in fails it.
bool Setdown(LoadedEffect& effect, std::ostream& err);

// The plug-in's message as written, or "pyrix: <where><command> failed with error <code>".
void ReportFailure(std::ostream& err, const CommandResult& result, const std::string& where);

// `value` with `precision` digits after the point.
std::string Fixed(double value, int precision);

}  // namespace pyrix::preview
