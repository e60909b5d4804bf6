#include "tools/pyrix/frame_image.h"

#include <cmath>
#include <cstring>

namespace pyrix::preview {
namespace {

constexpr uint32_t kHostFullScale16 = 32768;

float ReadFloat(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint16_t ReadU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

float Unit(float v) {
    if (!std::isfinite(v)) return 0.0f;
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

// A misbehaving plug-in may write 16-bit values above full scale; they count as full scale.
uint32_t Host16(const uint8_t* p) {
    const uint32_t v = ReadU16(p);
    return v > kHostFullScale16 ? kHostFullScale16 : v;
}

// ARGB at the host's layout to RGBA order: source channel for each destination channel.
constexpr int kChannelOf[4] = {1, 2, 3, 0};

}  // namespace

FrameImage FrameImage::Blank(int32_t width, int32_t height, int32_t depth) {
    FrameImage image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.pixels.assign(image.rowBytes() * static_cast<size_t>(height), 0);
    return image;
}

namespace {

// Walks one row of the host's ARGB pixels and writes RGBA, channel by channel; `channel` turns a
// host channel (its address and the frame's depth) into the destination value.
template <typename Out, typename Channel>
void RowToRgba(const FrameImage& image, int32_t y, Out* rgba, Channel channel) {
    const uint8_t* src = image.row(y);
    for (int32_t x = 0; x < image.width; ++x) {
        const uint8_t* pixel = src + image.pixelBytes() * static_cast<size_t>(x);
        for (int c = 0; c < 4; ++c) {
            const int s = kChannelOf[c];
            const uint8_t* at = pixel + static_cast<size_t>(s) * image.pixelBytes() / 4;
            rgba[4 * x + c] = channel(at);
        }
    }
}

}  // namespace

void RowToRgba8(const FrameImage& image, int32_t y, uint8_t* rgba) {
    RowToRgba(image, y, rgba, [&](const uint8_t* at) {
        uint32_t v;
        if (image.depth == 32) {
            v = static_cast<uint32_t>(Unit(ReadFloat(at)) * 255.0f + 0.5f);
        } else if (image.depth == 16) {
            v = (Host16(at) * 255 + kHostFullScale16 / 2) / kHostFullScale16;
        } else {
            v = *at;
        }
        return static_cast<uint8_t>(v);
    });
}

void RowToRgba16(const FrameImage& image, int32_t y, uint16_t* rgba) {
    RowToRgba(image, y, rgba, [&](const uint8_t* at) {
        uint32_t v;
        if (image.depth == 32) {
            v = static_cast<uint32_t>(Unit(ReadFloat(at)) * 65535.0f + 0.5f);
        } else if (image.depth == 16) {
            v = (Host16(at) * 65535 + kHostFullScale16 / 2) / kHostFullScale16;
        } else {
            v = *at * 257u;
        }
        return static_cast<uint16_t>(v);
    });
}

void RowToRgbaFloat(const FrameImage& image, int32_t y, float* rgba) {
    RowToRgba(image, y, rgba, [&](const uint8_t* at) {
        if (image.depth == 32) return ReadFloat(at);
        if (image.depth == 16) return static_cast<float>(Host16(at)) / 32768.0f;
        return static_cast<float>(*at) / 255.0f;
    });
}

}  // namespace pyrix::preview
