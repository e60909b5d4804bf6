#include "tools/pyrix/plugin_library.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#ifndef PYRIX_PLUGIN_FILE_NAME
#define PYRIX_PLUGIN_FILE_NAME ""
#endif
#ifndef PYRIX_PLUGIN_BUILD_PATH
#define PYRIX_PLUGIN_BUILD_PATH ""
#endif

namespace pyrix::preview {
namespace {

#ifdef _WIN32
void* LoadModule(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryW(std::filesystem::u8path(path).wstring().c_str());
    if (module == nullptr)
        *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void UnloadModule(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}
std::filesystem::path ProgramPath() {
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length == 0 || length >= 32768) return {};
    return std::filesystem::path(std::wstring(buffer, length));
}
#else
void* LoadModule(const std::string& path, std::string* error) {
    // A bare file name would make dlopen search the system folders; keep it to the given file.
    std::string target = path;
    if (target.find('/') == std::string::npos) target = "./" + target;
    void* handle = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        *error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
    }
    return handle;
}
void* FindSymbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
void UnloadModule(void* handle) {
    dlclose(handle);
}
std::filesystem::path ProgramPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}
#endif

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string* error) {
    std::unique_ptr<PluginLibrary> library(new PluginLibrary());
    library->path_ = path;
    library->handle_ = LoadModule(path, error);
    if (library->handle_ == nullptr) return nullptr;

    // Function pointers travel through void* here, as the platform's loaders hand them out.
    library->dataEntry_ = reinterpret_cast<PF_PluginDataEntryFunc2>(
        FindSymbol(library->handle_, "PluginDataEntryFunction2"));
    library->effectMain_ =
        reinterpret_cast<PF_EffectMainFunc>(FindSymbol(library->handle_, "EffectMain"));
    if (library->dataEntry_ == nullptr || library->effectMain_ == nullptr) {
        *error = path + " does not export " +
                 (library->dataEntry_ == nullptr ? "PluginDataEntryFunction2" : "EffectMain");
        return nullptr;
    }
    return library;
}

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) UnloadModule(handle_);
}

std::string DefaultPluginPath() {
    const std::string fileName = PYRIX_PLUGIN_FILE_NAME;
    if (!fileName.empty()) {
        const auto program = ProgramPath();
        if (!program.empty()) {
            const auto beside = program.parent_path() / fileName;
            std::error_code ec;
            if (std::filesystem::is_regular_file(beside, ec)) return beside.u8string();
        }
    }
    return PYRIX_PLUGIN_BUILD_PATH;
}

}  // namespace pyrix::preview
