#include "tools/pyrix/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <thread>
#include <vector>

#include "tools/pyrix/animated_image.h"
#include "tools/pyrix/contact_sheet.h"
#include "tools/pyrix/image_writers.h"
#include "tools/pyrix/parameter_strip.h"
#include "tools/pyrix/plugin_library.h"

namespace pyrix::preview {
namespace {

// Throws the parser's own error type, so that the message names the option.
template <typename T>
T Require(const std::optional<T>& value, const std::string& option, const std::string& text,
          const std::string& expected) {
    if (!value) throw CLI::ValidationError(option, "expected " + expected + ", got '" + text + "'");
    return *value;
}

std::string FormatError(const std::string& option, const std::string& path) {
    const auto format = FormatForPath(path);
    if (!format)
        return option + ": unknown file type '" + path +
               "' (use .png, .exr, .pam, .rgba32f or .webp)";
    if (!FormatAvailable(*format)) {
        return option + ": this build of pyrix cannot write " + FormatExtension(*format) +
               " files (use .pam or .rgba32f)";
    }
    return {};
}

int32_t DefaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int32_t>(std::min(n, 8u));
}

}  // namespace

const StripParameter kStripParameters[7] = {
    {"position-x", Control::kPosition, StripAxis::kX},
    {"position-y", Control::kPosition, StripAxis::kY},
    {"emitter-size", Control::kEmitterSize, StripAxis::kNone},
    {"detail", Control::kDetail, StripAxis::kNone},
    {"softness", Control::kSoftness, StripAxis::kNone},
    {"speed", Control::kSpeed, StripAxis::kNone},
    {"offset", Control::kOffset, StripAxis::kNone},
};

void SetStripValue(const StripParameter& parameter, double value, RenderSettings* s) {
    switch (parameter.control) {
        case Control::kPosition:
            (parameter.axis == StripAxis::kY ? s->positionY : s->positionX) = value;
            break;
        case Control::kEmitterSize:
            s->emitterSize = value;
            break;
        case Control::kDetail:
            s->detail = value;
            break;
        case Control::kSoftness:
            s->softness = value;
            break;
        case Control::kSpeed:
            s->speed = value;
            break;
        case Control::kOffset:
            s->offset = value;
            break;
    }
}

bool WritesAnimation(const RenderJob& job) {
    return FormatForPath(job.outputPattern) == ImageFormat::kWebp;
}

