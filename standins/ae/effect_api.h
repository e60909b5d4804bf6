// Stand-in for the host's effect API: the records, callbacks, suites and constants that the
// plug-in uses, under the host's names so that product code reads as host code. The layout is
// our own; a build for the real host compiles the same sources against the host's SDK instead
// (see host/host_api.h). Only what the plug-in calls or fills is declared here.
#pragma once

#include <cstdint>

// ---- Scalar types -----------------------------------------------------------------------------

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef unsigned char A_u_char;
typedef unsigned char PF_Boolean;
typedef int32_t PF_Fixed;  // signed 16.16 fixed point
typedef double PF_FpLong;
typedef float PF_FpShort;

typedef A_long PF_Err;
typedef A_long PF_ParamIndex;
typedef int32_t SPErr;

typedef struct PF_ProgPtrOpaque* PF_ProgPtr;       // the host's handle of this effect instance
typedef struct PF_ContextOpaque* PF_ContextH;      // a UI context (panel) of an event
typedef struct PF_PluginDataOpaque* PF_PluginDataPtr;
typedef void** PF_Handle;

// ---- Host error codes ---------------------------------------------------------------------------

enum PF_ErrCode : A_long {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517,
};

// ---- Command selectors --------------------------------------------------------------------------

enum : A_long {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_UNUSED_0 = 2,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_SEQUENCE_SETUP = 5,
    PF_Cmd_SEQUENCE_RESETUP = 6,
    PF_Cmd_SEQUENCE_FLATTEN = 7,
    PF_Cmd_SEQUENCE_SETDOWN = 8,
    PF_Cmd_DO_DIALOG = 9,
    PF_Cmd_FRAME_SETUP = 10,
    PF_Cmd_RENDER = 11,
    PF_Cmd_FRAME_SETDOWN = 12,
    PF_Cmd_USER_CHANGED_PARAM = 13,
    PF_Cmd_UPDATE_PARAMS_UI = 14,
    PF_Cmd_EVENT = 15,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24,
};
typedef A_long PF_Cmd;

// ---- Capability flags ---------------------------------------------------------------------------

enum : A_long {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_NON_PARAM_VARY = 1L << 2,
    PF_OutFlag_I_DO_DIALOG = 1L << 5,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
    PF_OutFlag_PIX_INDEPENDENT = 1L << 10,
    PF_OutFlag_CUSTOM_UI = 1L << 15,
    PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
};
typedef A_long PF_OutFlags;

enum : A_long {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27,
};
typedef A_long PF_OutFlags2;

// ---- Geometry -----------------------------------------------------------------------------------

typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

// ---- Parameters ---------------------------------------------------------------------------------

enum : A_long {
    PF_Param_LAYER = 0,
    PF_Param_POINT = 6,
    PF_Param_NO_DATA = 9,
    PF_Param_FLOAT_SLIDER = 10,
};
typedef A_long PF_ParamType;

enum : A_long {
    PF_PUI_NONE = 0,
    PF_PUI_CONTROL = 1L << 1,
};
typedef A_long PF_ParamUIFlags;

typedef struct {
    PF_Fixed x_value;
    PF_Fixed y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault;  // the host's spelling
    PF_Fixed y_dephault;
} PF_PointDef;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[32];
    PF_FpShort valid_min;
    PF_FpShort valid_max;
    PF_FpShort slider_min;
    PF_FpShort slider_max;
    PF_FpShort dephault;
    A_short precision;
    A_short display_flags;
    A_long fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct PF_LayerDef PF_LayerDef;

typedef union {
    PF_PointDef td;
    PF_FloatSliderDef fs_d;
} PF_ParamDefUnion;

