#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

TempFolder::TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("pyrix_test_" + std::to_string(getpid()) + "_" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

double HostSampleAt(int32_t x, int32_t y, int channel, int32_t depth) {
    // Alpha varies too, so that the writers' channel order shows.
    const int32_t v = (x * 7 + y * 13 + channel * 61) % 256;
    if (depth == 8) return v;
    if (depth == 16) return v * 128;  // 0 .. 32640, inside the host's 0..32768
    return v / 64.0 - 1.0;            // floats below 0 and above 1 too
}

pyrix::preview::FrameImage MakeTestFrame(int32_t width, int32_t height, int32_t depth) {
    pyrix::preview::FrameImage image = pyrix::preview::FrameImage::Blank(width, height, depth);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = image.row(y) + image.pixelBytes() * static_cast<size_t>(x);
            for (int c = 0; c < 4; ++c) {
                const double v = HostSampleAt(x, y, c, depth);
                if (depth == 8) {
                    p[c] = static_cast<uint8_t>(v);
                } else if (depth == 16) {
                    const auto s = static_cast<uint16_t>(v);
                    std::memcpy(p + 2 * c, &s, 2);
                } else {
                    const auto f = static_cast<float>(v);
                    std::memcpy(p + 4 * c, &f, 4);
                }
            }
        }
    }
    return image;
}

std::vector<std::map<std::string, std::string>> ReadPluginLog(const std::string& path,
                                                              const std::string& command) {
    std::vector<std::map<std::string, std::string>> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const size_t eq = word.find('=');
            if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
        if (fields["cmd"] == command) lines.push_back(fields);
    }
    return lines;
}
