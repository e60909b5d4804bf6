#include "standins/host_simulator/drawbot.h"

#include <stdexcept>

#include "standins/host_simulator/host_tables.h"

namespace host_sim {
namespace {

Drawbot* gCurrentDrawbot = nullptr;

template <typename Ref>
Ref TokenRef(const char& token) {
    return reinterpret_cast<Ref>(const_cast<char*>(&token));
}

}  // namespace

Drawbot::Drawbot(Simulator& host) : host_(host) {
    if (gCurrentDrawbot != nullptr) throw std::logic_error("only one Drawbot at a time");
    gCurrentDrawbot = this;

    host_abi::FillUnserved(custom_ui_suite_);
    host_abi::FillUnserved(draw_suite_);
    host_abi::FillUnserved(supplier_suite_);
    host_abi::FillUnserved(surface_suite_);
    Serve();

    host_.ProvideSuite(kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion2, &custom_ui_suite_);
    host_.ProvideSuite(kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1, &draw_suite_);
    host_.ProvideSuite(kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_Version1, &supplier_suite_);
    host_.ProvideSuite(kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version2, &surface_suite_);
}

Drawbot::~Drawbot() {
    host_.RemoveSuite(kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion2);
    host_.RemoveSuite(kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1);
    host_.RemoveSuite(kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_Version1);
    host_.RemoveSuite(kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version2);
    gCurrentDrawbot = nullptr;
}

void Drawbot::Serve(DrawCall only, bool missing) {
    const bool all = only == DrawCall::kAll;
    auto serve = [&](DrawCall call, auto& slot, auto function) {
        if (all || call == only) slot = missing ? nullptr : function;
    };
    serve(DrawCall::kGetDrawingReference, custom_ui_suite_.PF_GetDrawingReference,
          &GetDrawingReference);
    serve(DrawCall::kGetSupplier, draw_suite_.GetSupplier, &GetSupplier);
    serve(DrawCall::kGetSurface, draw_suite_.GetSurface, &GetSurface);
    serve(DrawCall::kNewImageFromBuffer, supplier_suite_.NewImageFromBuffer, &NewImageFromBuffer);
    serve(DrawCall::kReleaseObject, supplier_suite_.ReleaseObject, &ReleaseObject);
    serve(DrawCall::kPushStateStack, surface_suite_.PushStateStack, &PushStateStack);
    serve(DrawCall::kPopStateStack, surface_suite_.PopStateStack, &PopStateStack);
    serve(DrawCall::kTransform, surface_suite_.Transform, &Transform);
    serve(DrawCall::kDrawImage, surface_suite_.DrawImage, &DrawImage);
}

void Drawbot::SetMissing(DrawCall call, bool missing) {
    Serve(call, missing);
}

PF_ContextH Drawbot::context() const {
    return TokenRef<PF_ContextH>(context_token_);
}

void Drawbot::SetResult(DrawCall call, PF_Err result) {
    results_[call] = result;
}

void Drawbot::SetNullResult(DrawCall call, bool null) {
    null_results_[call] = null;
}

int Drawbot::LiveImages() const {
    int live = 0;
    for (bool alive : image_live_) live += alive ? 1 : 0;
    return live;
}

Drawbot& Drawbot::Current() {
    if (gCurrentDrawbot == nullptr)
        throw std::logic_error("drawing call without the drawing suites");
    return *gCurrentDrawbot;
}

PF_Err Drawbot::Enter(DrawCall call, const char* name, bool known, const char* what) {
    host_.Record(name);
    if (!known) misuses_.push_back(std::string(name) + "(unknown " + what + ")");
    const auto found = results_.find(call);
    return found != results_.end() ? found->second : PF_Err_NONE;
}

template <typename Ref>
PF_Err Drawbot::HandOut(DrawCall call, PF_Err result, Ref* out, const char& token) {
    if (out == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    *out = nullptr;
    if (result != PF_Err_NONE || null_results_[call]) return result;
    *out = TokenRef<Ref>(token);
    return PF_Err_NONE;
}

bool Drawbot::IsLiveImage(DRAWBOT_ImageRef ref) const {
    for (std::size_t i = 0; i < image_tokens_.size(); ++i) {
        if (ref == TokenRef<DRAWBOT_ImageRef>(image_tokens_[i])) return image_live_[i];
    }
    return false;
}

PF_Err Drawbot::GetDrawingReference(PF_ContextH context, DRAWBOT_DrawRef* reference) {
    Drawbot& self = Current();
    const PF_Err result = self.Enter(DrawCall::kGetDrawingReference, "PF_GetDrawingReference",
                                     context, self.context_token_, "context");
    return self.HandOut(DrawCall::kGetDrawingReference, result, reference, self.drawing_token_);
}

PF_Err Drawbot::GetSupplier(DRAWBOT_DrawRef reference, DRAWBOT_SupplierRef* supplier) {
    Drawbot& self = Current();
    const PF_Err result = self.Enter(DrawCall::kGetSupplier, "GetSupplier", reference,
                                     self.drawing_token_, "drawing reference");
    return self.HandOut(DrawCall::kGetSupplier, result, supplier, self.supplier_token_);
}

PF_Err Drawbot::GetSurface(DRAWBOT_DrawRef reference, DRAWBOT_SurfaceRef* surface) {
    Drawbot& self = Current();
    const PF_Err result = self.Enter(DrawCall::kGetSurface, "GetSurface", reference,
                                     self.drawing_token_, "drawing reference");
    return self.HandOut(DrawCall::kGetSurface, result, surface, self.surface_token_);
}

PF_Err Drawbot::NewImageFromBuffer(DRAWBOT_SupplierRef supplier, int width, int height,
                                   int row_bytes, DRAWBOT_PixelLayout layout, const void* pixels,
                                   DRAWBOT_ImageRef* image) {
    Drawbot& self = Current();
    const PF_Err result = self.Enter(DrawCall::kNewImageFromBuffer, "NewImageFromBuffer", supplier,
                                     self.supplier_token_, "supplier");
    if (image != nullptr) self.images_.push_back({width, height, row_bytes, layout, pixels});
    self.image_tokens_.push_back(0);
    self.image_live_.push_back(false);
    const PF_Err handed =
        self.HandOut(DrawCall::kNewImageFromBuffer, result, image, self.image_tokens_.back());
    self.image_live_.back() = image != nullptr && *image != nullptr;
    return handed;
}

PF_Err Drawbot::ReleaseObject(DRAWBOT_ObjectRef object) {
    Drawbot& self = Current();
    bool released = false;
    for (std::size_t i = 0; i < self.image_tokens_.size(); ++i) {
        if (object == TokenRef<DRAWBOT_ObjectRef>(self.image_tokens_[i]) && self.image_live_[i]) {
            self.image_live_[i] = false;
            released = true;
        }
    }
    return self.Enter(DrawCall::kReleaseObject, "ReleaseObject", released, "object");
}

PF_Err Drawbot::PushStateStack(DRAWBOT_SurfaceRef surface) {
    Drawbot& self = Current();
    const PF_Err result = self.Enter(DrawCall::kPushStateStack, "PushStateStack", surface,
                                     self.surface_token_, "surface");
    if (result == PF_Err_NONE) ++self.state_depth_;
    return result;
}

PF_Err Drawbot::PopStateStack(DRAWBOT_SurfaceRef surface) {
    Drawbot& self = Current();
    const PF_Err result = self.Enter(DrawCall::kPopStateStack, "PopStateStack", surface,
                                     self.surface_token_, "surface");
    if (self.state_depth_ == 0) {
        self.misuses_.push_back("PopStateStack(nothing pushed)");
    } else {
        --self.state_depth_;
    }
    return result;
}

PF_Err Drawbot::Transform(DRAWBOT_SurfaceRef surface, const DRAWBOT_MatrixF32* matrix) {
    Drawbot& self = Current();
    const PF_Err result =
        self.Enter(DrawCall::kTransform, "Transform", surface, self.surface_token_, "surface");
    if (matrix == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    self.transforms_.push_back(*matrix);
    return result;
}

PF_Err Drawbot::DrawImage(DRAWBOT_SurfaceRef surface, DRAWBOT_ImageRef image,
                          const DRAWBOT_PointF32* origin, float opacity) {
    Drawbot& self = Current();
    const PF_Err result =
        self.Enter(DrawCall::kDrawImage, "DrawImage", surface, self.surface_token_, "surface");
    if (origin == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    self.draws_.push_back({self.IsLiveImage(image), *origin, opacity, self.state_depth_});
    return result;
}

}  // namespace host_sim
