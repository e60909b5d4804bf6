// Shared helpers of pyrix's tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/pyrix/frame_image.h"

// The whole file, or an empty string when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// A fresh empty folder for one test, removed afterwards.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> names() const;  // sorted, hidden files included

  private:
    std::filesystem::path path_;
};

// A host-layout frame whose every sample is distinct and known: see SampleAt.
pyrix::preview::FrameImage MakeTestFrame(int32_t width, int32_t height, int32_t depth);
// Sample `channel` (0 A, 1 R, 2 G, 3 B) of pixel (x, y) of MakeTestFrame, as the host stores it.
double HostSampleAt(int32_t x, int32_t y, int channel, int32_t depth);

// The lines of the test effect's log whose cmd is `command`, as key=value maps.
std::vector<std::map<std::string, std::string>> ReadPluginLog(const std::string& path,
                                                              const std::string& command);
