#pragma once
// Named shared memory, as the block needs it: create or open by name without telling the
// two apart, map for reading and writing, unmap, close.
//
// Lifetime rule: the object lives while some process has it open. A block that no live
// process holds (left by a process that ended or crashed) is taken as new, all zero bytes;
// a block that a running process holds is opened with its contents untouched.
//
// When the object cannot be created, opened or mapped (another user's object of that name,
// one too small that cannot be grown), the caller gets a private zeroed block of the same
// size so it can still run, and one line on stderr says why. The same holds when another
// process shrinks the object under a live view: the view turns into private zero memory at
// the same address instead of the process dying of SIGBUS.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// $WLAN_CONNECT_BLOCK when set, else "/connect01".
std::string DefaultBlockName();

class MappedView;

// The handle of a named shared-memory object. Move-only; closes on destruction.
class SharedMemory {
public:
    static SharedMemory CreateOrOpen(std::string_view name, size_t size);
    SharedMemory() = default;
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    ~SharedMemory();

    // Closes the handle; the last holder removes the name. Idempotent.
    void Close();
    bool IsOpen() const;
    // True when this is the private fallback, not a shared object.
    bool IsPrivate() const { return private_ != nullptr; }
    size_t Size() const { return size_; }
    const std::string& Name() const { return name_; }

private:
    friend class MappedView;
    int fd_ = -1;
    size_t size_ = 0;
    std::string name_;
    unsigned char* private_ = nullptr;  // the fallback block, owned
};

// A read-write view of the whole object. Move-only; unmaps on destruction.
class MappedView {
public:
    static MappedView Map(SharedMemory& memory);
    MappedView() = default;
    MappedView(MappedView&& other) noexcept;
    MappedView& operator=(MappedView&& other) noexcept;
    ~MappedView();

    void Unmap();
    void* Data() const { return data_; }
    size_t Size() const { return size_; }
    // True for a view of the private fallback, and for a view whose object another process
    // shrank: what it shows is no longer shared with anyone.
    bool IsPrivate() const;

private:
    void* data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;  // false for a view of the private fallback
    size_t region_ = SIZE_MAX;  // the watched region of a mapping, none past the last
};

} // namespace platform
