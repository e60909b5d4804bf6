// The stand-in's Win32 calls: the waitable timers that the GPU wait uses, SwitchToThread and
// CloseHandle; and the state that the test controls set.
#include <chrono>
#include <mutex>
#include <thread>

#include "standins/win32/standin_objects.h"

namespace d3d_standin {

Controls& GetControls() {
    static Controls controls;
    return controls;
}

std::vector<uint32_t> FirstPassMarks() {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.firstPassMarks;
}

std::atomic<bool> gDevicesHeld{false};
std::atomic<bool> gReferenceKernels{false};
std::atomic<uint64_t> gResourceSizeLimit{0};
std::atomic<bool> gRecordCalls{false};
std::array<std::atomic<int>, static_cast<size_t>(Kind::kCount)> gLive{};

// Declared with the controls' state, which keeps the set of open timers.
struct WaitableTimer {
    LiveToken live{Kind::WaitableTimer};
    bool armed = false;
    std::chrono::steady_clock::time_point due;
};

namespace {

WaitableTimer* FindTimer(HANDLE handle) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    auto* timer = static_cast<WaitableTimer*>(handle);
    return c.timers.count(timer) != 0 ? timer : nullptr;
}

}  // namespace

}  // namespace d3d_standin

using namespace d3d_standin;

HANDLE WINAPI CreateWaitableTimerExW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                     DWORD desiredAccess) {
    if (RecordingCalls())
        Log(Format("CreateWaitableTimerExW attributes=%s name=%s flags=0x%x access=0x%x",
                   attributes ? "set" : "null", name ? "set" : "null", flags, desiredAccess));
    HRESULT ignored = S_OK;
    if (TakeFault(Call::CreateWaitableTimerExW, &ignored)) return nullptr;
    auto* timer = new WaitableTimer();
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.timers.insert(timer);
    return timer;
}

BOOL WINAPI SetWaitableTimer(HANDLE handle, const LARGE_INTEGER* dueTime, LONG period,
                             PTIMERAPCROUTINE completionRoutine, LPVOID, BOOL resume) {
    Count(&Counters::setWaitableTimer);
    WaitableTimer* timer = FindTimer(handle);
    // Only one-shot relative timers without completion routines are stood in for.
    if (timer == nullptr || dueTime == nullptr || dueTime->QuadPart > 0 || period != 0 ||
        completionRoutine != nullptr || resume) {
        return FALSE;
    }
    const auto delay = std::chrono::nanoseconds(-dueTime->QuadPart * 100);
    timer->due = std::chrono::steady_clock::now() + delay;
    timer->armed = true;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Count(&Counters::waitForSingleObject);
    WaitableTimer* timer = FindTimer(handle);
    if (timer == nullptr) return WAIT_FAILED;
    if (!timer->armed && milliseconds == INFINITE) return WAIT_FAILED;  // would never return
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    if (timer->armed && timer->due <= deadline) {
        std::this_thread::sleep_until(timer->due);
        timer->armed = false;  // a synchronisation timer resets when a wait is satisfied
        return WAIT_OBJECT_0;
    }
    std::this_thread::sleep_until(deadline);
    return WAIT_TIMEOUT;
}

BOOL WINAPI SwitchToThread() {
    Count(&Counters::switchToThread);
    std::this_thread::yield();
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (RecordingCalls()) Log("CloseHandle");
    Controls& c = GetControls();
    WaitableTimer* timer = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        auto found = c.timers.find(static_cast<WaitableTimer*>(handle));
        if (found == c.timers.end()) return FALSE;
        timer = *found;
        c.timers.erase(found);
    }
    delete timer;
    return TRUE;
}
