// The effect-main fuzz target's inputs: the host's values drawn from the fuzz bytes (sizes,
// coordinates, slider values, error codes), and the guarded host buffer and its world.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/entry_points.h"
#include "host/parameters.h"
#include "kernels/fan_out.h"
#include "render/pixel_depth.h"
#include "standins/host_simulator/app_suite.h"
#include "standins/host_simulator/drawbot.h"
#include "standins/host_simulator/simulator.h"
#include "standins/win32/d3d_control.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/renderers/frame_messages.h"

namespace effect_main_fuzz {

using namespace pyrix;
using fuzz::Fail;
using fuzz::Input;
using host_sim::Callback;
using host_sim::DrawCall;

inline bool IsKnownMessage(const std::string& text) {
    return test_support::kRendererMessages.count(text) != 0 ||
           test_support::kValidationMessages.count(text) != 0;
}

constexpr uint8_t kGuard = 0xA5;
// Largest host buffer a session allocates; frames that would need more are made shorter.
constexpr int64_t kMaxBufferBytes = 256 * 1024;

inline int32_t Dimension(Input& in) {
    static const int32_t kSpecial[] = {0,     -1,    1,         2,         16384,        16385,
                                       30000, 65536, INT32_MAX, INT32_MIN, INT32_MAX / 2};
    switch (in.Byte() % 8) {
        case 0:
            return in.Pick(kSpecial);
        case 1:
            return in.Raw<int32_t>();
        default:
            return in.Range(0, 48);
    }
}

inline int32_t Coordinate(Input& in) {
    static const int32_t kSpecial[] = {0, -1, 1, INT32_MAX, INT32_MIN, 16384, -16384, 1 << 30};
    switch (in.Byte() % 4) {
        case 0:
            return in.Pick(kSpecial);
        case 1:
            return in.Raw<int32_t>();
        default:
            return in.Range(-40, 80);
    }
}

inline PF_RationalScale Downsample(Input& in) {
    static const PF_RationalScale kCommon[] = {{1, 1}, {1, 2},  {1, 3}, {1, 4},  {1, 0},
                                               {0, 1}, {-1, 2}, {3, 1}, {1, 16}, {7, 5}};
    if (in.OneIn(4)) return PF_RationalScale{in.Raw<A_long>(), in.Raw<A_u_long>()};
    return in.Pick(kCommon);
}

inline double SliderValue(Input& in) {
    const double kSpecial[] = {0.0,
                               1.0,
                               -1.0,
                               100.0,
                               1e7,
                               -1e7,
                               1e300,
                               -1e300,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::denorm_min(),
                               3.4028235e38,
                               3.5e38};
    switch (in.Byte() % 4) {
        case 0:
            return in.Raw<double>();
        case 1:
            return in.Pick(kSpecial);
        default:
            return in.Range(-200, 1200) / 4.0;
    }
}

inline PF_Fixed PointCoordinate(Input& in) {
    if (in.OneIn(3)) return in.Raw<PF_Fixed>();
    return in.Range(-64, 128) * 65536;
}

// Codes the host's callbacks may answer; each one used becomes a valid result of the session.
inline PF_Err HostError(Input& in, std::set<PF_Err>& raised) {
    static const PF_Err kCodes[] = {PF_Err_OUT_OF_MEMORY,
                                    PF_Err_INTERNAL_STRUCT_DAMAGED,
                                    PF_Err_INVALID_CALLBACK,
                                    PF_Interrupt_CANCEL,
                                    PF_Err_BAD_CALLBACK_PARAM,
                                    -1,
                                    1,
                                    INT32_MIN};
    const PF_Err code = in.OneIn(4) ? in.Raw<PF_Err>() : in.Pick(kCodes);
    if (code != PF_Err_NONE) raised.insert(code);
    return code;
}

// A host buffer for one output world, guard bytes around and between its rows. A frame that
// must be refused (wider or taller than any frame) gets a buffer shorter than it declares:
// writing into it is caught by the guards or by AddressSanitizer.
class GuardedBuffer {
  public:
    GuardedBuffer(int32_t width, int32_t height, int32_t rowBytes, int bytesPerPixel) {
        rowBytes_ = rowBytes;
        rowSpan_ = width > 0 ? int64_t(width) * bytesPerPixel : 0;
        const int64_t pitch = std::max<int64_t>(std::llabs(int64_t(rowBytes)), rowSpan_);
        rows_ = height > 0 ? height : 0;
        allocatedRows_ = rows_;
        if (rowSpan_ >= kMaxBufferBytes) {
            allocatedRows_ = std::min<int64_t>(allocatedRows_, 1);
        } else if (pitch > 0) {
            allocatedRows_ = std::min(allocatedRows_, (kMaxBufferBytes - rowSpan_) / pitch + 1);
        }
        if (width <= kMaxSide && height <= kMaxSide) rows_ = allocatedRows_;
        const int64_t span =
            allocatedRows_ > 0 ? std::min((allocatedRows_ - 1) * pitch + rowSpan_, kMaxBufferBytes)
                               : 0;
        bytes_.assign(size_t(span + 2 * kGuardBytes), kGuard);
        first_ =
            kGuardBytes + (rowBytes < 0 && allocatedRows_ > 0 ? (allocatedRows_ - 1) * pitch : 0);
    }

