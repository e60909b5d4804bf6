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

namespace host_abi {

// Every function slot of a table, unserved; a host then puts in what it serves.
inline void FillUnserved(PF_InteractCallbacks& table) {
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, checkout_param);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, checkin_param);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, add_param);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, abort);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, progress);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, register_ui);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, checkout_layer_audio);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, checkin_layer_audio);
    HOST_ABI_UNSERVED(table, PF_InteractCallbacks, get_audio_data);
}

inline void FillUnserved(PF_ANSICallbacksBlock& table) {
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, atan);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, atan2);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, ceil);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, cos);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, exp);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, fabs);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, floor);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, fmod);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, hypot);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, log);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, log10);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, pow);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, sin);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, sqrt);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, tan);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, sprintf);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, strcpy);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, asin);
    HOST_ABI_UNSERVED(table, PF_ANSICallbacksBlock, acos);
}

inline void FillUnserved(PF_ColorCallbacks& table) {
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, RGBtoHLS);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, HLStoRGB);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, RGBtoYIQ);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, YIQtoRGB);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, Luminance);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, Hue);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, Lightness);
    HOST_ABI_UNSERVED(table, PF_ColorCallbacks, Saturation);
}

inline void FillUnserved(PF_UtilCallbacks& table) {
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, begin_sampling);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, subpixel_sample);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, area_sample);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, end_sampling);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, composite_rect);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, blend);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, convolve);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, copy);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, fill);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, gaussian_kernel);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, premultiply);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, premultiply_color);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, new_world);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, dispose_world);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate_origin);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate_lut);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, transfer_rect);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, transform_world);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, host_new_handle);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, host_lock_handle);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, host_unlock_handle);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, host_dispose_handle);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, get_callback_addr);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, app);
    FillUnserved(table.ansi);
    FillUnserved(table.colorCB);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, get_platform_data);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, host_get_handle_size);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate_origin_non_clip_src);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate_generic);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, host_resize_handle);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, subpixel_sample16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, area_sample16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, fill16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, premultiply_color16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate_origin16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, iterate_origin_non_clip_src16);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, get_pixel_data8);
    HOST_ABI_UNSERVED(table, PF_UtilCallbacks, get_pixel_data16);
}

inline void FillUnserved(SPBasicSuite& table) {
    HOST_ABI_UNSERVED(table, SPBasicSuite, AcquireSuite);
    HOST_ABI_UNSERVED(table, SPBasicSuite, ReleaseSuite);
    HOST_ABI_UNSERVED(table, SPBasicSuite, IsEqual);
    HOST_ABI_UNSERVED(table, SPBasicSuite, AllocateBlock);
    HOST_ABI_UNSERVED(table, SPBasicSuite, FreeBlock);
    HOST_ABI_UNSERVED(table, SPBasicSuite, ReallocateBlock);
    HOST_ABI_UNSERVED(table, SPBasicSuite, Undefined);
}

inline void FillUnserved(PF_PreRenderCallbacks& table) {
    HOST_ABI_UNSERVED(table, PF_PreRenderCallbacks, checkout_layer);
    HOST_ABI_UNSERVED(table, PF_PreRenderCallbacks, GuidMixInPtr);
}

inline void FillUnserved(PF_SmartRenderCallbacks& table) {
    HOST_ABI_UNSERVED(table, PF_SmartRenderCallbacks, checkout_layer_pixels);
    HOST_ABI_UNSERVED(table, PF_SmartRenderCallbacks, checkin_layer_pixels);
    HOST_ABI_UNSERVED(table, PF_SmartRenderCallbacks, checkout_output);
}

inline void FillUnserved(PF_EventCallbacks& table) {
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, layer_to_comp);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, comp_to_layer);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, get_comp2layer_xform);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, get_layer2comp_xform);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, source_to_frame);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, frame_to_source);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, info_draw_color);
    HOST_ABI_UNSERVED(table, PF_EventCallbacks, info_draw_text);
}

inline void FillUnserved(PF_EffectUISuite1& table) {
    HOST_ABI_UNSERVED(table, PF_EffectUISuite1, PF_SetOptionsButtonName);
}

inline void FillUnserved(PF_EffectCustomUISuite2& table) {
    HOST_ABI_UNSERVED(table, PF_EffectCustomUISuite2, PF_GetDrawingReference);
    HOST_ABI_UNSERVED(table, PF_EffectCustomUISuite2, PF_GetContextAsyncManager);
}

inline void FillUnserved(DRAWBOT_DrawbotSuite1& table) {
    HOST_ABI_UNSERVED(table, DRAWBOT_DrawbotSuite1, GetSupplier);
    HOST_ABI_UNSERVED(table, DRAWBOT_DrawbotSuite1, GetSurface);
}

inline void FillUnserved(DRAWBOT_SupplierSuite1& table) {
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, NewPen);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, NewBrush);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, SupportsText);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, GetDefaultFontSize);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, NewDefaultFont);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, NewImageFromBuffer);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, NewPath);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, SupportsPixelLayoutBGRA);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, PrefersPixelLayoutBGRA);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, SupportsPixelLayoutARGB);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, PrefersPixelLayoutARGB);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, RetainObject);
    HOST_ABI_UNSERVED(table, DRAWBOT_SupplierSuite1, ReleaseObject);
}

inline void FillUnserved(DRAWBOT_SurfaceSuite1& table) {
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, PushStateStack);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, PopStateStack);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, PaintRect);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, FillPath);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, StrokePath);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, Clip);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, GetClipBounds);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, IsWithinClipBounds);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, Transform);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, DrawString);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, DrawImage);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, SetInterpolationPolicy);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, GetInterpolationPolicy);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, SetAntiAliasPolicy);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, GetAntiAliasPolicy);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, Flush);
    HOST_ABI_UNSERVED(table, DRAWBOT_SurfaceSuite1, GetTransformToScreenScale);
}

inline void FillUnserved(PFAppSuite6& table) {
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_AppGetBgColor);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_AppGetColor);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_AppGetLanguage);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_GetPersonalInfo);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_GetFontStyleSheet);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_SetCursor);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_IsRenderEngine);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_AppColorPickerDialog);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_GetMouse);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_InvalidateRect);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_ConvertLocalToGlobal);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_GetColorAtGlobalPoint);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_CreateNewAppProgressDialog);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_AppProgressDialogUpdate);
    HOST_ABI_UNSERVED(table, PFAppSuite6, PF_DisposeAppProgressDialog);
}
}  // namespace host_abi
