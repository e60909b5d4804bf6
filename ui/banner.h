// The banner in the effect's control area of the Effect Controls panel, drawn through the host's
// DRAWBOT suites, and the holders that undo each drawing step on every way out.
#pragma once

#include "host/api/effect_api.h"

// Draws the banner for a draw event of the "About" parameter's control area and ignores every
// other event. Returns 0 unless it throws a HostError: PF_Err_INVALID_CALLBACK for a missing
// suite, PF_Err_INTERNAL_STRUCT_DAMAGED for a failed drawing call.
PF_Err HandleEvent(PF_InData* in_data, PF_EventExtra* extra);

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
