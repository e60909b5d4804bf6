// Loads the plug-in file as the host does (LoadLibrary, the two exports by name), calls its
// registration function and global set-up, and prints what they answered as key=value lines.
// tools/windows/pe_check.py compares them with the PIPL resource of the same file. The records
// are the host's, every callback slot filled; neither call may use any of them, so each one ends
// this program with its name.
#include <windows.h>

#include <cstdio>
#include <string>

#include "host_api/effect_api.h"
#include "standins/host_simulator/host_tables.h"

namespace {

struct Registered {
    int calls = 0;
    PF_PluginDataPtr pointer = nullptr;
    std::string name, matchName, category, entryPoint, supportUrl;
    A_long kind = 0, apiMajor = 0, apiMinor = 0, reservedInfo = 0;
};

Registered gRegistered;

std::string Text(const A_u_char* text) {
    return text != nullptr ? reinterpret_cast<const char*>(text) : "(null)";
}

PF_Err Record(PF_PluginDataPtr pointer, const A_u_char* name, const A_u_char* matchName,
              const A_u_char* category, const A_u_char* entryPoint, A_long kind, A_long apiMajor,
              A_long apiMinor, A_long reservedInfo, const A_u_char* supportUrl) {
    ++gRegistered.calls;
    gRegistered.pointer = pointer;
    gRegistered.name = Text(name);
    gRegistered.matchName = Text(matchName);
    gRegistered.category = Text(category);
    gRegistered.entryPoint = Text(entryPoint);
    gRegistered.kind = kind;
    gRegistered.apiMajor = apiMajor;
    gRegistered.apiMinor = apiMinor;
    gRegistered.reservedInfo = reservedInfo;
    gRegistered.supportUrl = Text(supportUrl);
    return PF_Err_NONE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: register_probe PLUGIN.aex\n");
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) {
        std::fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    auto dataEntry = reinterpret_cast<PF_PluginDataEntryFunc2>(
        reinterpret_cast<void*>(GetProcAddress(library, "PluginDataEntryFunction2")));
    auto effectMain = reinterpret_cast<PF_EffectMainFunc>(
        reinterpret_cast<void*>(GetProcAddress(library, "EffectMain")));
    if (dataEntry == nullptr || effectMain == nullptr) {
        std::fprintf(stderr, "entry points missing\n");
        return 1;
    }

    SPBasicSuite basic{};
    host_abi::FillUnserved(basic);
    PF_UtilCallbacks utils{};
    host_abi::FillUnserved(utils);

    int hostToken = 0;  // what the host passes through as its opaque plug-in data
    auto* opaque = reinterpret_cast<PF_PluginDataPtr>(&hostToken);
    const PF_Err registerError = dataEntry(opaque, Record, &basic, "pyrix probe", "1.0");

    PF_InData in{};
    host_abi::FillUnserved(in.inter);
    host_abi::FillHostFields(in);
    in.utils = &utils;
    in.pica_basicP = &basic;
    in.num_params = 1;
    PF_OutData out{};
    const PF_Err setupError = effectMain(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr);

    std::printf("register_error=%ld\n", static_cast<long>(registerError));
    std::printf("calls=%d\n", gRegistered.calls);
    std::printf("same_pointer=%d\n", gRegistered.pointer == opaque ? 1 : 0);
    std::printf("name=%s\n", gRegistered.name.c_str());
    std::printf("match_name=%s\n", gRegistered.matchName.c_str());
    std::printf("category=%s\n", gRegistered.category.c_str());
    std::printf("entry_point=%s\n", gRegistered.entryPoint.c_str());
    std::printf("kind=%ld\n", static_cast<long>(gRegistered.kind));
    std::printf("api_major=%ld\n", static_cast<long>(gRegistered.apiMajor));
    std::printf("api_minor=%ld\n", static_cast<long>(gRegistered.apiMinor));
    std::printf("reserved_info=%ld\n", static_cast<long>(gRegistered.reservedInfo));
    std::printf("support_url=%s\n", gRegistered.supportUrl.c_str());
    std::printf("setup_error=%ld\n", static_cast<long>(setupError));
    std::printf("my_version=%lu\n", static_cast<unsigned long>(out.my_version));
    std::printf("out_flags=%lu\n",
                static_cast<unsigned long>(static_cast<A_u_long>(out.out_flags)));
    std::printf("out_flags2=%lu\n",
                static_cast<unsigned long>(static_cast<A_u_long>(out.out_flags2)));

    FreeLibrary(library);
    return registerError == PF_Err_NONE && setupError == PF_Err_NONE ? 0 : 1;
}
