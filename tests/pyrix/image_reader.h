// Reads back the files pyrix writes, independently of its writers, for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;          // 8 or 16 per sample, 32 for float
    std::vector<double> rgba;  // samples as stored, row 0 first

    double at(int32_t x, int32_t y, int channel) const {
        return rgba[4 * (static_cast<size_t>(y) * width + x) + channel];
    }
};

// Throws std::runtime_error when the file is not a well-formed image of its kind.
DecodedImage ReadImage(const std::string& path);
