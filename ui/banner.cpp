#include "ui/banner.h"

#include <algorithm>
#include <cstdint>

#include "host_api/host_error.h"
#include "host_api/parameter_ids.h"
#include "host_api/suite_scope.h"
#include "resources/banner_image.h"

namespace pyrix {

namespace {

// Releases one DRAWBOT object (of reference type Ref) through the supplier suite, if one was
// adopted. The suite releases every kind of object through its one generic reference type.
template <typename Ref>
class DrawbotObjectScope {
  public:
    explicit DrawbotObjectScope(const DRAWBOT_SupplierSuite1* supplier_suite)
        : suite_(supplier_suite) {}
    ~DrawbotObjectScope() {
        if (object_ != nullptr) suite_->ReleaseObject(reinterpret_cast<DRAWBOT_ObjectRef>(object_));
    }
    DrawbotObjectScope(const DrawbotObjectScope&) = delete;
    DrawbotObjectScope& operator=(const DrawbotObjectScope&) = delete;

    // Takes ownership of an object that the supplier created (null: nothing).
    void Adopt(Ref object) { object_ = object; }
    Ref get() const { return object_; }

  private:
    const DRAWBOT_SupplierSuite1* suite_;
    Ref object_ = nullptr;
};

// Pops the surface's state stack if Push succeeded.
class SurfaceStateScope {
  public:
    SurfaceStateScope(const DRAWBOT_SurfaceSuite2* surface_suite, DRAWBOT_SurfaceRef surface)
        : suite_(surface_suite), surface_(surface) {}
    ~SurfaceStateScope() {
        if (pushed_) suite_->PopStateStack(surface_);
    }
    SurfaceStateScope(const SurfaceStateScope&) = delete;
    SurfaceStateScope& operator=(const SurfaceStateScope&) = delete;

    // PushStateStack's result; only a successful push is popped later.
    PF_Err Push() {
        const PF_Err err = suite_->PushStateStack(surface_);
        if (err == PF_Err_NONE) pushed_ = true;
        return err;
    }

