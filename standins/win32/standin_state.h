// The Direct3D stand-in's state that its test controls (d3d_control.cpp, a test-only library)
// set and read. The stand-in itself only consults it.
#pragma once

#include <d3d11.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "standins/win32/d3d_control.h"

namespace d3d_standin {

constexpr size_t kCallKinds = static_cast<size_t>(Call::CreateWaitableTimerExW) + 1;

struct Fault {
    bool active = false;
    HRESULT result = S_OK;
    int skip = 0;
    int count = 0;
};

struct DeviceLoss {
    bool active = false;
    int skip = 0;
    HRESULT reason = S_OK;
};

struct WaitableTimer;

struct Controls {
    std::mutex mutex;
    std::vector<AdapterConfig> adapters{AdapterConfig{}};
    std::array<Fault, kCallKinds> faults{};
    DeviceLoss loss;
    std::vector<std::string> log;
    Counters counters;
    std::set<WaitableTimer*> timers;
    std::vector<uint32_t> firstPassMarks;
};

Controls& GetControls();
// The groups that the fire kernel's first pass is to mark (MarkGroupsInFirstPass).
std::vector<uint32_t> FirstPassMarks();

extern std::atomic<bool> gDevicesHeld;
extern std::atomic<bool> gReferenceKernels;
extern std::atomic<uint64_t> gResourceSizeLimit;  // 0: no limit
// Off until the test controls are linked in, so that the shipped device formats no call lines.
extern std::atomic<bool> gRecordCalls;
extern std::array<std::atomic<int>, static_cast<size_t>(Kind::kCount)> gLive;

}  // namespace d3d_standin
