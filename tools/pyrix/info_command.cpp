// pyrix info: what the plug-in registers and declares, as the host records it.
#include <cstring>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/pyrix/loaded_effect.h"
#include "tools/pyrix/subcommands.h"

namespace pyrix::preview {
namespace {

std::string Hex(uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(8) << std::setfill('0') << value;
    return text.str();
}

std::string VersionText(A_u_long v) {
    // The host's packing: build in bits 0-8, stage 9-10, bug-fix 11-14, sub-version 15-18,
    // version from bit 19.
    static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
    std::ostringstream text;
    text << (v >> 19) << "." << ((v >> 15) & 0xF) << "." << ((v >> 11) & 0xF) << " "
         << kStages[(v >> 9) & 3] << " build " << (v & 0x1FF);
    return text.str();
}

std::string FlagNames(A_long flags, const std::vector<std::pair<A_long, const char*>>& names) {
    std::string text;
    A_long known = 0;
    for (const auto& [bit, name] : names) {
        if ((flags & bit) == 0) continue;
        text += (text.empty() ? "" : " | ") + std::string(name);
        known |= bit;
    }
    if ((flags & ~known) != 0)
        text += (text.empty() ? "" : " | ") + Hex(static_cast<uint32_t>(flags & ~known));
    return text.empty() ? "none" : text;
}

std::string ParamTypeName(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER:
            return "layer";
        case PF_Param_SLIDER:
            return "slider";
        case PF_Param_FIX_SLIDER:
            return "fixed slider";
        case PF_Param_ANGLE:
            return "angle";
        case PF_Param_CHECKBOX:
            return "checkbox";
        case PF_Param_COLOR:
            return "color";
        case PF_Param_POINT:
            return "point";
        case PF_Param_POPUP:
            return "popup";
        case PF_Param_NO_DATA:
            return "no data";
        case PF_Param_FLOAT_SLIDER:
            return "float slider";
        default:
            return "type " + std::to_string(type);
    }
}

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// What the plug-in declared, whether or not this host can render it; pointers into the plug-in
// (popup and checkbox texts) are not followed.
std::string ParamLine(A_long index, const PF_ParamDef& def) {
    const A_char(&name)[32] = ParamName(def);
    std::ostringstream text;
    text << "  " << index << "  \"" << std::string(name, strnlen(name, sizeof name)) << "\"  id "
         << def.uu.id << "  " << ParamTypeName(def.param_type);
    const PF_ParamDefUnion& u = def.u;
    switch (def.param_type) {
        case PF_Param_POINT:
            text << "  default " << Number(u.td.x_dephault / 65536.0) << ", "
                 << Number(u.td.y_dephault / 65536.0) << " (% of the layer)"
                 << (u.td.restrict_bounds ? "  restricted" : "  not restricted");
            break;
        case PF_Param_FLOAT_SLIDER:
            text << "  default " << Number(double(u.fs_d.dephault)) << "  valid "
                 << Number(double(u.fs_d.valid_min)) << " to " << Number(double(u.fs_d.valid_max))
                 << "  slider " << Number(double(u.fs_d.slider_min)) << " to "
                 << Number(double(u.fs_d.slider_max)) << "  precision " << u.fs_d.precision;
            break;
        case PF_Param_SLIDER:
            text << "  default " << u.sd.dephault << "  valid " << u.sd.valid_min << " to "
                 << u.sd.valid_max;
            break;
        case PF_Param_ANGLE:
            text << "  default " << Number(u.ad.dephault / 65536.0) << " degrees";
            break;
        case PF_Param_CHECKBOX:
            text << "  default " << (u.bd.dephault ? "on" : "off");
            break;
        case PF_Param_COLOR:
            text << "  default ARGB " << int{u.cd.dephault.alpha} << "," << int{u.cd.dephault.red}
                 << "," << int{u.cd.dephault.green} << "," << int{u.cd.dephault.blue};
            break;
        case PF_Param_POPUP:
            text << "  " << u.pd.num_choices << " choices, default " << u.pd.dephault;
            break;
        default:
            if (def.ui_width != 0 || def.ui_height != 0) {
                text << "  control " << def.ui_width << "x" << def.ui_height;
            }
            break;
    }
    return text.str();
}

}  // namespace

