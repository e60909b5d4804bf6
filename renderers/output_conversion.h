// Writes the read-back float image into the host's output buffer in the host's pixel layout
// (ARGB, 8 or 16 bits per channel or 32-bit float), on up to six threads, as
// kernels/pixel_conversion.h defines the pixels.
#pragma once

#include <cstdint>
#include <functional>

#include "kernels/pixel_conversion.h"  // the definition of the host's pixels
#include "render/render_records.h"

namespace pyrix {

class FanOutTeam;

constexpr int32_t kSerialRowLimit = 128;  // fewer rows are converted on the calling thread
constexpr unsigned kMaxConversionThreads = 6;
constexpr int32_t kRowChunk = 8;  // rows handed out per fetch of the shared counter

// The mapped read-back texture: rows of R, G, B, A floats, rowPitch bytes apart.
struct ReadbackImage {
    const uint8_t* data;
    uint32_t rowPitch;
};

using RowFunction = std::function<void(int32_t)>;

// Converts all request.height rows of the frame, on `team`'s threads when there is one.
void ConvertRows(const ReadbackImage& source, const RenderRequest& request,
                 FanOutTeam* team = nullptr);

// Calls rowFunction(r) once for every r in [0, n), in the kernels' float mode (FlushDenormals),
// and returns when all calls are done. Rows that a worker thread which could not be started
// would have taken go to the threads that did.
void ParallelForRows(int32_t n, const RowFunction& rowFunction, FanOutTeam* team = nullptr);

// How many threads convert a large frame, given what the processor count reports (0: unknown).
unsigned ConversionThreadCount(unsigned reportedConcurrency);

}  // namespace pyrix
