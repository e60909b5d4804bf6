// The host side of the effect API: the records and callbacks through which a loaded plug-in is
// set up and asked for frames, filled as the compositing host fills them.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/api/effect_api.h"
#include "tools/pyrix/frame_image.h"

namespace pyrix {

// The outcome of one call into the plug-in.
struct CommandResult {
    PF_Cmd command = 0;
    PF_Err error = PF_Err_NONE;
    std::string message;  // the plug-in's own text, when it wrote one

    bool ok() const { return error == PF_Err_NONE; }
    // The plug-in's message as written, or the command and its code.
    std::string Describe() const;
};

const char* CommandName(PF_Cmd command);

struct Registration {
    int calls = 0;
    std::string name, matchName, category, entryPoint, supportUrl;
    A_long kind = 0;
    A_long apiMajor = 0;
    A_long apiMinor = 0;
    A_long reservedInfo = 0;
};

// The effect's parameters, bound to the host's command-line controls by their fixed ids.
enum class Control { kPosition, kEmitterSize, kDetail, kSoftness, kSpeed, kOffset };

struct ControlBinding {
    Control control;
    A_long paramId;
};
extern const ControlBinding kControlBindings[6];

// What the user asked for, for every frame of a render. Unset controls take the default that
// the plug-in declared.
struct RenderSettings {
    int32_t layerWidth = 1280;
    int32_t layerHeight = 720;
    double fps = 24.0;
    int32_t downsample = 1;  // the host renders at 1/downsample of full resolution
    int32_t depth = 8;       // 8, 16 or 32
    bool legacy = false;
    // The output request in pixels of the current resolution; unset: the whole frame.
    std::optional<PF_LRect> rect;
    std::optional<double> positionX, positionY;  // percent of the layer
    std::optional<double> emitterSize, detail, softness, speed, offset;

    PF_LRect FullFrame() const;  // the whole frame at the current resolution
    PF_LRect Request() const;    // the rect, or the whole frame
    std::optional<double> SliderValue(Control control) const;
};

class EffectHost {
  public:
    EffectHost(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain);
    ~EffectHost();

    EffectHost(const EffectHost&) = delete;
    EffectHost& operator=(const EffectHost&) = delete;

    // The plug-in's registration call, then global and parameter set-up, as the host does it
    // once before the first frame.
    CommandResult Register();
    CommandResult GlobalSetup();
    CommandResult ParamsSetup();
    CommandResult GlobalSetdown();
    // The About command; the text comes back in *text with line breaks.
    CommandResult About(std::string* text);

    // Renders frame `frame` (1 = time 0) of `settings`: pre-render and smart render, or the
    // legacy render. The image covers the requested rect; what the plug-in did not produce
    // stays transparent. `cancel` is what the host's abort callback answers.
    CommandResult RenderFrame(const RenderSettings& settings, int32_t frame,
                              const std::atomic<bool>* cancel, FrameImage* image);

    const Registration& registration() const { return registration_; }
    A_u_long version() const { return version_; }
    PF_OutFlags outFlags() const { return outFlags_; }
    PF_OutFlags2 outFlags2() const { return outFlags2_; }
    const std::vector<PF_ParamDef>& params() const { return params_; }  // index 1 first
    A_long declaredParamCount() const { return numParams_; }
    const std::string& optionsButtonName() const { return optionsButtonName_; }
    A_long customUiEvents() const { return customUiEvents_; }

    // Host bookkeeping that tells whether the plug-in returned what it borrowed.
    long outstandingParamCheckouts() const { return paramCheckouts_.load(); }
    static long OutstandingSuites();
    static long OutstandingHandles();  // allocated through the utility callbacks, not disposed
    // What plug-ins asked for that this host does not offer, with the answer they got, e.g.
    // "PF_UtilCallbacks.iterate (answered 515)" or "suite \"X\" version 1 (answered 'S!Fd')".
    static std::vector<std::string> UnservedCalls();

    // The value the host answers for a parameter at the current resolution.
    PF_ParamDef ParamAt(const RenderSettings& settings, A_long index) const;

    struct Command;  // one call's records; the plug-in's effect_ref points at it

  private:
    CommandResult Call(PF_Cmd cmd, Command& command, PF_ParamDef** params, PF_LayerDef* output,
                       void* extra);
    CommandResult SmartRender(Command& command, const PF_LRect& request, FrameImage* image);
    CommandResult LegacyRender(Command& command, const PF_LRect& request, FrameImage* image);

    static PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def);
    static PF_Err CheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step,
                                A_u_long scale, PF_ParamDef* param);
    static PF_Err CheckinParam(PF_ProgPtr ref, PF_ParamDef* param);
    static PF_Err Abort(PF_ProgPtr ref);
    static PF_Err Progress(PF_ProgPtr ref, A_long current, A_long total);
    static PF_Err RegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info);
    static PF_Err SetOptionsButtonName(PF_ProgPtr ref, const A_char* name);
    static PF_Err CheckoutLayer(PF_ProgPtr ref, PF_ParamIndex index, A_long checkoutId,
                                const PF_RenderRequest* request, A_long time, A_long step,
                                A_u_long scale, PF_CheckoutResult* result);
    static PF_Err GuidMixIn(PF_ProgPtr ref, A_u_long size, const void* buffer);
    static PF_Err CheckoutLayerPixels(PF_ProgPtr ref, A_long checkoutId, PF_EffectWorld** pixels);
    static PF_Err CheckinLayerPixels(PF_ProgPtr ref, A_long checkoutId);
    static PF_Err CheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output);
    static PF_Err GetPlatformData(PF_ProgPtr ref, PF_PlatDataID which, void* data);
    static SPErr AcquireSuite(const char* name, int32_t version, const void** suite);
    static SPErr ReleaseSuite(const char* name, int32_t version);
    static const void* FindSuite(const char* name, int32_t version);
    static PF_Err RegisterEffect(PF_PluginDataPtr ptr, const A_u_char* name,
                                 const A_u_char* matchName, const A_u_char* category,
                                 const A_u_char* entryPoint, A_long kind, A_long apiMajor,
                                 A_long apiMinor, A_long reserved, const A_u_char* supportUrl);

    static SPBasicSuite basicSuite_;
    static PF_EffectUISuite1 effectUiSuite_;
    static PFAppSuite6 appSuite_;
    static std::atomic<long> suitesOut_;  // the basic suite has no context: process-wide

    PF_PluginDataEntryFunc2 dataEntry_;
    PF_EffectMainFunc effectMain_;

    Registration registration_;
    A_u_long version_ = 0;
    PF_OutFlags outFlags_ = 0;
    PF_OutFlags2 outFlags2_ = 0;
    std::vector<PF_ParamDef> params_;
    A_long numParams_ = 0;
    PF_Handle globalData_ = nullptr;  // the plug-in's, between global set-up and set-down
    std::string optionsButtonName_;
    A_long customUiEvents_ = 0;
    std::atomic<long> paramCheckouts_{0};
};

}  // namespace pyrix
