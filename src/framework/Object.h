#pragma once
// The root of the framework's classes that carry a run-time class record.

#include "framework/RuntimeClass.h"

namespace fw {

class Object {
public:
    Object() = default;
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    virtual const RuntimeClass* GetRuntimeClass() const { return &runtimeClass; }
    bool IsKindOf(const RuntimeClass* cls) const;

    static const RuntimeClass runtimeClass;
};

} // namespace fw
