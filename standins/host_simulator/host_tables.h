// For code that plays the host (the host simulator, the Wine programs): the values a host puts
// in the PF_InData fields that describe the host itself, and a way to fill every slot of a
// function table that the host does not serve, each with a function of the slot's own type that
// names the slot when called.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "host_api/effect_api.h"

namespace host_abi {

// The host's own fields of PF_InData, as the compositing host fills them for every command.
constexpr PF_SpecVersion kHostApiVersion = {13, 28};  // the effect API version it implements
constexpr A_AppID kHostApplicationId = 0x46585443;    // 'FXTC', the compositing host
constexpr PF_Fixed kShutterAngle = 180 << 16;         // degrees, 16.16: a composition's default
constexpr PF_Fixed kShutterPhase = -90 * 65536;       // degrees, 16.16: likewise

inline void FillHostFields(PF_InData& in) {
    in.version = kHostApiVersion;
    in.appl_id = kHostApplicationId;
    in.quality = PF_Quality_HI;
    in.serial_num = 0;  // no licence serial to report
    in.what_cpu = 0;    // neither CPU nor FPU kind is reported on 64-bit Windows
    in.what_fpu = 0;
    in.field = PF_Field_FRAME;
    in.in_flags = 0;
    in.shutter_angle = kShutterAngle;
    in.shutter_phase = kShutterPhase;
    in.pixel_aspect_ratio = {1, 1};
}

// What an unserved slot does when called: by default the program stops with the slot's name (a
// test host: the plug-in called what it must never call). A host that lets plug-ins carry on
// installs a handler that returns; the slot then answers PF_Err_INVALID_CALLBACK (null, 0).
using UnservedHandler = void (*)(const char* slot);
inline std::atomic<UnservedHandler> gUnservedHandler{nullptr};

inline void ReportUnserved(const char* slot) {
    if (const UnservedHandler handler = gUnservedHandler.load()) {
        handler(slot);
        return;
    }
    std::fprintf(stderr, "host: the plug-in called %s, which it must never call\n", slot);
    std::fflush(stderr);
    std::abort();
}

template <typename R>
R UnservedAnswer() {
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_pointer_v<R> || std::is_floating_point_v<R>) {
        return R{};
    } else {
        return static_cast<R>(PF_Err_INVALID_CALLBACK);
    }
}

template <typename Member>
struct SlotType;
template <typename Table, typename F>
struct SlotType<F Table::*> {
    using type = F;
};

// One function per slot (Slot tells them apart), of the slot's own type F. Tables are filled on
// any thread, so the slot's name is stored atomically (always the same text).
template <typename F, auto Slot>
struct Unserved;

template <typename R, typename... Args, auto Slot>
struct Unserved<R (*)(Args...), Slot> {
    static inline std::atomic<const char*> name{""};
    static R Call(Args...) {
        ReportUnserved(name.load());
        return UnservedAnswer<R>();
    }
};

template <typename R, typename... Args, auto Slot>
struct Unserved<R (*)(Args..., ...), Slot> {
    static inline std::atomic<const char*> name{""};
    static R Call(Args..., ...) {
        ReportUnserved(name.load());
        return UnservedAnswer<R>();
    }
};

template <auto Slot, typename Table>
void Unserve(Table& table, const char* name) {
    using Function = Unserved<typename SlotType<decltype(Slot)>::type, Slot>;
    Function::name.store(name);
    table.*Slot = &Function::Call;
}

}  // namespace host_abi

// Fills `table.slot` (table of type Type) with the unserved function for that slot.
#define HOST_ABI_UNSERVED(table, Type, slot) \
    ::host_abi::Unserve<&Type::slot>(table, #Type "." #slot)

// FillUnserved(table) for every table and suite of the host's record table, generated from
// host_api/records.tsv by tools/host_abi/unserved_slots.py.
namespace host_abi {
#include "host_abi/unserved_slots.h"
}  // namespace host_abi