  private:
    const DRAWBOT_SurfaceSuite2* suite_;
    DRAWBOT_SurfaceRef surface_;
    bool pushed_ = false;
};

// Drawing limits: the banner never uses more of the host's control area than the one the About
// parameter declares, in pixels.
constexpr float kBannerAreaMaxWidth = kAboutAreaWidth;
constexpr float kBannerAreaMaxHeight = kAboutAreaHeight;

// The image is four times the largest area it is drawn into, so it is only ever scaled down.
static_assert(kBannerWidth == 4 * kBannerAreaMaxWidth && kBannerHeight == 4 * kBannerAreaMaxHeight);

[[noreturn]] void Fail(PF_Err err) {
    throw HostError(err);
}

void Check(PF_Err err) {
    if (err != PF_Err_NONE) Fail(PF_Err_INTERNAL_STRUCT_DAMAGED);
}

bool IsBannerDrawEvent(const PF_EventExtra* extra) {
    return extra != nullptr && extra->e_type == PF_Event_DRAW &&
           extra->effect_win.index == kParamAbout && extra->effect_win.area == PF_EA_CONTROL;
}

// A side of the area in pixels; 64-bit so that a hostile rectangle cannot overflow.
float Extent(A_long from, A_long to) {
    return static_cast<float>(static_cast<int64_t>(to) - static_cast<int64_t>(from));
}

// Every slot the drawing calls, checked before the first drawing call: the holders call the
// release and pop slots on their way out.
void RequireDrawingSlots(const DRAWBOT_DrawbotSuite1& draw, const DRAWBOT_SupplierSuite1& supplier,
                         const DRAWBOT_SurfaceSuite2& surface) {
    if (draw.GetSupplier == nullptr || draw.GetSurface == nullptr ||
        supplier.NewImageFromBuffer == nullptr || supplier.ReleaseObject == nullptr ||
        surface.PushStateStack == nullptr || surface.PopStateStack == nullptr ||
        surface.Transform == nullptr || surface.DrawImage == nullptr) {
        Fail(PF_Err_INVALID_CALLBACK);
    }
}

// The image scaled into the w x h area of `frame`: left-aligned, centred vertically.
void DrawScaled(const DRAWBOT_SurfaceSuite2& suite, DRAWBOT_SurfaceRef surface,
                DRAWBOT_ImageRef image, const PF_Rect& frame, float w, float h) {
    // Single precision throughout, as the host's drawing does.
    const float s =
        std::min(h / static_cast<float>(kBannerHeight), w / static_cast<float>(kBannerWidth));
    const DRAWBOT_MatrixF32 scale = {{{s, 0.0f, 0.0f}, {0.0f, s, 0.0f}, {0.0f, 0.0f, 1.0f}}};
    Check(suite.Transform(surface, &scale));

    // In the scaled coordinates.
    const float drawn_height = static_cast<float>(kBannerHeight) * s;
    const DRAWBOT_PointF32 origin = {
        static_cast<float>(frame.left) / s,
        (static_cast<float>(frame.top) + (h - drawn_height) * 0.5f) / s};
    Check(suite.DrawImage(surface, image, &origin, 1.0f));
}

}  // namespace

PF_Err HandleEvent(PF_InData* in_data, PF_EventExtra* extra) {
    if (!IsBannerDrawEvent(extra)) return PF_Err_NONE;

    const PF_Rect& frame = extra->effect_win.current_frame;
    const float w = std::min(Extent(frame.left, frame.right), kBannerAreaMaxWidth);
    const float h = std::min(Extent(frame.top, frame.bottom), kBannerAreaMaxHeight);
    if (w <= 0.0f || h <= 0.0f) return PF_Err_NONE;

    const SPBasicSuite* basic = in_data != nullptr ? in_data->pica_basicP : nullptr;

    SuiteScope<PF_EffectCustomUISuite2> custom_ui(basic, kPFEffectCustomUISuite,
                                                  kPFEffectCustomUISuiteVersion2);
    // A table with an empty slot that the drawing needs is as unusable as no table.
    if (!custom_ui || custom_ui->PF_GetDrawingReference == nullptr) Fail(PF_Err_INVALID_CALLBACK);
    DRAWBOT_DrawRef drawing = nullptr;
    Check(custom_ui->PF_GetDrawingReference(extra->contextH, &drawing));
    if (drawing == nullptr) return PF_Err_NONE;

    SuiteScope<DRAWBOT_DrawbotSuite1> draw(basic, kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1);
    if (!draw) Fail(PF_Err_INVALID_CALLBACK);
    SuiteScope<DRAWBOT_SupplierSuite1> supplier_suite(basic, kDRAWBOT_SupplierSuite,
                                                      kDRAWBOT_SupplierSuite_Version1);
    if (!supplier_suite) Fail(PF_Err_INVALID_CALLBACK);
    SuiteScope<DRAWBOT_SurfaceSuite2> surface_suite(basic, kDRAWBOT_SurfaceSuite,
                                                    kDRAWBOT_SurfaceSuite_Version2);
    if (!surface_suite) Fail(PF_Err_INVALID_CALLBACK);

    RequireDrawingSlots(*draw.get(), *supplier_suite.get(), *surface_suite.get());

    DRAWBOT_SupplierRef supplier = nullptr;
    DRAWBOT_SurfaceRef surface = nullptr;
    Check(draw->GetSupplier(drawing, &supplier));
    Check(draw->GetSurface(drawing, &surface));
    // A host that reports success without handing out the object leaves nothing to draw with.
    if (supplier == nullptr || surface == nullptr) Fail(PF_Err_INTERNAL_STRUCT_DAMAGED);

    DrawbotObjectScope<DRAWBOT_ImageRef> image(supplier_suite.get());
    DRAWBOT_ImageRef created = nullptr;
    Check(supplier_suite->NewImageFromBuffer(supplier, kBannerWidth, kBannerHeight, kBannerRowBytes,
                                             kDRAWBOT_PixelLayout_32BGRA_Straight, kBannerImage,
                                             &created));
    image.Adopt(created);
    if (image.get() == nullptr) Fail(PF_Err_INTERNAL_STRUCT_DAMAGED);

    SurfaceStateScope state(surface_suite.get(), surface);
    Check(state.Push());

    DrawScaled(*surface_suite.get(), surface, image.get(), frame, w, h);  // in the (clamped) area

    extra->evt_out_flags |= PF_EO_HANDLED_EVENT | PF_EO_NEVER_UPDATE;
    return PF_Err_NONE;
}

}  // namespace pyrix
