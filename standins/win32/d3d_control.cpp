// The Direct3D stand-in's test controls. Linking them in (any test that uses one) turns the
// call log on.
#include "standins/win32/d3d_control.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "standins/win32/standin_state.h"

namespace d3d_standin {
namespace {

const bool gCallLogOn = [] {
    gRecordCalls = true;
    return true;
}();

}  // namespace

void SetAdapters(std::vector<AdapterConfig> adapters) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.adapters = std::move(adapters);
}

void FailCall(Call call, HRESULT result, int skip, int count) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.faults[static_cast<size_t>(call)] = Fault{count != 0, result, skip, count};
}

void LoseDeviceAtCall(int skip, HRESULT reason) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.loss = DeviceLoss{true, skip, reason};
}

void ClearFaults() {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.faults = {};
    c.loss = {};
}

void HoldDevices(bool held) {
    gDevicesHeld = held;
}

void UseReferenceKernels(bool reference) {
    gReferenceKernels = reference;
}

void SetResourceSizeLimit(uint64_t bytes) {
    gResourceSizeLimit = bytes;
}

void MarkGroupsInFirstPass(std::vector<uint32_t> groups) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.firstPassMarks = std::move(groups);
}

std::vector<std::string> CallLog() {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.log;
}

void ClearCallLog() {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.log.clear();
}

Counters GetCounters() {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.counters;
}

int LiveObjects() {
    int total = 0;
    for (const auto& count : gLive) total += count;
    return total;
}

int LiveObjects(Kind kind) {
    return gLive[static_cast<size_t>(kind)];
}

void Reset() {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.adapters = {AdapterConfig{}};
    c.faults = {};
    c.loss = {};
    c.log.clear();
    c.counters = Counters{};
    c.firstPassMarks.clear();
    gDevicesHeld = false;
    gReferenceKernels = false;
    gResourceSizeLimit = 0;
}

}  // namespace d3d_standin
