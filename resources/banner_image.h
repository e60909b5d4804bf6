// The banner image compiled into the library: 32-bit BGRA, straight alpha, rows without gaps.
// The pixels are generated at build time by resources/banner_gen.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pyrix {

inline constexpr int kBannerWidth = 960;
inline constexpr int kBannerHeight = 240;
inline constexpr int kBannerBytesPerPixel = 4;  // blue, green, red, alpha
inline constexpr int kBannerRowBytes = kBannerWidth * kBannerBytesPerPixel;
inline constexpr std::size_t kBannerImageSize =
    static_cast<std::size_t>(kBannerRowBytes) * kBannerHeight;

extern const uint8_t kBannerImage[kBannerImageSize];

}  // namespace pyrix
