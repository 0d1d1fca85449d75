#include "framework/Object.h"

namespace fw {

const RuntimeClass Object::runtimeClass{"Object", nullptr, nullptr};

bool Object::IsKindOf(const RuntimeClass* cls) const
{
    return cls && GetRuntimeClass()->IsDerivedFrom(cls);
}

} // namespace fw
