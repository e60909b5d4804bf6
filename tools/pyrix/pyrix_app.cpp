#include "tools/pyrix/pyrix_app.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <mutex>
#include <new>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/pyrix/bench.h"
#include "tools/pyrix/contact_sheet.h"
#include "tools/pyrix/frame_scheduler.h"
#include "tools/pyrix/image_writers.h"
#include "tools/pyrix/plugin_library.h"

namespace pyrix::preview {
namespace {

// Thumbnails of the contact sheet fit in this box.
constexpr int32_t kThumbnailWidth = 240;
constexpr int32_t kThumbnailHeight = 180;

// The plug-in, loaded and set up as the host does before its first frame.
struct LoadedEffect {
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<EffectHost> host;
};

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

std::string Hex(uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(8) << std::setfill('0') << value;
    return text.str();
}

std::string Fixed(double value, int precision) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(precision) << value;
    return text.str();
}

// ---- render ------------------------------------------------------------------------------------

class ProgressBar {
  public:
    ProgressBar(std::ostream& err, bool enabled, int32_t total)
        : err_(err), enabled_(enabled), total_(total) {}

    void Update(int32_t done) {
        if (!enabled_) return;
        constexpr int kWidth = 40;
        const int filled = static_cast<int>(static_cast<int64_t>(kWidth) * done / total_);
        err_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << done << "/"
             << total_ << " frames" << std::flush;
    }
    void Finish() {
        if (enabled_) err_ << "\n";
    }

  private:
    std::ostream& err_;
    bool enabled_;
    int32_t total_;
};

bool CreateOutputFolders(const RenderJob& job, std::ostream& err) {
    for (const std::string& path : {job.outputPattern, job.contactSheet}) {
        if (path.empty()) continue;
        const auto folder = std::filesystem::u8path(path).parent_path();
        std::error_code ec;
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
        if (ec) {
            err << "pyrix: cannot create " << folder.u8string() << ": " << ec.message() << "\n";
            return false;
        }
    }
    return true;
}

// One frame rendered and, when asked for, written to its file.
struct FrameOutcome {
    CommandResult result;
    FrameImage image;
    std::string writeError;  // also a frame too large for memory