namespace {

void AddPluginOption(CLI::App* command, std::string* pluginPath) {
    command->add_option("--plugin", *pluginPath,
                        "The effect library to load (default: the one built beside pyrix)");
}

// The callbacks run during parsing, after the Add functions return: they hold pointers into
// the job.
void AddFrameOptions(CLI::App* render, RenderJob* job) {
    RenderSettings* s = &job->settings;
    render
        ->add_option_function<std::string>(
            "--size",
            [s](const std::string& t) {
                std::tie(s->layerWidth, s->layerHeight) =
                    Require(ParseSize(t), "--size", t, "WxH, each 1 to 30000");
            },
            "Layer size in pixels, WxH (default 1280x720)")
        ->type_name("WxH");
    render
        ->add_option_function<std::string>(
            "--frames",
            [job](const std::string& t) {
                std::tie(job->firstFrame, job->lastFrame) =
                    Require(ParseFrameRange(t), "--frames", t, "A-B with 1 <= A <= B <= 1000000");
            },
            "Frames to render, inclusive; the first frame is 1 (default 1-48)")
        ->type_name("A-B");
    render->add_option("--fps", s->fps, "Frame rate (default 24)")->check(CLI::Range(0.01, 1000.0));
    render->add_option("--downsample", s->downsample, "Render at 1/N resolution (default 1)")
        ->check(CLI::Range(1, 1000));
    render->add_option("--depth", s->depth, "Bits per channel: 8, 16 or 32 (float) (default 8)")
        ->check(CLI::IsMember({8, 16, 32}));
}

// The effect's values: the position and every slider.
void AddEffectValueOptions(CLI::App* render, RenderSettings* s) {
    render
        ->add_option_function<std::string>(
            "--position",
            [s](const std::string& t) {
                std::tie(s->positionX, s->positionY) =
                    Require(ParsePosition(t), "--position", t, "X,Y as finite numbers");
            },
            "Position, in percent of the layer (default 50,70)")
        ->type_name("X,Y");
    const struct {
        const char* name;
        std::optional<double>* value;
        const char* help;
    } sliders[] = {
        {"--emitter-size", &s->emitterSize, "Emitter Size (default 100)"},
        {"--detail", &s->detail, "Detail (default 1)"},
        {"--softness", &s->softness, "Softness (default 0)"},
        {"--speed", &s->speed, "Speed (default 1)"},
        {"--offset", &s->offset, "Offset (default 0)"},
    };
    for (const auto& slider : sliders) {
        // Any number the host could hold is passed on, nan and inf included: the effect
        // decides what it accepts.
        std::optional<double>* value = slider.value;
        render
            ->add_option_function<double>(
                slider.name, [value](double v) { *value = v; }, slider.help)
            ->type_name("NUMBER");
    }
}

void AddRenderOptions(CLI::App* render, RenderJob* job) {
    AddFrameOptions(render, job);
    AddEffectValueOptions(render, &job->settings);
    RenderSettings* s = &job->settings;
    render
        ->add_option_function<std::string>(
            "--rect",
            [s](const std::string& t) {
                s->rect = Require(ParseRect(t), "--rect", t,
                                  "L,T,R,B with L < R, T < B, at most 30000 wide and high");
            },
            "Output request in pixels of the current resolution (default: the whole frame)")
        ->type_name("L,T,R,B");
    render->add_flag("--legacy", s->legacy,
                     "Use the legacy render command instead of smart render");
    render->add_option("--threads", job->threads, "Host render threads")->check(CLI::Range(1, 64));
    render->add_flag("--host-gpu", job->hostGpu,
                     "Offer the effect a Direct3D 12 device, as a host with GPU acceleration, "
                     "and render 32-bit frames on it (Windows)");
    render
        ->add_option("--gpu-rounds", job->gpuRounds,
                     "With --host-gpu: render in this many rounds, the device set down and "
                     "offered again between them (default 1)")
        ->check(CLI::Range(1, 1000));
    render
        ->add_option("--abandon-after", job->abandonAfterMs,
                     "Start each frame once first and abandon it: the host's abort says stop "
                     "this many milliseconds in, as when the user moves on (default: never)")
        ->check(CLI::Range(1, 60000));
    render
        ->add_option("-o,--output", job->outputPattern,
                     "Output files; #### becomes the frame number (.png, .exr, .pam, .rgba32f); "
                     "a .webp file holds all frames as one animation")
        ->type_name("PATTERN");
    render
        ->add_option("--contact-sheet", job->contactSheet,
                     "Also write a grid of all frames with their numbers to this file")
        ->type_name("PATH");
}

std::string StripParameterNames() {
    std::string names;
    for (const StripParameter& p : kStripParameters) {
        names += (names.empty() ? "" : ", ") + std::string(p.name);
    }
    return names;
}

void AddStripOptions(CLI::App* strip, StripJob* job) {
    job->settings.layerWidth = 320;
    job->settings.layerHeight = 180;
    strip
        ->add_option_function<std::string>(
            "--param",
            [job](const std::string& t) {
                job->parameter = nullptr;
                for (const StripParameter& p : kStripParameters) {
                    if (t == p.name) job->parameter = &p;
                }
                if (job->parameter == nullptr) {
                    throw CLI::ValidationError("--param", "unknown parameter '" + t + "' (use " +
                                                              StripParameterNames() + ")");
                }
            },
            "The parameter to vary: " + StripParameterNames())
        ->type_name("NAME")
        ->required();
    strip
        ->add_option_function<std::string>(
            "--values",
            [job](const std::string& t) {
                std::string error;
                const auto values = ParseStripValues(t, &error);
                if (!values) throw CLI::ValidationError("--values", error);
                job->values = *values;
                job->labels = Split(t, ',');
            },
            "Its values, increasing, e.g. 0,1,2.5 (negative ones as --values=-5,0,5)")
        ->type_name("A,B,...")
        ->required();
    strip
        ->add_option_function<std::string>(
            "--size",
            [job](const std::string& t) {
                std::tie(job->settings.layerWidth, job->settings.layerHeight) =
                    Require(ParseSize(t), "--size", t, "WxH, each 1 to 30000");
            },
            "Size of each frame, WxH (default 320x180)")
        ->type_name("WxH");
    strip->add_option("--frame", job->frame, "The frame shown, first frame 1 (default 24)")
        ->check(CLI::Range(1, kMaxFrameNumber));
    strip->add_option("--fps", job->settings.fps, "Frame rate (default 24)")
        ->check(CLI::Range(0.01, 1000.0));
    strip->add_option("-o,--output", job->output, "The image file (.png, .pam, .webp, ...)")
        ->type_name("PATH")
        ->required();
}

void AddBenchOptions(CLI::App* bench, BenchJob* job) {
    bench
        ->add_option_function<std::string>(
            "--size",
            [job](const std::string& t) {
                std::tie(job->width, job->height) =
                    Require(ParseSize(t), "--size", t, "WxH, each 1 to 30000");
            },
            "Frame size, WxH (default 1920x1080)")
        ->type_name("WxH");
    bench->add_option("--repeat", job->repeat, "Timed repetitions (default 10)")
        ->check(CLI::Range(1, 100000));
    bench->add_option("--depth", job->depth, "Bits per channel: 8, 16 or 32 (float) (default 8)")
        ->check(CLI::IsMember({8, 16, 32}));
}

// An animated file holds the whole clip: one name, and sizes the format and memory allow.
void CheckAnimation(const RenderJob& job) {
    const int64_t frames = int64_t{job.lastFrame} - job.firstFrame + 1;
    if (frames > kMaxAnimatedFrames) {
        throw CLI::ValidationError(
            "-o", "an animated image holds at most " + std::to_string(kMaxAnimatedFrames) +
                      " frames; --frames asks for " + std::to_string(frames));
    }
    const PF_LRect r = job.settings.Request();
    if (r.right - r.left > kMaxAnimatedSide || r.bottom - r.top > kMaxAnimatedSide) {
        throw CLI::ValidationError("-o", "an animated image is at most " +
                                             std::to_string(kMaxAnimatedSide) +
                                             " pixels wide and high");
    }
    if (job.outputPattern.find('#') != std::string::npos) {
        throw CLI::ValidationError("-o",
                                   "an animated image holds every frame in one file; drop the #");
    }
}

// A strip's labels and sheet are bounded before anything is rendered; the title, the name the
// plug-in declares, is taken at its longest.
void CheckStripJob(const StripJob& job) {
    for (const std::string& label : job.labels) {
        if (label.size() > kMaxStripLabelLength) {
            throw CLI::ValidationError("--values", "a value is written in at most " +
                                                       std::to_string(kMaxStripLabelLength) +
                                                       " characters, not " +
                                                       std::to_string(label.size()));
        }
    }
    StripLayout layout;
    layout.scale = StripLabelScale(job.settings.layerHeight);
    const StripSize size =
        MeasureParameterStrip(kMaxStripTitleLength, job.labels.size(), kMaxStripLabelLength,
                              job.settings.layerWidth, job.settings.layerHeight, layout);
    const std::string values = " (" + std::to_string(job.labels.size()) + " values at " +
                               std::to_string(job.settings.layerWidth) + "x" +
                               std::to_string(job.settings.layerHeight) + ")";
    if (const std::string error = StripLimitError(size, layout); !error.empty()) {
        throw CLI::ValidationError("--size", error + values);
    }
    if (FormatForPath(job.output) == ImageFormat::kWebp &&
        std::max(size.width, size.height) > kMaxAnimatedSide) {
        throw CLI::ValidationError("-o", "a WebP image is at most " +
                                             std::to_string(kMaxAnimatedSide) +
                                             " pixels wide and high" + values);
    }
    if (const auto e = FormatError("-o", job.output); !e.empty()) throw CLI::ValidationError(e);
}

// What no single option can check: how the render options fit together.
void CheckRenderJob(const RenderJob& job) {
    if (job.settings.legacy && job.settings.depth == 32) {
        throw CLI::ValidationError("--legacy",
                                   "the legacy render has no float output; use --depth "
                                   "8 or 16, or the smart render");
    }
    if (job.gpuRounds != 1 && !job.hostGpu) {
        throw CLI::ValidationError("--gpu-rounds", "device rounds need --host-gpu");
    }
    if (job.hostGpu && (job.settings.legacy || job.settings.depth != 32)) {
        throw CLI::ValidationError("--host-gpu",
                                   "GPU frames are 32-bit smart renders; use --depth 32 and no "
                                   "--legacy");
    }
    if (!job.outputPattern.empty()) {
        if (const auto e = FormatError("-o", job.outputPattern); !e.empty()) {
            throw CLI::ValidationError(e);
        }
        if (WritesAnimation(job)) {
            CheckAnimation(job);
        } else if (job.firstFrame != job.lastFrame &&
                   job.outputPattern.find('#') == std::string::npos) {
            throw CLI::ValidationError(
                "-o", "several frames need #### in the file name for the frame number");
        }
    }
    if (!job.contactSheet.empty()) {
        if (const auto e = FormatError("--contact-sheet", job.contactSheet); !e.empty()) {
            throw CLI::ValidationError(e);
        }
        if (int64_t{job.lastFrame} - job.firstFrame + 1 > kMaxContactSheetFrames) {
            throw CLI::ValidationError("--contact-sheet",
                                       "a contact sheet shows at most " +
                                           std::to_string(kMaxContactSheetFrames) + " frames");
        }
    }
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                            std::ostream& err, int* exitCode) {
    CommandLine line;
    line.render.threads = DefaultThreads();

    CLI::App app{"pyrix: loads the fire effect as the host does and renders, describes or times it",
                 "pyrix"};
    app.require_subcommand(1);
    // A later value of an option overrides an earlier one, so that scripts can append.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_all_flag("--help-all", "Help for every subcommand");

    CLI::App* render = app.add_subcommand("render", "Render frames and write them to files");
    AddPluginOption(render, &line.pluginPath);
    AddRenderOptions(render, &line.render);
    CLI::App* strip = app.add_subcommand(
        "strip", "Render one parameter over several values into one labelled image");
    AddPluginOption(strip, &line.pluginPath);
    AddStripOptions(strip, &line.strip);
    CLI::App* info = app.add_subcommand(
        "info", "Print the registration data, version, flags and parameters of the effect");
    AddPluginOption(info, &line.pluginPath);
    CLI::App* about = app.add_subcommand("about", "Print the effect's About text");
    AddPluginOption(about, &line.pluginPath);
    CLI::App* bench = app.add_subcommand("bench", "Time the kernels, the conversion and frames");
    AddPluginOption(bench, &line.pluginPath);
    AddBenchOptions(bench, &line.bench);

    try {
        app.parse(argc, argv);
        if (render->parsed()) CheckRenderJob(line.render);
        if (strip->parsed()) CheckStripJob(line.strip);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        *exitCode = code == 0 ? 0 : 2;
        return std::nullopt;
    }

    line.command = render->parsed()  ? Subcommand::kRender
                   : strip->parsed() ? Subcommand::kStrip
                   : info->parsed()  ? Subcommand::kInfo
                   : about->parsed() ? Subcommand::kAbout
                                     : Subcommand::kBench;
    if (line.pluginPath.empty()) line.pluginPath = DefaultPluginPath();
    return line;
}

}  // namespace pyrix::preview