typedef struct {
    union {
        A_long id;
        A_long change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[32];
    A_long flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef;
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;

// ---- Pixels -------------------------------------------------------------------------------------

enum : A_long {
    PF_WorldFlag_DEEP = 1L << 0,
};

struct PF_LayerDef {
    A_long world_flags;
    void* data;         // first pixel of row 0
    A_long rowbytes;    // bytes from one row to the next; may be negative
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long origin_x;    // layer position of column 0, in pixels of the current resolution
    A_long origin_y;
    PF_RationalScale pix_aspect_ratio;
};
typedef PF_LayerDef PF_EffectWorld;

// ---- Custom UI and events -----------------------------------------------------------------------

enum : A_long {
    PF_CustomEFlag_NONE = 0,
    PF_CustomEFlag_COMP = 1L << 0,
    PF_CustomEFlag_LAYER = 1L << 1,
    PF_CustomEFlag_EFFECT = 1L << 2,
};

typedef struct {
    A_long reserved;
    A_long events;
    A_long comp_ui_width;
    A_long comp_ui_height;
    A_long layer_ui_width;
    A_long layer_ui_height;
} PF_CustomUIInfo;

enum : A_long {
    PF_Event_NEW_CONTEXT = 0,
    PF_Event_ACTIVATE = 1,
    PF_Event_DO_CLICK = 2,
    PF_Event_DRAG = 3,
    PF_Event_DRAW = 4,
};
typedef A_long PF_EventType;

enum : A_long {
    PF_EA_NONE = 0,
    PF_EA_PARAM_TITLE = 1,
    PF_EA_CONTROL = 2,
};
typedef A_long PF_EffectArea;

enum : A_long {
    PF_EO_NONE = 0,
    PF_EO_HANDLED_EVENT = 1L << 0,
    PF_EO_ALWAYS_UPDATE = 1L << 1,
    PF_EO_NEVER_UPDATE = 1L << 2,
};
typedef A_long PF_EventOutFlags;

typedef struct {
    PF_ParamIndex index;   // which parameter's area the event is for
    PF_EffectArea area;
    PF_Rect current_frame; // the area's bounds in panel pixels
    PF_Rect param_title_frame;
    A_long horiz_offset;
} PF_EffectWindowInfo;

typedef struct {
    PF_ContextH contextH;
    PF_EventType e_type;
    PF_EffectWindowInfo effect_win;
    PF_EventOutFlags evt_out_flags;
} PF_EventExtra;

// ---- Callbacks ----------------------------------------------------------------------------------

typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                             A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    PF_Err (*register_ui)(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info);
} PF_InteractCallbacks;

enum : A_long {
    PF_PlatData_MAIN_WND = 0,
};
typedef A_long PF_PlatDataID;

typedef struct {
    PF_Err (*get_platform_data)(PF_ProgPtr effect_ref, PF_PlatDataID which, void* data);
} PF_UtilCallbacks;

// ---- The basic suite ----------------------------------------------------------------------------

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, int32_t version);
} SPBasicSuite;

// ---- Command records ----------------------------------------------------------------------------

typedef struct {
    PF_InteractCallbacks inter;
    PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    A_long width;   // layer size in full-resolution pixels
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    SPBasicSuite* pica_basicP;
} PF_InData;

typedef struct {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_OutFlags out_flags;
    A_char return_msg[256];
    PF_OutFlags2 out_flags2;
} PF_OutData;

// ---- Smart render -------------------------------------------------------------------------------

enum : A_long {
    PF_ChannelMask_ALPHA = 1,
    PF_ChannelMask_RED = 2,
    PF_ChannelMask_GREEN = 4,
    PF_ChannelMask_BLUE = 8,
    PF_ChannelMask_ARGB = 15,
};

typedef struct {
    PF_LRect rect;
    A_long field;
    A_long channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    A_char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    A_long solid;
    PF_Boolean reservedB[3];
    A_long ref_width;   // size of the checked-out layer in full-resolution pixels
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_RenderRequest output_request;
    A_short bitdepth;  // bits per channel: 8, 16 or 32
} PF_PreRenderInput;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    A_short flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_CheckoutResult* checkout_result);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    A_short bitdepth;
    void* pre_render_data;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL,
                                    PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// ---- Suites -------------------------------------------------------------------------------------
// Slots that the plug-in never calls are kept as placeholders so that the called functions sit
// at their positions in the host's tables.

typedef void (*PF_UnusedSuiteSlot)(void);

#define kPFEffectUISuite "PF Effect UI Suite"
#define kPFEffectUISuiteVersion1 1
typedef struct {
    PF_Err (*PF_SetOptionsButtonName)(PF_ProgPtr effect_ref, const A_char* nameZ);
} PF_EffectUISuite1;

