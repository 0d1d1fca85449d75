#pragma once
// Run-time class records: a class name, the record of the base class, and (for classes that
// support dynamic creation) a factory that returns a new default-constructed object.

#include <memory>
#include <string_view>

namespace fw {

class Object;

struct RuntimeClass {
    std::string_view className;
    const RuntimeClass* base;
    std::unique_ptr<Object> (*factory)();  // null when the class is not creatable by name

    std::unique_ptr<Object> CreateObject() const { return factory ? factory() : nullptr; }
    bool IsDerivedFrom(const RuntimeClass* other) const
    {
        for (const RuntimeClass* c = this; c; c = c->base)
            if (c == other)
                return true;
        return false;
    }
};

} // namespace fw

// In the class body: FW_DECLARE_DYNAMIC(nSheet) or FW_DECLARE_DYNCREATE(nPConfig). Every class
// with a record names it runtimeClass, so a derived record can point at its base's.
#define FW_DECLARE_DYNAMIC(theClass)                                                   \
public:                                                                                \
    static const ::fw::RuntimeClass runtimeClass;                                      \
    const ::fw::RuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }

#define FW_DECLARE_DYNCREATE(theClass)                                                 \
    FW_DECLARE_DYNAMIC(theClass)                                                       \
    static std::unique_ptr<::fw::Object> CreateObject();

// In the source file: FW_IMPLEMENT_DYNAMIC(nSheet, fw::PropertySheet) or
// FW_IMPLEMENT_DYNCREATE(nPConfig, fw::PropertyPage).
#define FW_IMPLEMENT_DYNAMIC(theClass, baseClass)                                      \
    const ::fw::RuntimeClass theClass::runtimeClass{#theClass, &baseClass::runtimeClass, nullptr};

#define FW_IMPLEMENT_DYNCREATE(theClass, baseClass)                                    \
    std::unique_ptr<::fw::Object> theClass::CreateObject() { return std::make_unique<theClass>(); } \
    const ::fw::RuntimeClass theClass::runtimeClass{#theClass, &baseClass::runtimeClass, &theClass::CreateObject};
