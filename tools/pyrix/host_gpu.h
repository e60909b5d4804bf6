// pyrix's GPU acceleration (render --host-gpu, bench): a Direct3D 12 device and queue offered to
// the effect through the host's GPU device suite, its GPU worlds Direct3D 12 buffers, read back
// only to write files. Windows only (under Wine: Direct3D 12 on Vulkan); elsewhere it cannot
// start.
#pragma once

#include <iosfwd>
#include <memory>

#include "tools/pyrix/effect_host.h"

namespace pyrix::preview {

class HostGpu {
  public:
    virtual ~HostGpu() = default;
    // Sends the device's set-down and stops offering GPU frames. False (reported on `err`) when
    // the effect fails the set-down or still holds references to the host's device or queue.
    virtual bool Stop(std::ostream& err) = 0;
    // Offers the device again after a Stop (a host that sets devices down between frames).
    virtual bool Restart(std::ostream& err) = 0;
    // Without read-back the frames stay on the GPU, as in a host's GPU pipeline (bench).
    virtual void SetReadBack(bool readBack) = 0;
    // Frames the effect rendered into GPU worlds so far.
    virtual int GpuFrames() const = 0;
    // Holds the queue, as a GPU busy with other work would: what is sent from now on waits on
    // the GPU until ReleaseQueue. An effect that gives a frame up then returns with its work
    // still queued; one that waits for its work returns only once the queue is let go.
    virtual void HoldQueue() = 0;
    // Lets the queue go on; true when it was still held.
    virtual bool ReleaseQueue() = 0;
};

// Offers the effect a Direct3D 12 device; from then on its 32-bit smart frames that it says it
// can render on the GPU are GPU frames. Null, with the reason on `err`, when there is no such
// device or the effect declines it.
std::unique_ptr<HostGpu> StartHostGpu(EffectHost& host, std::ostream& err);

}  // namespace pyrix::preview
