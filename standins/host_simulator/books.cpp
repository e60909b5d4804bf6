// The host simulator's books: what the plug-in called, acquired and released.
#include <string>
#include <vector>

#include "standins/host_simulator/simulator.h"
#include "standins/host_simulator/simulator_internal.h"

namespace host_sim {

// ---- What happened ------------------------------------------------------------------------------

// A host in its own right renders without end; only a strict host keeps a log.
void Simulator::RecordLocked(std::string call) {
    if (profile_ == Profile::kStrict) books_.calls.push_back(std::move(call));
}

void Simulator::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    books_ = Books();
    for (auto& entry : suites_) {
        entry.second.acquired = 0;
        entry.second.released = 0;
    }
}

int Simulator::AcquireCount(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? 0 : it->second.acquired;
}

int Simulator::ReleaseCount(const std::string& name, int32_t version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = suites_.find({name, version});
    return it == suites_.end() ? 0 : it->second.released;
}

std::vector<std::string> Simulator::UnbalancedSuites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> unbalanced;
    for (const auto& [key, entry] : suites_) {
        if (entry.acquired != entry.released) {
            unbalanced.push_back(key.first + "/" + std::to_string(key.second) + ": acquired " +
                                 std::to_string(entry.acquired) + ", released " +
                                 std::to_string(entry.released));
        }
    }
    return unbalanced;
}

long Simulator::OutstandingSuites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    long out = 0;
    for (const auto& entry : suites_) out += entry.second.acquired - entry.second.released;
    return out;
}

}  // namespace host_sim