typedef struct DRAWBOT_DrawOpaque* DRAWBOT_DrawRef;
typedef struct DRAWBOT_ObjectOpaque* DRAWBOT_ObjectRef;
typedef DRAWBOT_ObjectRef DRAWBOT_SupplierRef;
typedef DRAWBOT_ObjectRef DRAWBOT_SurfaceRef;
typedef DRAWBOT_ObjectRef DRAWBOT_ImageRef;

typedef struct {
    float x, y;
} DRAWBOT_PointF32;

typedef struct {
    float mat[3][3];  // row-major
} DRAWBOT_MatrixF32;

enum : A_long {
    kDRAWBOT_PixelLayout_24RGB = 0,
    kDRAWBOT_PixelLayout_32BGRA_Straight = 6,
};
typedef A_long DRAWBOT_PixelLayout;

#define kPFEffectCustomUISuite "PF Effect Custom UI Suite"
#define kPFEffectCustomUISuiteVersion2 2
typedef struct {
    PF_Err (*PF_GetDrawingReference)(const PF_ContextH effect_contextH,
                                     DRAWBOT_DrawRef* referenceP0);
} PF_EffectCustomUISuite2;

#define kDRAWBOT_DrawSuite "DRAWBOT Draw Suite"
#define kDRAWBOT_DrawSuite_Version1 1
typedef struct {
    PF_Err (*GetSupplier)(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SupplierRef* out_supplierP);
    PF_Err (*GetSurface)(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SurfaceRef* out_surfaceP);
} DRAWBOT_DrawbotSuite1;

#define kDRAWBOT_SupplierSuite "DRAWBOT Supplier Suite"
#define kDRAWBOT_SupplierSuite_Version1 1
typedef struct {
    PF_UnusedSuiteSlot unused1, unused2, unused3, unused4, unused5;
    PF_Err (*NewImageFromBuffer)(DRAWBOT_SupplierRef in_supplier_ref, int in_width, int in_height,
                                 int in_row_bytes, DRAWBOT_PixelLayout in_pl,
                                 const void* in_dataP, DRAWBOT_ImageRef* out_imageP);
    PF_UnusedSuiteSlot unused7, unused8, unused9, unused10, unused11, unused12;
    PF_Err (*ReleaseObject)(DRAWBOT_ObjectRef in_obj_ref);
} DRAWBOT_SupplierSuite1;

#define kDRAWBOT_SurfaceSuite "DRAWBOT Surface Suite"
#define kDRAWBOT_SurfaceSuite_Version2 2
typedef struct {
    PF_Err (*PushStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
    PF_Err (*PopStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
    PF_UnusedSuiteSlot unused3, unused4, unused5, unused6, unused7, unused8;
    PF_Err (*Transform)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_MatrixF32* in_matrixP);
    PF_UnusedSuiteSlot unused10;
    PF_Err (*DrawImage)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_ImageRef in_imageP,
                        const DRAWBOT_PointF32* in_originP, float in_alpha);
} DRAWBOT_SurfaceSuite2;

typedef struct {
    A_u_short red, green, blue;
} PF_App_Color;
typedef A_long PF_App_ColorType;

#define kPFAppSuite "PF AE App Suite"
#define kPFAppSuiteVersion1 1
typedef struct {
    PF_Err (*PF_AppGetColor)(PF_App_ColorType color_type, PF_App_Color* app_colorP);
    PF_Err (*PF_IsRenderEngine)(PF_Boolean* render_engineP);
} PFAppSuite1;

// ---- Registration and entry points --------------------------------------------------------------

typedef PF_Err (*PF_PluginDataCB2)(PF_PluginDataPtr inPtr, const A_u_char* inNameZ,
                                   const A_u_char* inMatchNameZ, const A_u_char* inCategoryZ,
                                   const A_u_char* inEntryPointNameZ, A_long inType,
                                   A_long inAPIVersionMajor, A_long inAPIVersionMinor,
                                   A_long inReservedInfo, const A_u_char* inSupportURLZ);

typedef PF_Err (*PF_EffectMainFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

typedef PF_Err (*PF_PluginDataEntryFunc2)(PF_PluginDataPtr inPtr,
                                          PF_PluginDataCB2 inPluginDataCallBackPtr,
                                          SPBasicSuite* inSPBasicSuitePtr,
                                          const char* inHostName, const char* inHostVersion);
