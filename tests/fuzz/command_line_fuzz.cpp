// Fuzz target: pyrix's command line. The bytes are the arguments, separated by zero bytes (the
// first byte picks a subcommand, so that most inputs get past it; strip's sizes are checked
// against the limits that keep its sheet drawable). A line either parses into
// values inside the documented ranges, or ends with help (exit 0) or a usage error (exit 2)
// with its text; nothing else leaves the parser.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/pyrix/animated_image.h"
#include "tools/pyrix/command_line.h"
#include "tools/pyrix/image_writers.h"
#include "tools/pyrix/parameter_strip.h"

namespace {

using fuzz::Fail;

bool InRange(double value, double low, double high) {
    return value >= low && value <= high;
}

void CheckRect(const PF_LRect& rect) {
    const int64_t width = int64_t(rect.right) - rect.left;
    const int64_t height = int64_t(rect.bottom) - rect.top;
    if (width < 1 || height < 1 || width > pyrix::preview::kMaxLayerDimension ||
        height > pyrix::preview::kMaxLayerDimension) {
        Fail("rectangle out of range");
    }
}

// A strip that parsed is one that can be drawn: every size it drives is inside its limit.
void CheckStrip(const pyrix::preview::StripJob& job) {
    using namespace pyrix::preview;
    if (job.parameter == nullptr) Fail("strip without a parameter");
    if (job.values.empty() || job.values.size() > kMaxStripValues ||
        job.labels.size() != job.values.size()) {
        Fail("strip values out of range", int64_t(job.values.size()));
    }
    for (size_t i = 0; i < job.values.size(); ++i) {
        if (!std::isfinite(job.values[i]) || (i > 0 && job.values[i] <= job.values[i - 1])) {
            Fail("strip values not finite and increasing");
        }
        if (job.labels[i].size() > kMaxStripLabelLength) Fail("strip label too long");
    }
    if (!InRange(job.settings.layerWidth, 1, kMaxLayerDimension) ||
        !InRange(job.settings.layerHeight, 1, kMaxLayerDimension)) {
        Fail("strip frame size out of range");
    }
    StripLayout layout;
    layout.scale = StripLabelScale(job.settings.layerHeight);
    const StripSize size =
        MeasureParameterStrip(kMaxStripTitleLength, job.values.size(), kMaxStripLabelLength,
                              job.settings.layerWidth, job.settings.layerHeight, layout);
    if (!StripLimitError(size, layout).empty()) Fail("strip past its limits");
    if (FormatForPath(job.output) == ImageFormat::kWebp &&
        std::max(size.width, size.height) > kMaxAnimatedSide) {
        Fail("WebP strip past the format's side");
    }
}

void CheckParsed(const pyrix::preview::CommandLine& line) {
    const pyrix::preview::RenderJob& job = line.render;
    const pyrix::preview::RenderSettings& s = job.settings;
    if (!InRange(s.layerWidth, 1, pyrix::preview::kMaxLayerDimension) ||
        !InRange(s.layerHeight, 1, pyrix::preview::kMaxLayerDimension)) {
        Fail("layer size out of range");
    }
    if (job.firstFrame < 1 || job.lastFrame < job.firstFrame ||
        job.lastFrame > pyrix::preview::kMaxFrameNumber) {
        Fail("frame range out of range");
    }
    if (!InRange(s.fps, 0.01, 1000.0)) Fail("fps out of range");
    if (!InRange(s.downsample, 1, 1000)) Fail("downsample out of range");
    if (s.depth != 8 && s.depth != 16 && s.depth != 32) Fail("depth out of range", s.depth);
    if (s.legacy && s.depth == 32) Fail("legacy render with float output");
    if (!InRange(job.threads, 1, 64)) Fail("threads out of range", job.threads);
    if (s.rect) CheckRect(*s.rect);
    if ((s.positionX && !std::isfinite(*s.positionX)) ||
        (s.positionY && !std::isfinite(*s.positionY))) {
        Fail("position not finite");
    }
    if (!InRange(line.bench.width, 1, pyrix::preview::kMaxLayerDimension) ||
        !InRange(line.bench.height, 1, pyrix::preview::kMaxLayerDimension) ||
        !InRange(line.bench.repeat, 1, 100000)) {
        Fail("bench settings out of range");
    }
    if (line.pluginPath.empty()) Fail("no plug-in path");
    if (line.command == pyrix::preview::Subcommand::kStrip) CheckStrip(line.strip);
}

// The value parsers on their own, with the same text.
void CheckValueParsers(const std::string& text) {
    if (const auto size = pyrix::preview::ParseSize(text)) {
        if (!InRange(size->first, 1, pyrix::preview::kMaxLayerDimension) ||
            !InRange(size->second, 1, pyrix::preview::kMaxLayerDimension)) {
            Fail("ParseSize out of range");
        }
    }
    if (const auto range = pyrix::preview::ParseFrameRange(text)) {
        if (range->first < 1 || range->second < range->first ||
            range->second > pyrix::preview::kMaxFrameNumber) {
            Fail("ParseFrameRange out of range");
        }
    }
    if (const auto position = pyrix::preview::ParsePosition(text)) {
        if (!std::isfinite(position->first) || !std::isfinite(position->second)) {
            Fail("ParsePosition not finite");
        }
    }
    if (const auto rect = pyrix::preview::ParseRect(text)) CheckRect(*rect);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kSubcommands[] = {"render", "info", "about", "bench", "", "strip"};
    fuzz::Input in(data, size);
    std::vector<std::string> args = {"pyrix"};
    const char* subcommand = in.Pick(kSubcommands);
    if (*subcommand != '\0') args.push_back(subcommand);
    constexpr size_t kMaxArgs = 24;
    while (!in.Empty() && args.size() < kMaxArgs) {
        char text[256];
        in.TakeString(text, sizeof(text));
        args.push_back(text);
    }
    if (args.size() > 2) CheckValueParsers(args[2]);

    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    std::ostringstream out;
    std::ostringstream err;
    int exitCode = -1;
    const auto line =
        pyrix::preview::ParseCommandLine(int(args.size()), argv.data(), out, err, &exitCode);
    if (line) {
        CheckParsed(*line);
    } else if (exitCode == 2) {
        if (err.str().empty()) Fail("usage error without text");
    } else if (exitCode != 0) {
        Fail("parser ended with an unknown exit code", exitCode);
    }
    return 0;
}
