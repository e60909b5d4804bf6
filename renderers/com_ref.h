// An owning reference to a COM interface: releases it when reset or destroyed.
#pragma once

#include <utility>

namespace pyrix {

template <class T>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() { Reset(); }

    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }

    void Reset() {
        if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
    }

    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For creation calls that write a new interface: releases the old one first.
    T** Put() {
        Reset();
        return &pointer_;
    }

    // For calls that take an array of interfaces (bind calls): the held pointer, in place.
    T* const* GetAddressOf() const { return &pointer_; }

  private:
    T* pointer_ = nullptr;
};

}  // namespace pyrix
