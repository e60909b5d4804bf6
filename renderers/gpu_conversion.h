// The Direct3D 11 renderer's conversion of 8- and 16-bit frames: ConvertKernel reads the fire
// texture through a shader-resource view and writes the host's pixels, rows packed, into a
// buffer of words; only that buffer is read back (4 or 8 bytes per pixel instead of 16) and its
// rows are copied into the host's. 32-bit frames read the float texture back as before.
#pragma once

#include <cstdint>
#include <functional>

#include "render/render_records.h"
#include "renderers/com_ref.h"
#include "renderers/platform.h"

namespace pyrix {

// Reports a failed creation call: (result, message) releases what the caller must, and throws.
using CreationCheck = std::function<void(HRESULT, const char*)>;

class GpuConversion {
  public:
    // The kernel and its constant buffer; throws std::runtime_error with the renderer's messages.
    void Create(ID3D11Device* device);
    // The pixel buffer, its view and its read-back copy of `bytes` (kept for frames that fit).
    void EnsureBuffers(ID3D11Device* device, uint32_t bytes, const CreationCheck& check);
    void ReleaseBuffers();

    // Queues the conversion of the first `rows` rows of `width` texels of `image` at `depth` and
    // the copy of the pixel buffer into the read-back buffer.
    void Queue(ID3D11DeviceContext* gpu, ID3D11ShaderResourceView* image, uint32_t width,
               uint32_t rows, int32_t depth) const;
    ID3D11Buffer* readback() const { return readback_.Get(); }

    // Copies the read-back rows (packed, request.width pixels each) into the host's rows.
    static void CopyRows(const uint8_t* pixels, const RenderRequest& request);

  private:
    ComRef<ID3D11ComputeShader> kernel_;
    ComRef<ID3D11Buffer> constants_;
    ComRef<ID3D11Buffer> pixels_;
    ComRef<ID3D11UnorderedAccessView> pixelsUav_;
    ComRef<ID3D11Buffer> readback_;
    uint32_t bufferBytes_ = 0;  // size of the three buffers; 0 when there are none
};

}  // namespace pyrix
