// What the About dialog and its text fallback say. The dialog template shows the same lines one
// per static control, so each line is defined once here and the fallback text is joined from
// them at compile time.
#pragma once

#include <cstddef>

#include "host_api/effect_api.h"
#include "host_api/registration.h"

namespace pyrix {

// Plain constexpr (internal linkage), like the registration constants these point into: an inline
// variable holding their addresses would differ between translation units.

namespace about_detail {

constexpr char kHttpsScheme[] = "https://";
constexpr std::size_t kHttpsSchemeLength = sizeof(kHttpsScheme) - 1;

constexpr bool StartsWith(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

}  // namespace about_detail

// The maker's web site: opened by "Visit Website", named when it cannot be opened, and (its host
// name) shown in the About text. The same address that registration gives the host.
constexpr const char* kWebsiteUrl = registration::kSupportUrl;
static_assert(about_detail::StartsWith(registration::kSupportUrl, about_detail::kHttpsScheme));
constexpr const char* kWebsiteHost = registration::kSupportUrl + about_detail::kHttpsSchemeLength;

constexpr const char* kAboutTitleLine = registration::kEffectName;
constexpr const char* kAboutShaderCreditLine =
    "Based on a public fire shader by its original author";
constexpr const char* kAboutPortCreditLine =
    "Shader port and noise function credited to their authors";
constexpr const char* kAboutLicenceLine = registration::kLicenceLine;

// The host shows the fallback text from its message buffer, zero included.
constexpr std::size_t kHostMessageCapacity = sizeof(PF_OutData::return_msg);

namespace about_detail {

struct JoinedText {
    char text[kHostMessageCapacity] = {};
    std::size_t length = 0;
    bool fits = true;
};

// The parts with `separator` between them and none after the last.
template <std::size_t Count>
constexpr JoinedText Join(const char* const (&lines)[Count], const char* separator) {
    JoinedText joined;
    for (std::size_t i = 0; i < Count; ++i) {
        for (const char* c = (i > 0 ? separator : ""); *c != '\0'; ++c) {
            if (joined.length + 1 >= kHostMessageCapacity) joined.fits = false;
            if (joined.fits) joined.text[joined.length++] = *c;
        }
        for (const char* c = lines[i]; *c != '\0'; ++c) {
            if (joined.length + 1 >= kHostMessageCapacity) joined.fits = false;
            if (joined.fits) joined.text[joined.length++] = *c;
        }
    }
    return joined;
}

constexpr const char* kMakerParts[] = {"Version ", registration::kVersionText, ", made by ",
                                       registration::kMakerName};
constexpr JoinedText kMakerJoined = Join(kMakerParts, "");
static_assert(kMakerJoined.fits);

}  // namespace about_detail

// The line naming the maker, with the version that the registration table holds.
constexpr const char* kAboutMakerLine = about_detail::kMakerJoined.text;

namespace about_detail {

constexpr const char* kAboutLines[] = {kAboutTitleLine,      kAboutMakerLine,
                                       kWebsiteHost,         kAboutShaderCreditLine,
                                       kAboutPortCreditLine, kAboutLicenceLine};
constexpr JoinedText kAboutJoined = Join(kAboutLines, "\r");
static_assert(kAboutJoined.fits, "the About text must fit the host's message buffer");

}  // namespace about_detail

// The About text: six lines, each a role of the dialog's static texts, in single-byte characters.
constexpr const char* kAboutText = about_detail::kAboutJoined.text;
constexpr std::size_t kAboutTextLength = about_detail::kAboutJoined.length;

}  // namespace pyrix
