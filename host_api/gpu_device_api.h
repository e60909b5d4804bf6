// The host's GPU rendering protocol (64-bit Windows): the commands and flags with which a host
// offers an effect its own GPU device, and the records and suite exchanged on that path. Part of
// effect_api.h, which includes it; layouts checked against host_api/records.tsv and values
// against host_api/gpu_constants.tsv by generated static_asserts.
#pragma once

enum : A_long {
    PF_Cmd_SMART_RENDER_GPU = 31,
    PF_Cmd_GPU_DEVICE_SETUP = 32,
    PF_Cmd_GPU_DEVICE_SETDOWN = 33,
};

enum : A_long {
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 = 1L << 25,
    PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING = 1L << 29,
};

enum : A_long {
    PF_GPU_Framework_NONE = 0,
    PF_GPU_Framework_OPENCL = 1,
    PF_GPU_Framework_METAL = 2,
    PF_GPU_Framework_CUDA = 3,
    PF_GPU_Framework_DIRECTX = 4,
};

enum : short {
    PF_RenderOutputFlag_GPU_RENDER_POSSIBLE = 2,
};

typedef A_long PF_PixelFormat;
enum : A_long {
    PF_PixelFormat_GPU_BGRA128 = 0x41444340,
};

typedef struct {
    PF_GPU_Framework device_framework;
    PF_Boolean compatibleB;
    void* platformPV;
    void* devicePV;  // Direct3D 12: the host's ID3D12Device*
    void* contextPV;
    void* command_queuePV;  // Direct3D 12: the host's ID3D12CommandQueue*
    void* offscreen_opengl_contextPV;
    void* offscreen_opengl_devicePV;
} PF_GPUDeviceInfo;

typedef struct {
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_GPUDeviceSetupInput;

typedef struct {
    void* gpu_data;  // the effect's own object for this device, handed back in later commands
} PF_GPUDeviceSetupOutput;

typedef struct {
    PF_GPUDeviceSetupInput* input;
    PF_GPUDeviceSetupOutput* output;
} PF_GPUDeviceSetupExtra;

typedef struct {
    void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_GPUDeviceSetdownInput;

typedef struct {
    PF_GPUDeviceSetdownInput* input;
} PF_GPUDeviceSetdownExtra;

#define kPFGPUDeviceSuite "PF GPU Device Suite"
#define kPFGPUDeviceSuiteVersion1 1
typedef struct {
    PF_Err (*GetDeviceCount)(PF_ProgPtr effect_ref, A_u_long* device_countP);
    PF_Err (*GetDeviceInfo)(PF_ProgPtr effect_ref, A_u_long device_index,
                            PF_GPUDeviceInfo* device_infoP);
    PF_Err (*AcquireExclusiveDeviceAccess)(PF_ProgPtr effect_ref, A_u_long device_index);
    PF_Err (*ReleaseExclusiveDeviceAccess)(PF_ProgPtr effect_ref, A_u_long device_index);
    PF_Err (*AllocateDeviceMemory)(PF_ProgPtr effect_ref, A_u_long device_index, size_t size_bytes,
                                   void** memoryPP);
    PF_Err (*FreeDeviceMemory)(PF_ProgPtr effect_ref, A_u_long device_index, void* memoryP);
    PF_Err (*PurgeDeviceMemory)(PF_ProgPtr effect_ref, A_u_long device_index, size_t size_bytes,
                                size_t* bytes_purgedP0);
    PF_Err (*AllocateHostMemory)(PF_ProgPtr effect_ref, A_u_long device_index, size_t size_bytes,
                                 void** memoryPP);
    PF_Err (*FreeHostMemory)(PF_ProgPtr effect_ref, A_u_long device_index, void* memoryP);
    PF_Err (*PurgeHostMemory)(PF_ProgPtr effect_ref, A_u_long device_index, size_t bytes_to_purge,
                              size_t* bytes_purgedP0);
    PF_Err (*CreateGPUWorld)(PF_ProgPtr effect_ref, A_u_long device_index, A_long width,
                             A_long height, PF_RationalScale pixel_aspect_ratio,
                             PF_Field field_type, PF_PixelFormat pixel_format,
                             PF_Boolean clear_pixB, PF_EffectWorld** worldPP);
    PF_Err (*DisposeGPUWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err (*GetGPUWorldData)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP, void** pixPP);
    PF_Err (*GetGPUWorldSize)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP,
                              size_t* size_in_bytesP);
    PF_Err (*GetGPUWorldDeviceIndex)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP,
                                     A_u_long* device_indexP);
} PF_GPUDeviceSuite1;
