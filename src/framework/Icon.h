#pragma once

#include "framework/DialogTemplate.h"

#include <memory>

namespace fw {

// An icon loaded from an icon resource (all its images). A default-constructed Icon is null.
class Icon {
public:
    Icon() = default;
    static Icon Load(const IconResource& resource);
    bool IsNull() const { return !impl_; }

    struct Impl;
    const Impl* impl() const { return impl_.get(); }

private:
    std::shared_ptr<const Impl> impl_;
};

} // namespace fw
