// Loads the effect library at run time, as the host does, and finds its two entry points.
// The only place that knows about dlopen or LoadLibrary.
#pragma once

#include <memory>
#include <string>

#include "host_api/effect_api.h"

namespace pyrix::preview {

class PluginLibrary {
  public:
    // Null with *error set when the file cannot be loaded or lacks an entry point.
    static std::unique_ptr<PluginLibrary> Open(const std::string& path, std::string* error);
    ~PluginLibrary();

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    PF_PluginDataEntryFunc2 dataEntry() const { return dataEntry_; }
    PF_EffectMainFunc effectMain() const { return effectMain_; }
    const std::string& path() const { return path_; }

  private:
    PluginLibrary() = default;

    void* handle_ = nullptr;
    PF_PluginDataEntryFunc2 dataEntry_ = nullptr;
    PF_EffectMainFunc effectMain_ = nullptr;
    std::string path_;
};

// The plug-in built beside this program: the library's file name in the program's own folder
// if it is there, else where the build put it.
std::string DefaultPluginPath();

}  // namespace pyrix::preview
