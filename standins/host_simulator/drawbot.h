// The host's drawing suites for tests: "PF Effect Custom UI Suite" 2 and the DRAWBOT Draw (1),
// Supplier (1) and Surface (2) suites, provided through a Simulator. Every call is logged in the
// host's call list (so it interleaves with the suite acquisitions and releases) and what was
// drawn is recorded: the image's size and pixels, the transform, the origin and the opacity.
//
// One Drawbot at a time, created after its Simulator and destroyed before it; single-threaded
// like the host's UI thread.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "standins/host_simulator/simulator.h"

namespace host_sim {

// The drawing calls whose results a test can choose.
enum class DrawCall {
    kGetDrawingReference,
    kGetSupplier,
    kGetSurface,
    kNewImageFromBuffer,
    kReleaseObject,
    kPushStateStack,
    kPopStateStack,
    kTransform,
    kDrawImage,
    kAll,  // for SetMissing: every call above
};

struct ImageRecord {
    int width;
    int height;
    int rowBytes;
    DRAWBOT_PixelLayout layout;
    const void* pixels;
};

struct DrawRecord {
    bool knownImage;  // the image came from NewImageFromBuffer and was not released yet
    DRAWBOT_PointF32 origin;
    float opacity;
    int stateDepth;  // pushed states at the time of drawing
};

class Drawbot {
  public:
    // Provides the four suites to `host`.
    explicit Drawbot(Simulator& host);
    ~Drawbot();
    Drawbot(const Drawbot&) = delete;
    Drawbot& operator=(const Drawbot&) = delete;

    // The context handle to put in PF_EventExtra::contextH.
    PF_ContextH context() const;

    void SetResult(DrawCall call, PF_Err result);
    // Takes the call's slot out of its suite table (a null pointer), or puts it back.
    void SetMissing(DrawCall call, bool missing = true);
    // The drawing reference, supplier, surface or new image is handed out as null (result 0).
    void SetNullResult(DrawCall call, bool null = true);

    std::vector<ImageRecord> Images() const { return images_; }
    std::vector<DRAWBOT_MatrixF32> Transforms() const { return transforms_; }
    std::vector<DrawRecord> Draws() const { return draws_; }
    int StateDepth() const { return state_depth_; }  // pushes minus pops; 0 when balanced
    int LiveImages() const;                          // created and not released
    // Calls with a handle that these suites never handed out (or already took back), e.g.
    // "ReleaseObject(unknown object)".
    std::vector<std::string> Misuses() const { return misuses_; }

  private:
    static Drawbot& Current();
    void Serve(DrawCall only = DrawCall::kAll, bool missing = false);
    // Logs the call, notes a handle other than `token`'s (called `what`), gives the chosen result.
    PF_Err Enter(DrawCall call, const char* name, const void* handle, const char& token,
                 const char* what) {
        return Enter(call, name, handle == &token, what);
    }
    PF_Err Enter(DrawCall call, const char* name, bool known, const char* what);
    // Hands out `token` as *out unless the call fails or a null answer was chosen.
    template <typename Ref>
    PF_Err HandOut(DrawCall call, PF_Err result, Ref* out, const char& token);
    bool IsLiveImage(DRAWBOT_ImageRef ref) const;

    static PF_Err GetDrawingReference(PF_ContextH context, DRAWBOT_DrawRef* reference);
    static PF_Err GetSupplier(DRAWBOT_DrawRef reference, DRAWBOT_SupplierRef* supplier);
    static PF_Err GetSurface(DRAWBOT_DrawRef reference, DRAWBOT_SurfaceRef* surface);
    static PF_Err NewImageFromBuffer(DRAWBOT_SupplierRef supplier, int width, int height,
                                     int row_bytes, DRAWBOT_PixelLayout layout, const void* pixels,
                                     DRAWBOT_ImageRef* image);
    static PF_Err ReleaseObject(DRAWBOT_ObjectRef object);
    static PF_Err PushStateStack(DRAWBOT_SurfaceRef surface);
    static PF_Err PopStateStack(DRAWBOT_SurfaceRef surface);
    static PF_Err Transform(DRAWBOT_SurfaceRef surface, const DRAWBOT_MatrixF32* matrix);
    static PF_Err DrawImage(DRAWBOT_SurfaceRef surface, DRAWBOT_ImageRef image,
                            const DRAWBOT_PointF32* origin, float opacity);

    Simulator& host_;
    PF_EffectCustomUISuite2 custom_ui_suite_{};
    DRAWBOT_DrawbotSuite1 draw_suite_{};
    DRAWBOT_SupplierSuite1 supplier_suite_{};
    DRAWBOT_SurfaceSuite2 surface_suite_{};

    // Distinct addresses that stand for the host's objects.
    char context_token_ = 0;
    char drawing_token_ = 0;
    char supplier_token_ = 0;
    char surface_token_ = 0;
    std::deque<char> image_tokens_;
    std::vector<bool> image_live_;

    std::map<DrawCall, PF_Err> results_;
    std::map<DrawCall, bool> null_results_;
    std::vector<ImageRecord> images_;
    std::vector<DRAWBOT_MatrixF32> transforms_;
    std::vector<DrawRecord> draws_;
    std::vector<std::string> misuses_;
    int state_depth_ = 0;
};

}  // namespace host_sim
