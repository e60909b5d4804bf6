// A small effect for pyrix's tests: it registers, declares the same controls as the fire effect
// and answers renders with a pattern that tells where each pixel is, so that a test can check
// what the host handed over. Each render command is also logged, one line of key=value pairs,
// to the file named by PYRIX_TEST_LOG.
//
// Steered by control values:
//   detail 666        the smart render fails with a message; 667: without one
//   softness 1000+N   only frame N fails, with a message
//   offset 517        the render waits until the host's abort callback says stop, then 517
//   non-finite detail, speed or offset: refused, as the fire effect does
//
// Pattern, for the layer pixel (X, Y) of frame F: 8 bits A 255, R X&255, G Y&255, B F&255;
// 16 bits A 32768, R X, G Y, B F; float A 1, R X, G Y, B F.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "host_api/effect_api.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Values {
    double detail = 0, speed = 0, offset = 0, emitterSize = 0, softness = 0;
    PF_Fixed x = 0, y = 0;
    int32_t frame = 1;
    A_long layerWidth = 0, layerHeight = 0;
};

std::mutex gLogMutex;

void Log(const std::string& line) {
    const char* path = std::getenv("PYRIX_TEST_LOG");
    if (path == nullptr || *path == '\0') return;
    std::lock_guard<std::mutex> lock(gLogMutex);
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string Num(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string Rect(const PF_LRect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

std::string InDataText(const PF_InData* in) {
    return " current_time=" + std::to_string(in->current_time) +
           " time_step=" + std::to_string(in->time_step) +
           " local_time_step=" + std::to_string(in->local_time_step) +
           " time_scale=" + std::to_string(in->time_scale) + " width=" + std::to_string(in->width) +
           " height=" + std::to_string(in->height) +
           " downsample_x=" + std::to_string(in->downsample_x.num) + "/" +
           std::to_string(in->downsample_x.den) +
           " downsample_y=" + std::to_string(in->downsample_y.num) + "/" +
           std::to_string(in->downsample_y.den);
}

std::string ValuesText(const Values& v) {
    return " detail=" + Num(v.detail) + " speed=" + Num(v.speed) + " offset=" + Num(v.offset) +
           " emitter_size=" + Num(v.emitterSize) + " softness=" + Num(v.softness) +
           " x_fixed=" + std::to_string(v.x) + " y_fixed=" + std::to_string(v.y) +
           " frame=" + std::to_string(v.frame);
}

void Message(PF_OutData* out, const char* text) {
    std::snprintf(out->return_msg, sizeof out->return_msg, "%s", text);
    out->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
}

int32_t FrameOf(const PF_InData* in) {
    return in->time_step != 0 ? in->current_time / in->time_step + 1 : 1;
}

void FromDefs(PF_ParamDef* const* defs, Values* v) {
    v->x = defs[2]->u.td.x_value;
    v->y = defs[2]->u.td.y_value;
    v->emitterSize = defs[3]->u.fs_d.value;
    v->detail = defs[4]->u.fs_d.value;
    v->softness = defs[5]->u.fs_d.value;
    v->speed = defs[6]->u.fs_d.value;
    v->offset = defs[7]->u.fs_d.value;
}

PF_Err CheckoutValues(PF_InData* in, Values* v) {
    PF_ParamDef defs[8];
    PF_ParamDef* pointers[8];
    for (A_long i = 2; i <= 7; ++i) {
        std::memset(&defs[i], 0, sizeof defs[i]);
        pointers[i] = &defs[i];
        const PF_Err err = in->inter.checkout_param(in->effect_ref, i, in->current_time,
                                                    in->time_step, in->time_scale, &defs[i]);
        if (err != PF_Err_NONE) return err;
        in->inter.checkin_param(in->effect_ref, &defs[i]);
    }
    FromDefs(pointers, v);
    v->frame = FrameOf(in);
    return PF_Err_NONE;
}

// The behaviours the tests steer by value. PF_Err_NONE: go on and render.
PF_Err Refusal(PF_InData* in, PF_OutData* out, const Values& v) {
    if (!std::isfinite(v.detail) || !std::isfinite(v.speed) || !std::isfinite(v.offset)) {
        Message(out, "Tazu Test: Non-finite effect parameter");
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    if (v.detail == 666.0) {
        Message(out, "Tazu Test: detail 666 refused");
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    if (v.detail == 667.0) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (v.softness == 1000.0 + v.frame) {
        Message(out, ("Tazu Test: frame " + std::to_string(v.frame) + " refused").c_str());
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    if (v.offset == 517.0) {
        Log("cmd=waiting frame=" + std::to_string(v.frame));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (in->inter.abort(in->effect_ref) == PF_Err_NONE) {
            if (std::chrono::steady_clock::now() > deadline) return PF_Err_NONE;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return PF_Interrupt_CANCEL;
    }
    return PF_Err_NONE;
}

void FillPattern(PF_EffectWorld* world, int32_t depth, A_long originX, A_long originY,
                 int32_t frame) {
    auto* base = reinterpret_cast<uint8_t*>(world->data);
    for (A_long y = 0; y < world->height; ++y) {
        uint8_t* row = base + static_cast<int64_t>(y) * world->rowbytes;
        const A_long X0 = originX, Y = originY + y;
        for (A_long x = 0; x < world->width; ++x) {
            const A_long X = X0 + x;
            if (depth == 32) {
                const float argb[4] = {1.0f, static_cast<float>(X), static_cast<float>(Y),
                                       static_cast<float>(frame)};
                std::memcpy(row + 16 * x, argb, 16);
            } else if (depth == 16) {
                const uint16_t argb[4] = {32768, static_cast<uint16_t>(X % 32769),
                                          static_cast<uint16_t>(Y % 32769),
                                          static_cast<uint16_t>(frame % 32769)};
                std::memcpy(row + 8 * x, argb, 8);
            } else {
                const uint8_t argb[4] = {255, static_cast<uint8_t>(X & 255),
                                         static_cast<uint8_t>(Y & 255),
                                         static_cast<uint8_t>(frame & 255)};
                std::memcpy(row + 4 * x, argb, 4);
            }
        }
    }
}

void DeleteValues(void* data) {
    Log("cmd=delete_pre_render frame=" + std::to_string(static_cast<Values*>(data)->frame));
    delete static_cast<Values*>(data);
}

PF_Err PreRender(PF_InData* in, PF_OutData*, PF_PreRenderExtra* extra) {
    PF_RenderRequest request = extra->input->output_request;
    request.rect = {0, 0, 0, 0};
    PF_CheckoutResult layer{};
    PF_Err err = extra->cb->checkout_layer(in->effect_ref, 0, 0, &request, in->current_time,
                                           in->time_step, in->time_scale, &layer);
    if (err != PF_Err_NONE) return err;
    auto* values = new Values;
    err = CheckoutValues(in, values);
    if (err != PF_Err_NONE) {
        delete values;
        return err;
    }
    values->layerWidth = layer.ref_width;
    values->layerHeight = layer.ref_height;
    const double dsx = static_cast<double>(in->downsample_x.num) / in->downsample_x.den;
    const double dsy = static_cast<double>(in->downsample_y.num) / in->downsample_y.den;
    const A_long fullW = static_cast<A_long>(std::ceil(layer.ref_width * dsx));
    const A_long fullH = static_cast<A_long>(std::ceil(layer.ref_height * dsy));
    const PF_LRect& r = extra->input->output_request.rect;
    PF_LRect result = {std::max<A_long>(r.left, 0), std::max<A_long>(r.top, 0),
                       std::min(r.right, fullW), std::min(r.bottom, fullH)};
    if (result.right < result.left || result.bottom < result.top) result = {0, 0, 0, 0};
    extra->output->max_result_rect = {0, 0, fullW, fullH};
    extra->output->result_rect = result;
    extra->output->solid = 1;
    extra->output->pre_render_data = values;
    extra->output->delete_pre_render_data_func = DeleteValues;
    Log("cmd=pre_render" + InDataText(in) + " request=" + Rect(r) +
        " bitdepth=" + std::to_string(extra->input->bitdepth) +
        " channel_mask=" + std::to_string(extra->input->output_request.channel_mask) +
        " ref=" + std::to_string(layer.ref_width) + "x" + std::to_string(layer.ref_height) +
        " result=" + Rect(result) + ValuesText(*values));
    return PF_Err_NONE;
}

PF_Err SmartRender(PF_InData* in, PF_OutData* out, PF_SmartRenderExtra* extra) {
    const auto* values = static_cast<const Values*>(extra->input->pre_render_data);
    if (values == nullptr) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (const PF_Err err = Refusal(in, out, *values)) return err;
    PF_EffectWorld* world = nullptr;
    if (const PF_Err err = extra->cb->checkout_output(in->effect_ref, &world)) return err;
    const int32_t depth = extra->input->bitdepth;
    Log("cmd=smart_render" + InDataText(in) + " bitdepth=" + std::to_string(depth) +
        (world == nullptr
             ? std::string(" world=none")
             : " world=" + std::to_string(world->width) + "x" + std::to_string(world->height) +
                   " origin=" + std::to_string(world->origin_x) + "," +
                   std::to_string(world->origin_y) +
                   " rowbytes=" + std::to_string(world->rowbytes) +
                   " world_flags=" + std::to_string(world->world_flags)));
    if (world != nullptr)
        FillPattern(world, depth, world->origin_x, world->origin_y, values->frame);
    return in->inter.abort(in->effect_ref) != PF_Err_NONE ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err LegacyRender(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output) {
    Values values;
    FromDefs(params, &values);
    values.frame = FrameOf(in);
    if (const PF_Err err = Refusal(in, out, values)) return err;
    const int32_t depth = (output->world_flags & PF_WorldFlag_DEEP) != 0 ? 16 : 8;
    Log("cmd=render" + InDataText(in) + " output_origin=" + std::to_string(in->output_origin_x) +
        "," + std::to_string(in->output_origin_y) + " world=" + std::to_string(output->width) +
        "x" + std::to_string(output->height) + " rowbytes=" + std::to_string(output->rowbytes) +
        " world_flags=" + std::to_string(output->world_flags) +
        " param0_type=" + std::to_string(params[0]->param_type) + ValuesText(values));
    FillPattern(output, depth, -in->output_origin_x, -in->output_origin_y, values.frame);
    return PF_Err_NONE;
}

PF_ParamDef Slider(const char* name, A_long id, float dflt, float validMin, float validMax) {
    PF_ParamDef def{};
    def.param_type = PF_Param_FLOAT_SLIDER;
    std::snprintf(ParamName(def), sizeof ParamName(def), "%s", name);
    def.uu.id = id;
    def.u.fs_d.value = dflt;
    def.u.fs_d.dephault = dflt;
    def.u.fs_d.valid_min = validMin;
    def.u.fs_d.valid_max = validMax;
    def.u.fs_d.slider_min = validMin;
    def.u.fs_d.slider_max = validMax;
    def.u.fs_d.precision = 2;
    return def;
}

PF_Err ParamsSetup(PF_InData* in, PF_OutData* out) {
    PF_ParamDef defs[7] = {};
    defs[0].param_type = PF_Param_NO_DATA;
    std::snprintf(ParamName(defs[0]), sizeof ParamName(defs[0]), "About");
    defs[0].uu.id = 10;
    defs[0].ui_flags = PF_PUI_CONTROL;
    defs[0].ui_width = 240;
    defs[0].ui_height = 60;
    defs[1].param_type = PF_Param_POINT;
    std::snprintf(ParamName(defs[1]), sizeof ParamName(defs[1]), "Position");
    defs[1].uu.id = 7;
    defs[1].u.td.x_value = defs[1].u.td.x_dephault = 50 << 16;
    defs[1].u.td.y_value = defs[1].u.td.y_dephault = 70 << 16;
    defs[2] = Slider("Emitter Size", 8, 100.0f, 0.0f, 1000.0f);
    defs[3] = Slider("Detail", 1, 1.0f, 0.0f, 5.0f);
    defs[4] = Slider("Softness", 9, 0.0f, 0.0f, 100.0f);
    defs[5] = Slider("Speed", 2, 1.0f, -1000000.0f, 1000000.0f);
    defs[6] = Slider("Offset", 3, 0.0f, -1000000.0f, 1000000.0f);
    for (PF_ParamDef& def : defs) {
        if (const PF_Err err = in->inter.add_param(in->effect_ref, -1, &def)) return err;
    }
    out->num_params = 8;

    const void* suite = nullptr;
    if (in->pica_basicP->AcquireSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &suite) != 0 ||
        suite == nullptr) {
        return PF_Err_INVALID_CALLBACK;
    }
    const PF_Err err = static_cast<const PF_EffectUISuite1*>(suite)->PF_SetOptionsButtonName(
        in->effect_ref, "About...");
    in->pica_basicP->ReleaseSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1);
    if (err != PF_Err_NONE) return err;
    PF_CustomUIInfo ui{};
    ui.events = PF_CustomEFlag_EFFECT;
    return in->inter.register_ui(in->effect_ref, &ui);
}

}  // namespace

TEST_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr ptr, PF_PluginDataCB2 callback,
                                            SPBasicSuite*, const char*, const char*) {
    return callback(ptr, reinterpret_cast<const A_u_char*>("pyrix test effect"),
                    reinterpret_cast<const A_u_char*>("pyrix Test Match"),
                    reinterpret_cast<const A_u_char*>("Tests"),
                    reinterpret_cast<const A_u_char*>("EffectMain"), 0x65464B54, 13, 28, 8,
                    reinterpret_cast<const A_u_char*>("https://example.invalid/"));
}

TEST_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                              PF_LayerDef* output, void* extra) {
    switch (cmd) {
        case PF_Cmd_ABOUT:
            std::snprintf(out->return_msg, sizeof out->return_msg, "pyrix test effect\rline two");
            return PF_Err_NONE;
        case PF_Cmd_GLOBAL_SETUP:
            out->my_version = 0x00080601;
            out->out_flags = PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_PIX_INDEPENDENT;
            out->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
                              PF_OutFlag2_SUPPORTS_THREADED_RENDERING;
            return PF_Err_NONE;
        case PF_Cmd_PARAMS_SETUP:
            return ParamsSetup(in, out);
        case PF_Cmd_SMART_PRE_RENDER:
            return PreRender(in, out, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            return SmartRender(in, out, static_cast<PF_SmartRenderExtra*>(extra));
        case PF_Cmd_RENDER:
            return LegacyRender(in, out, params, output);
        default:
            return PF_Err_NONE;
    }
}
