#pragma once
// Ownership of one reference to a GLib object (libnm's connections, settings, client), so the
// code that talks to NetworkManager gives every reference back on every path. The deleter
// lives in the source file: this header pulls no GLib header into those who include it.

#include <memory>

namespace connectd {

struct GObjectUnref {
    void operator()(void* object) const;
};

template <typename T>
using GObjectRef = std::unique_ptr<T, GObjectUnref>;

// Takes one more reference to an object someone else owns (null stays null).
void* RefGObject(void* object);

template <typename T>
GObjectRef<T> ShareGObject(T* borrowed)
{
    return GObjectRef<T>(static_cast<T*>(RefGObject(borrowed)));
}

} // namespace connectd