    bool ok() const { return result.ok() && writeError.empty(); }
};

FrameOutcome RenderAndWriteFrame(EffectHost& host, const RenderJob& job, int32_t frame,
                                 const std::atomic<bool>& cancel) {
    FrameOutcome outcome;
    try {
        outcome.result = host.RenderFrame(job.settings, frame, &cancel, &outcome.image);
        if (outcome.result.ok() && !job.outputPattern.empty()) {
            WriteImageFile(ExpandFramePattern(job.outputPattern, frame), outcome.image);
        }
    } catch (const std::bad_alloc&) {
        const PF_LRect r = job.settings.Request();
        outcome.writeError = "out of memory for a frame of " + std::to_string(r.right - r.left) +
                             "x" + std::to_string(r.bottom - r.top);
    } catch (const std::exception& e) {
        outcome.writeError = e.what();
    }
    return outcome;
}

void ReportFrameFailure(std::ostream& err, int32_t frame, const FrameOutcome& outcome) {
    if (!outcome.result.ok()) {
        ReportFailure(err, outcome.result, "frame " + std::to_string(frame) + ": ");
    } else {
        err << "pyrix: frame " << frame << ": " << outcome.writeError << "\n";
    }
}

// What the frame threads share; the mutex guards the rest.
struct RenderTally {
    std::mutex mutex;
    int32_t written = 0;
    int32_t failed = 0;
    std::vector<Thumbnail> thumbnails;
};

bool WriteContactSheet(const std::string& path, std::vector<Thumbnail> thumbnails,
                       std::ostream& err) {
    try {
        WriteImageFile(path, ComposeContactSheet(std::move(thumbnails)));
    } catch (const std::exception& e) {
        err << "pyrix: " << e.what() << "\n";
        return false;
    }
    return true;
}

void PrintRenderSummary(std::ostream& out, const RenderJob& job, int32_t written, double seconds) {
    const PF_LRect request = job.settings.Request();
    out << "pyrix: " << written << " frames of " << (request.right - request.left) << "x"
        << (request.bottom - request.top) << " at " << job.settings.depth << " bits ("
        << (job.settings.legacy ? "legacy render" : "smart render") << ", " << job.threads
        << (job.threads == 1 ? " thread" : " threads") << ") in " << Fixed(seconds, 2) << " s, "
        << Fixed(seconds * 1000.0 / written, 1) << " ms/frame";
    if (!job.outputPattern.empty()) out << "; files: " << job.outputPattern;
    if (!job.contactSheet.empty()) out << "; contact sheet: " << job.contactSheet;
    out << "\n";
}

int RunRender(const CommandLine& line, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& cancel, bool progress) {
    const RenderJob& job = line.render;
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;
    if (!CreateOutputFolders(job, err)) return kExitFailed;

    const int32_t total = job.lastFrame - job.firstFrame + 1;
    RenderTally tally;
    ProgressBar bar(err, progress, total);
    bar.Update(0);

    const auto start = std::chrono::steady_clock::now();
    EffectHost& host = *effect.host;
    RenderFrames(
        job.firstFrame, job.lastFrame, job.threads,
        [&](int32_t frame) {
            const FrameOutcome outcome = RenderAndWriteFrame(host, job, frame, cancel);
            // A frame that the user's Ctrl-C cancelled is not a failure.
            if (outcome.result.error == PF_Interrupt_CANCEL && cancel.load()) return false;
            Thumbnail thumbnail;
            if (outcome.ok() && !job.contactSheet.empty()) {
                thumbnail = {frame,
                             MakeThumbnail(outcome.image, kThumbnailWidth, kThumbnailHeight)};
            }

            std::lock_guard<std::mutex> lock(tally.mutex);
            if (!outcome.ok()) {
                ++tally.failed;
                if (progress) err << "\n";
                ReportFrameFailure(err, frame, outcome);
                return false;
            }
            ++tally.written;
            if (!job.contactSheet.empty()) tally.thumbnails.push_back(std::move(thumbnail));
            bar.Update(tally.written);
            return true;
        },
        cancel);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bar.Finish();

    const bool setdownOk = Setdown(effect, err);
    if (cancel.load()) {
        err << "pyrix: interrupted; " << tally.written << " of " << total
            << " frames were written, none in part\n";
        return kExitInterrupted;
    }
    if (tally.failed > 0) {
        err << "pyrix: stopped after a failed frame; " << tally.written << " of " << total
            << " frames written\n";
        return kExitFailed;
    }
    if (!job.contactSheet.empty() &&
        !WriteContactSheet(job.contactSheet, std::move(tally.thumbnails), err)) {
        return kExitFailed;
    }
    PrintRenderSummary(out, job, tally.written, seconds);
    return setdownOk ? kExitOk : kExitFailed;
}

// ---- info and about ----------------------------------------------------------------------------

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
                      {PF_OutFlag2_SUPPORTS_THREADED_RENDERING, "SUPPORTS_THREADED_RENDERING"}})
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

// ---- bench -------------------------------------------------------------------------------------

int RunBenchCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>& cancel) {
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;
    RenderSettings settings;
    settings.layerWidth = line.bench.width;
    settings.layerHeight = line.bench.height;

    // Through EffectMain, end to end; the first frame also creates the renderer.
    FrameImage image;
    CommandResult result = effect.host->RenderFrame(settings, 1, &cancel, &image);
    double total = 0.0;
    for (int32_t i = 0; result.ok() && i < line.bench.repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = effect.host->RenderFrame(settings, 1, &cancel, &image);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (!result.ok()) {
        ReportFailure(err, result, "");
        Setdown(effect, err);
        return cancel.load() ? kExitInterrupted : kExitFailed;
    }

    out << "size: " << line.bench.width << "x" << line.bench.height << "\n";
    for (const BenchFigure& figure :
         MeasureInternals(line.bench.width, line.bench.height, line.bench.repeat)) {
        out << figure.name << ": " << Fixed(figure.value, 2) << " " << figure.unit << "\n";
    }
    out << "frame: " << Fixed(total * 1000.0 / line.bench.repeat, 2) << " ms\n";
    return Setdown(effect, err) ? kExitOk : kExitFailed;
}

}  // namespace

int RunCommand(const CommandLine& line, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& cancel, bool progress) {
    switch (line.command) {
        case Subcommand::kRender:
            return RunRender(line, out, err, cancel, progress);
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
