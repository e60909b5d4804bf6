// Scoped holder for one host suite: acquired on construction, released exactly once on every
// way out of the scope that holds it.
#pragma once

#include <cstdint>

#include "host_api/effect_api.h"

namespace pyrix {

template <typename SuiteT>
class SuiteScope {
  public:
    // Never throws: callers decide whether a missing suite is an error.
    SuiteScope(const SPBasicSuite* basic, const char* name, int32_t version)
        : basic_(basic), name_(name), version_(version) {
        if (basic_ == nullptr || basic_->AcquireSuite == nullptr ||
            basic_->ReleaseSuite == nullptr || name_ == nullptr) {
            return;
        }
        const void* table = nullptr;
        if (basic_->AcquireSuite(name_, version_, &table) == 0) {
            table_ = static_cast<const SuiteT*>(table);
        }
        // A host that reports success with a null table has handed out nothing to release.
    }

    ~SuiteScope() {
        if (table_ != nullptr) basic_->ReleaseSuite(name_, version_);
    }

    SuiteScope(const SuiteScope&) = delete;
    SuiteScope& operator=(const SuiteScope&) = delete;
    SuiteScope(SuiteScope&&) = delete;
    SuiteScope& operator=(SuiteScope&&) = delete;

    const SuiteT* get() const { return table_; }
    explicit operator bool() const { return table_ != nullptr; }
    const SuiteT* operator->() const { return table_; }

  private:
    const SPBasicSuite* basic_;
    const char* name_;
    int32_t version_;
    const SuiteT* table_ = nullptr;
};

}  // namespace pyrix
