// The parameter values of one frame, in the form the frame render uses.
#pragma once

#include <cstdint>

// The values each setting may take: the host's sliders accept them, the frame render clamps to
// them.
struct SettingRange {
    float min;
    float max;
};
constexpr SettingRange kEmitterSizeRange{0.0f, 1000.0f};
constexpr SettingRange kDetailRange{0.0f, 5.0f};
constexpr SettingRange kSoftnessRange{0.0f, 100.0f};
constexpr SettingRange kSpeedRange{-1000000.0f, 1000000.0f};
constexpr SettingRange kOffsetRange{-1000000.0f, 1000000.0f};

struct EffectSettings {
    float detail = 1.0f;
    float speed = 1.0f;
    float offset = 0.0f;
    float frameNumber = 1.0f;  // current time in frames; the frame at time 0 is 1
    float positionX = 0.5f;    // fraction of the layer width, 0 = left edge
    float positionY = 0.7f;    // fraction of the layer height, 0 = top edge
    float emitterSize = 100.0f;
    float softness = 0.0f;
    int32_t layerWidth = 0;  // full-resolution layer size, set by the render entry
    int32_t layerHeight = 0;
};
