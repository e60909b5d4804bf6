// One clip as one animated WebP file (libwebp's animation encoder): lossy frames, looping for
// ever, each shown for 1/fps seconds. Frames are added in order as they are rendered, so the
// clip never sits in memory whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/pyrix/frame_image.h"

namespace pyrix::preview {

// What an animated file may hold: the format's own limit on a side, and a frame count that
// keeps a preview a preview (about 40 s at 24 fps).
constexpr int32_t kMaxAnimatedFrames = 1000;
constexpr int32_t kMaxAnimatedSide = 16383;

// False when this build lacks libwebp.
bool AnimatedImageAvailable();

class AnimatedImage {
  public:
    // Throws std::runtime_error when the encoder cannot start (or this build has none).
    AnimatedImage(int32_t width, int32_t height, double fps);
    ~AnimatedImage();
    AnimatedImage(const AnimatedImage&) = delete;
    AnimatedImage& operator=(const AnimatedImage&) = delete;

    // The next frame, of the size given above, in any depth (written as 8 bits). Throws
    // std::runtime_error when the encoder fails.
    void Add(const FrameImage& frame);
    int32_t frameCount() const { return frames_; }

    // Assembles the animation and writes it to `path`, complete or not at all.
    void Write(const std::string& path);

  private:
    struct Encoder;
    std::unique_ptr<Encoder> encoder_;
    int32_t width_;
    int32_t height_;
    double fps_;
    int32_t frames_ = 0;
};

}  // namespace pyrix::preview