    // The height the host declares for this buffer.
    int32_t rows() const { return static_cast<int32_t>(rows_); }
    void* firstPixel() { return bytes_.data() + first_; }

    // Whether every byte outside the rows of the output rectangle still holds the guard.
    bool GuardsIntact() const {
        const int64_t size = int64_t(bytes_.size());
        std::vector<bool> inside(bytes_.size(), false);
        for (int64_t row = 0; row < allocatedRows_ && rowSpan_ > 0; ++row) {
            const int64_t start = first_ + row * rowBytes_;
            const int64_t from = std::max<int64_t>(start, 0);
            const int64_t to = std::min<int64_t>(start + std::min(rowSpan_, size), size);
            for (int64_t at = from; at < to; ++at) inside[size_t(at)] = true;
        }
        for (size_t i = 0; i < bytes_.size(); ++i) {
            if (!inside[i] && bytes_[i] != kGuard) return false;
        }
        return true;
    }

    bool Untouched() const {
        for (uint8_t b : bytes_) {
            if (b != kGuard) return false;
        }
        return true;
    }

    // Whether every pixel of the rectangle was written: the fire is opaque inside the frame
    // and transparent black outside it, so each alpha is all bits clear or the format's 1.0.
    bool AlphaWritten(int bytesPerPixel) const {
        const int64_t width = rowSpan_ / bytesPerPixel;
        for (int64_t row = 0; row < allocatedRows_; ++row) {
            for (int64_t x = 0; x < width; ++x) {
                const uint8_t* alpha = bytes_.data() + first_ + row * rowBytes_ + x * bytesPerPixel;
                bool ok = false;
                if (bytesPerPixel == 4) {
                    ok = alpha[0] == 0 || alpha[0] == 0xFF;
                } else if (bytesPerPixel == 8) {
                    uint16_t v = 0;
                    std::memcpy(&v, alpha, sizeof(v));
                    ok = v == 0 || v == 32768;
                } else {
                    float v = 0;
                    std::memcpy(&v, alpha, sizeof(v));
                    ok = v == 0.0f || v == 1.0f;
                }
                if (!ok) return false;
            }
        }
        return true;
    }

  private:
    static constexpr int64_t kGuardBytes = 64;
    static constexpr int32_t kMaxSide = 16384;
    std::vector<uint8_t> bytes_;
    int64_t rowBytes_ = 0;
    int64_t rowSpan_ = 0;
    int64_t rows_ = 0;
    int64_t allocatedRows_ = 0;
    int64_t first_ = 0;
};

inline int32_t StrideFor(Input& in, int32_t width, int bytesPerPixel) {
    const int64_t tight = width > 0 ? int64_t(width) * bytesPerPixel : 0;
    const int64_t padded = tight + in.Range(0, 3) * 16;
    switch (in.Byte() % 6) {
        case 0:
            return in.Raw<int32_t>();
        case 1:
            return static_cast<int32_t>(-std::min<int64_t>(padded, INT32_MAX));
        case 2:
            return static_cast<int32_t>(std::max<int64_t>(0, tight - in.Range(1, 16)));
        default:
            return static_cast<int32_t>(std::min<int64_t>(padded, INT32_MAX));
    }
}

struct World {
    PF_EffectWorld world{};
    std::unique_ptr<GuardedBuffer> buffer;
    int bytesPerPixel = 4;
    bool handedOver = false;  // the plug-in got this world
};

// An output world as the host hands it out, over a guarded buffer (or none at all).
inline std::unique_ptr<World> MakeWorld(Input& in, int bytesPerPixel) {
    auto result = std::make_unique<World>();
    PF_EffectWorld& world = result->world;
    const int32_t width = Dimension(in);
    const int32_t height = Dimension(in);
    world.rowbytes = StrideFor(in, width, bytesPerPixel);
    world.width = width;
    result->buffer = std::make_unique<GuardedBuffer>(width, height, world.rowbytes, bytesPerPixel);
    world.height = height > 0 ? result->buffer->rows() : height;
    world.data = in.OneIn(16) ? nullptr : static_cast<PF_PixelPtr>(result->buffer->firstPixel());
    world.origin_x = Coordinate(in);
    world.origin_y = Coordinate(in);
    result->bytesPerPixel = bytesPerPixel;
    return result;
}

}  // namespace effect_main_fuzz