int RunInfo(const CommandLine& line, std::ostream& out, std::ostream& err) {
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;
    const EffectHost& host = *effect.host;
    const Registration& r = host.registration();
    const std::vector<std::string> buttons = host.OptionsButtonNames();
    const std::vector<PF_CustomUIInfo> ui = host.RegisteredUi();
    const std::vector<PF_ParamDef> params = host.AddedParams();
    const uint32_t kind = static_cast<uint32_t>(r.kind);
    const std::string kindText = {static_cast<char>(kind >> 24), static_cast<char>(kind >> 16),
                                  static_cast<char>(kind >> 8), static_cast<char>(kind)};
    out << "plug-in:      " << effect.library->path() << "\n"
        << "name:         " << r.name << "\n"
        << "match name:   " << r.matchName << "\n"
        << "category:     " << r.category << "\n"
        << "entry point:  " << r.entryPoint << "\n"
        << "kind:         '" << kindText << "' (" << Hex(kind) << ")\n"
        << "API version:  " << r.apiMajor << "." << r.apiMinor << "\n"
        << "reserved:     " << r.reservedInfo << "\n"
        << "support URL:  " << r.supportUrl << "\n"
        << "version:      " << VersionText(host.version()) << " (" << Hex(host.version()) << ")\n"
        << "out_flags:    " << Hex(static_cast<uint32_t>(host.outFlags())) << "  "
        << FlagNames(host.outFlags(), {{PF_OutFlag_NON_PARAM_VARY, "NON_PARAM_VARY"},
                                       {PF_OutFlag_I_DO_DIALOG, "I_DO_DIALOG"},
                                       {PF_OutFlag_DISPLAY_ERROR_MESSAGE, "DISPLAY_ERROR_MESSAGE"},
                                       {PF_OutFlag_PIX_INDEPENDENT, "PIX_INDEPENDENT"},
                                       {PF_OutFlag_CUSTOM_UI, "CUSTOM_UI"},
                                       {PF_OutFlag_DEEP_COLOR_AWARE, "DEEP_COLOR_AWARE"}})
        << "\n"
        << "out_flags2:   " << Hex(static_cast<uint32_t>(host.outFlags2())) << "  "
        << FlagNames(host.outFlags2(),
                     {{PF_OutFlag2_SUPPORTS_SMART_RENDER, "SUPPORTS_SMART_RENDER"},
                      {PF_OutFlag2_FLOAT_COLOR_AWARE, "FLOAT_COLOR_AWARE"},
                      {PF_OutFlag2_SUPPORTS_GPU_RENDER_F32, "SUPPORTS_GPU_RENDER_F32"},
                      {PF_OutFlag2_SUPPORTS_THREADED_RENDERING, "SUPPORTS_THREADED_RENDERING"},
                      {PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING, "SUPPORTS_DIRECTX_RENDERING"}})
        << "\n"
        << "options button: \"" << (buttons.empty() ? "" : buttons.back()) << "\"\n"
        << "custom UI events: " << (ui.empty() ? 0 : ui.back().events) << "\n"
        << "parameters:   " << host.declaredParamCount() << " (the input layer included)\n"
        << "  0  input layer\n";
    for (size_t i = 0; i < params.size(); ++i) {
        out << ParamLine(static_cast<A_long>(i + 1), params[i]) << "\n";
    }
    for (const std::string& what : host.UnservedCalls()) {
        out << "not served:   " << what << "\n";
    }
    return Setdown(effect, err) ? kExitOk : kExitFailed;
}

}  // namespace pyrix::preview
