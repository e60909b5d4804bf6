#include "tools/pyrix/animated_image.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "tools/pyrix/image_writers.h"

#ifdef PYRIX_HAVE_WEBP
#include <webp/encode.h>
#include <webp/mux.h>
#endif

namespace pyrix::preview {

#ifdef PYRIX_HAVE_WEBP

// Fire is soft gradients on black: lossy WebP at this quality keeps them without the banding
// and dithering that a 256-colour palette gives, at a fraction of a lossless file's size.
constexpr float kWebpQuality = 80.0f;

struct AnimatedImage::Encoder {
    WebPAnimEncoder* encoder = nullptr;
    WebPConfig config;
    ~Encoder() {
        if (encoder != nullptr) WebPAnimEncoderDelete(encoder);
    }
};

bool AnimatedImageAvailable() {
    return true;
}

AnimatedImage::AnimatedImage(int32_t width, int32_t height, double fps)
    : encoder_(std::make_unique<Encoder>()), width_(width), height_(height), fps_(fps) {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&encoder_->config)) {
        throw std::runtime_error("libwebp version mismatch");
    }
    encoder_->config.quality = kWebpQuality;
    encoder_->config.method = 4;
    encoder_->encoder = WebPAnimEncoderNew(width, height, &options);
    if (encoder_->encoder == nullptr) {
        throw std::runtime_error("libwebp cannot start an animation of " + std::to_string(width) +
                                 "x" + std::to_string(height));
    }
}

AnimatedImage::~AnimatedImage() = default;

namespace {

int TimestampMs(int32_t frame, double fps) {
    return static_cast<int>(std::lround(frame * 1000.0 / fps));
}

}  // namespace

void AnimatedImage::Add(const FrameImage& frame) {
    if (frame.width != width_ || frame.height != height_) {
        throw std::runtime_error("a frame of another size cannot join the animation");
    }
    const size_t stride = 4 * static_cast<size_t>(width_);
    std::vector<uint8_t> rgba(stride * static_cast<size_t>(height_));
    for (int32_t y = 0; y < height_; ++y) RowToRgba8(frame, y, rgba.data() + stride * y);
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) throw std::runtime_error("libwebp version mismatch");
    picture.use_argb = 1;
    picture.width = width_;
    picture.height = height_;
    const bool imported = WebPPictureImportRGBA(&picture, rgba.data(), static_cast<int>(stride));
    const bool added =
        imported && WebPAnimEncoderAdd(encoder_->encoder, &picture, TimestampMs(frames_, fps_),
                                       &encoder_->config);
    WebPPictureFree(&picture);
    if (!added) {
        throw std::runtime_error(std::string("libwebp: ") +
                                 WebPAnimEncoderGetError(encoder_->encoder));
    }
    ++frames_;
}

void AnimatedImage::Write(const std::string& path) {
    // The last frame lasts until the end time given here.
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAdd(encoder_->encoder, nullptr, TimestampMs(frames_, fps_), nullptr) ||
        !WebPAnimEncoderAssemble(encoder_->encoder, &data)) {
        throw std::runtime_error(std::string("libwebp: ") +
                                 WebPAnimEncoderGetError(encoder_->encoder));
    }
    try {
        WriteFileAtomically(path, [&](const std::filesystem::path& temporary) {
#ifdef _WIN32
            FILE* file = _wfopen(temporary.wstring().c_str(), L"wb");
#else
            FILE* file = std::fopen(temporary.c_str(), "wb");
#endif
            if (file == nullptr) throw std::runtime_error("cannot open for writing");
            const bool written = std::fwrite(data.bytes, 1, data.size, file) == data.size;
            if (std::fclose(file) != 0 || !written) throw std::runtime_error("write failed");
        });
    } catch (...) {
        WebPDataClear(&data);
        throw;
    }
    WebPDataClear(&data);
}

#else  // no libwebp

struct AnimatedImage::Encoder {};

bool AnimatedImageAvailable() {
    return false;
}

AnimatedImage::AnimatedImage(int32_t width, int32_t height, double fps)
    : width_(width), height_(height), fps_(fps) {
    throw std::runtime_error("this build of pyrix cannot write animated images");
}
AnimatedImage::~AnimatedImage() = default;
void AnimatedImage::Add(const FrameImage&) {}
void AnimatedImage::Write(const std::string&) {}

#endif

}  // namespace pyrix::preview
