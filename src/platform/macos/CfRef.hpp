#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace vesperon::platform {

// Owns one Core Foundation reference that came from a Create or Copy function (the
// Create rule) and releases it once. References from Get functions are borrowed and
// must never be put here.
template <class Ref> class CfRef {
  public:
    CfRef() = default;
    explicit CfRef(Ref ref) : ref_(ref) {}
    ~CfRef() {
        if (ref_ != nullptr) {
            CFRelease(ref_);
        }
    }
    CfRef(const CfRef&) = delete;
    CfRef& operator=(const CfRef&) = delete;
    CfRef(CfRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}

    [[nodiscard]] Ref get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

  private:
    Ref ref_ = nullptr;
};

} // namespace vesperon::platform
