// Image files written from rendered frames. A file appears under its name only when it is
// complete: it is written under a temporary name and renamed at the end.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "tools/pyrix/frame_image.h"

namespace pyrix::preview {

enum class ImageFormat {
    kPng,      // 8-bit RGBA from 8-bit frames, 16-bit RGBA otherwise (libpng)
    kExr,      // 32-bit float RGBA (OpenEXR)
    kPam,      // 8-bit RGBA from 8-bit frames, 16-bit RGBA otherwise (netpbm PAM)
    kRgba32f,  // 32-bit float RGBA, our raw format (see docs/pyrix.md)
    kWebp,     // 8-bit RGBA (libwebp): lossless for one image, a lossy animation for a clip
};

// The format that a file name's extension asks for, if it is one of ours.
std::optional<ImageFormat> FormatForPath(const std::string& path);
// False for the formats whose library this build lacks.
bool FormatAvailable(ImageFormat format);
const char* FormatExtension(ImageFormat format);

// Writes `image` to `path` in the format of its extension. Throws std::runtime_error with a
// readable message on failure; nothing is left at `path` or under a temporary name then.
void WriteImageFile(const std::string& path, const FrameImage& image);

// Calls `write` with a temporary path beside `path` and renames the result to `path`; on a
// failure (an exception from `write`, or the rename) the temporary is removed and a
// std::runtime_error naming `path` is thrown.
void WriteFileAtomically(const std::string& path,
                         const std::function<void(const std::filesystem::path&)>& write);

// `pattern` with its first run of '#' replaced by the frame number, zero-padded to the run's
// length.
std::string ExpandFramePattern(const std::string& pattern, int32_t frame);

}  // namespace pyrix::preview
