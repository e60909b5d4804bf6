// What the host simulator's files share inside it: the host's name and limits, the current
// simulator, text helpers, and the services of the full profile.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "standins/host_simulator/simulator.h"

namespace host_sim {

// The one simulator alive, if any.
inline std::atomic<Simulator*> gCurrent{nullptr};

// The name this host gives itself, to plug-ins and in its own messages.
constexpr const char* kHostName = "pyrix";
// Widest output this host allocates; beyond it the host's own limit has long been passed.
constexpr int64_t kMaxWorldDimension = 65536;

inline std::string Bounded(const char* text, size_t size) {
    return text == nullptr ? std::string() : std::string(text, strnlen(text, size));
}

inline std::string Bounded(const A_u_char* text, size_t size) {
    return Bounded(reinterpret_cast<const char*>(text), size);
}

inline std::string SuiteLabel(const std::string& name, int32_t version) {
    return name + ", " + std::to_string(version);
}

// One side of the frame: size * num / den rounded up, saturated to the record's range.
inline A_long ScaledSide(A_long size, const PF_RationalScale& scale) {
    if (scale.den == 0 || size <= 0) return 0;
    const int64_t scaled =
        (static_cast<int64_t>(size) * scale.num + static_cast<int64_t>(scale.den) - 1) / scale.den;
    return static_cast<A_long>(std::min<int64_t>(scaled, std::numeric_limits<A_long>::max()));
}

// ---- Services of the full profile (full_profile_services.cpp) ----------------------------------

// The C library's functions in the utility table, and memory blocks in the basic suite.
void ServeCLibrary(PF_UtilCallbacks& utils);
void ServeMemoryBlocks(SPBasicSuite& basic);
PF_Err GuidMixIn(PF_ProgPtr, A_u_long size, const void* buffer);
PF_Err CheckoutLayerPixels(PF_ProgPtr, A_long, PF_EffectWorld** pixels);

// Allocates the output buffer for `rect` at `depth` bits (frames.cpp).
bool AllocateWorld(const PF_LRect& rect, int32_t depth, OutputWorld* out);

}  // namespace host_sim
