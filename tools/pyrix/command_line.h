// pyrix's command line: the subcommands, their options and the parsers of their values.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/pyrix/effect_host.h"

namespace pyrix::preview {

// Largest layer side and output request side the tool passes on, as the host's own limit.
constexpr int32_t kMaxLayerDimension = 30000;
constexpr int32_t kMaxFrameNumber = 1000000;

struct RenderJob {
    RenderSettings settings;
    int32_t firstFrame = 1;
    int32_t lastFrame = 48;
    int32_t threads = 1;
    bool hostGpu = false;        // offer the effect a Direct3D 12 device (Windows)
    int32_t gpuRounds = 1;       // device set-downs and set-ups in between, plus one
    int32_t abandonAfterMs = 0;  // each frame first started and abandoned after this; 0: not
    std::string outputPattern;   // empty: render without writing
    std::string contactSheet;    // empty: none
};

struct BenchJob {
    int32_t width = 1920;
    int32_t height = 1080;
    int32_t repeat = 10;
    int32_t depth = 8;  // bits per channel of the timed frames
};

// A parameter that a strip can vary: a slider, or one coordinate of the Position point.
enum class StripAxis { kNone, kX, kY };
struct StripParameter {
    const char* name;  // as on the command line
    Control control;
    StripAxis axis;
};
extern const StripParameter kStripParameters[7];
// Sets `value` as this parameter's value in `settings`.
void SetStripValue(const StripParameter& parameter, double value, RenderSettings* settings);

// Most frames a strip holds, side by side.
constexpr size_t kMaxStripValues = 12;

struct StripJob {
    const StripParameter* parameter = nullptr;
    std::vector<double> values;       // increasing
    std::vector<std::string> labels;  // the values as written
    RenderSettings settings;          // the rest at the plug-in's defaults
    int32_t frame = 24;
    std::string output;
};

enum class Subcommand { kRender, kStrip, kInfo, kAbout, kBench };

struct CommandLine {
    Subcommand command = Subcommand::kRender;
    std::string pluginPath;  // the library to load
    RenderJob render;
    StripJob strip;
    BenchJob bench;
};

// True when the render's -o names an animated image: every frame goes into that one file.
bool WritesAnimation(const RenderJob& job);

// Parses argv. Returns nothing when the program ends here: after --help (*exitCode 0) or a
// usage error (*exitCode 2, the error on `err`).
std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                            std::ostream& err, int* exitCode);

// Value parsers (value_parsers.cpp); nothing for malformed or out-of-range text.
// `text` cut at every `separator`: one part more than there are separators.
std::vector<std::string> Split(const std::string& text, char separator);
std::optional<std::pair<int32_t, int32_t>> ParseSize(const std::string& text);        // WxH
std::optional<std::pair<int32_t, int32_t>> ParseFrameRange(const std::string& text);  // A-B or A
std::optional<std::pair<double, double>> ParsePosition(const std::string& text);      // X,Y
std::optional<PF_LRect> ParseRect(const std::string& text);                           // L,T,R,B
// "A,B,C": finite numbers, strictly increasing; the error says what is wrong.
std::optional<std::vector<double>> ParseStripValues(const std::string& text, std::string* error);

}  // namespace pyrix::preview
