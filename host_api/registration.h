// The one table of registration data. The registration callback, global set-up and the PiPL
// resource bytes (generated at build time from this header) all read it from here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_api/effect_api.h"

namespace pyrix {

namespace registration {

constexpr const char kEffectName[] = "vexo_Pyrix";
constexpr const char kMatchName[] = "Tazu Pyrix GPU";
constexpr const char kCategory[] = "Vexolab";
constexpr const char kEntryPointName[] = "EffectMain";
constexpr const char kSupportUrl[] = "https://vexolab.example";
// Who makes the effect and on what terms: the About text and the Windows version resource
// (company, copyright) both say these.
constexpr const char kMakerName[] = "an independent effects developer";
constexpr const char kLicenceLine[] = "Free to use, provided as is, without warranty";

constexpr A_long kEffectKind = 0x65464B54;  // 'eFKT'
constexpr A_long kApiVersionMajor = 13;
constexpr A_long kApiVersionMinor = 28;

// What the registration callback is told; the PiPL's reserved-info property holds 0 instead.
constexpr A_long kRegistrationReservedInfo = 8;
constexpr A_long kPiplReservedInfo = 0;

constexpr A_short kPiplEffectInfoFlags = 0;
constexpr A_short kPiplVersionMajor = 2;
constexpr A_short kPiplVersionMinor = 0;

// The PiPL resource as the Windows build embeds it.
constexpr int kPiplResourceId = 16000;
constexpr int kPiplLanguageId = 1033;  // English (United States)

// The host's version packing: build in bits 0-8, stage in 9-10, bug-fix in 11-14,
// sub-version in 15-18, version from bit 19.
constexpr A_u_long PackEffectVersion(A_u_long version, A_u_long subVersion, A_u_long bugFix,
                                     A_u_long stage, A_u_long build) {
    return (version << 19) | ((subVersion & 0xF) << 15) | ((bugFix & 0xF) << 11) |
           ((stage & 0x3) << 9) | (build & 0x1FF);
}

// The release's number. The PiPL, global set-up, the About dialog, the Windows version
// resource and the release package's file name all take it from here.
constexpr A_u_long kVersionMajor = 1;
constexpr A_u_long kVersionMinor = 0;
constexpr A_u_long kVersionBugFix = 0;
constexpr A_u_long kVersionBuild = 1;
constexpr A_u_long kStageRelease = 3;
constexpr A_u_long kEffectVersion =
    PackEffectVersion(kVersionMajor, kVersionMinor, kVersionBugFix, kStageRelease, kVersionBuild);

// "major.minor.bug-fix" of the numbers above, as users see it.
struct VersionText {
    char text[16] = {};
};
constexpr VersionText MakeVersionText(A_u_long major, A_u_long minor, A_u_long bugFix) {
    VersionText version;
    std::size_t length = 0;
    const A_u_long parts[] = {major, minor, bugFix};
    for (std::size_t i = 0; i < 3; ++i) {
        if (i > 0) version.text[length++] = '.';
        char digits[10] = {};
        std::size_t count = 0;
        A_u_long rest = parts[i];
        do {
            digits[count++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0);
        while (count > 0) version.text[length++] = digits[--count];
    }
    return version;
}
// Plain constexpr (internal linkage), as ui/about_text.h explains for the strings built there.
constexpr VersionText kVersion = MakeVersionText(kVersionMajor, kVersionMinor, kVersionBugFix);
constexpr const char* kVersionText = kVersion.text;

constexpr PF_OutFlags kGlobalOutFlags = PF_OutFlag_NON_PARAM_VARY | PF_OutFlag_I_DO_DIALOG |
                                        PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_CUSTOM_UI |
                                        PF_OutFlag_DEEP_COLOR_AWARE;

// The two GPU flags say that 32-bit frames can be rendered on the host's Direct3D 12 device;
// device set-up accepts a device offered by setting both, and declines it by clearing both.
constexpr PF_OutFlags2 kGpuOutFlags2 =
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 | PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING;
constexpr PF_OutFlags2 kGlobalOutFlags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER |
                                          PF_OutFlag2_FLOAT_COLOR_AWARE |
                                          PF_OutFlag2_SUPPORTS_THREADED_RENDERING | kGpuOutFlags2;

// The host caches these per effect; a change must be deliberate, never a side effect.
static_assert(kEffectVersion == 0x00080601, "effect version changed");
static_assert(kGlobalOutFlags == 0x02008424, "global out flags changed");
static_assert(kGlobalOutFlags2 == 0x2A001400, "global out flags 2 changed");

}  // namespace registration

}  // namespace pyrix
