// pyrix's host: the host simulator, asked for frames with the settings of pyrix's command line.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "host_api/effect_api.h"
#include "standins/host_simulator/simulator.h"
#include "tools/pyrix/frame_image.h"

namespace pyrix::preview {

using host_sim::CommandName;
using host_sim::CommandResult;
using host_sim::Registration;

// The effect's parameters, bound to the host's command-line controls by their fixed ids.
enum class Control { kPosition, kEmitterSize, kDetail, kSoftness, kSpeed, kOffset };

struct ControlBinding {
    Control control;
    A_long paramId;
};
extern const ControlBinding kControlBindings[6];

// What the user asked for, for every frame of a render. Unset controls take the default that
// the plug-in declared.
struct RenderSettings {
    int32_t layerWidth = 1280;
    int32_t layerHeight = 720;
    double fps = 24.0;
    int32_t downsample = 1;  // the host renders at 1/downsample of full resolution
    int32_t depth = 8;       // 8, 16 or 32
    bool legacy = false;
    // The output request in pixels of the current resolution; unset: the whole frame.
    std::optional<PF_LRect> rect;
    std::optional<double> positionX, positionY;  // percent of the layer
    std::optional<double> emitterSize, detail, softness, speed, offset;

    PF_LRect FullFrame() const;  // the whole frame at the current resolution
    PF_LRect Request() const;    // the rect, or the whole frame
    std::optional<double> SliderValue(Control control) const;
};

class EffectHost : public host_sim::Simulator {
  public:
    EffectHost(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain);

    // Renders frame `frame` (1 = time 0) of `settings`. The image covers the requested rect;
    // what the plug-in did not produce stays transparent. `cancel` is what the host's abort
    // callback answers.
    CommandResult RenderFrame(const RenderSettings& settings, int32_t frame,
                              const std::atomic<bool>* cancel, FrameImage* image);
};

}  // namespace pyrix::preview
