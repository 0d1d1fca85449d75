#include "GObjectRef.h"

#include <glib-object.h>

namespace connectd {

void GObjectUnref::operator()(void* object) const
{
    if (object != nullptr)
        g_object_unref(object);
}

void* RefGObject(void* object)
{
    return object != nullptr ? g_object_ref(object) : nullptr;
}

} // namespace connectd
