#pragma once
// The registry, kept in a text file in the registry editor's export format. Keys are paths
// under HKEY_LOCAL_MACHINE; key paths and value names compare case-insensitively and keep
// their case. Every operation reports its status as the system expects (ERROR_SUCCESS,
// ERROR_MORE_DATA, another failure), never by exception.
//
// A key opened for setting collects its writes; Close replaces the file once, atomically
// and durably, under an advisory lock shared with every writer, keeping changes that other
// writers made since the open. A file that cannot be parsed makes every key impossible to
// open, and is never overwritten.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace platform {

inline constexpr int32_t ERROR_SUCCESS = 0;
inline constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr int32_t ERROR_ACCESS_DENIED = 5;
inline constexpr int32_t ERROR_INVALID_DATA = 13;
inline constexpr int32_t ERROR_MORE_DATA = 234;

inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;

enum class Access : uint32_t { Query = 1, Set = 2 };

// $WLAN_REGISTRY_FILE when set, else ${XDG_CONFIG_HOME:-$HOME/.config}/wlan-utility/registry.reg.
std::filesystem::path RegistryFile();

class RegistryKey {
public:
    // Opens an existing key; never creates it. Empty when the key does not exist or the file
    // cannot be read or parsed; `status` (when given) says why.
    static std::optional<RegistryKey> Open(std::u16string_view path, Access access,
                                           int32_t* status = nullptr);
    // Opens a key for setting, creating it (and the file) when missing. For the card
    // driver's side only: the utility never creates the key.
    static std::optional<RegistryKey> Create(std::u16string_view path, int32_t* status = nullptr);

    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;
    ~RegistryKey();  // closes

    // Reads a value into `data`, whose capacity in bytes is *size on entry. On success *size
    // is the value's size; ERROR_MORE_DATA when the value is larger than the capacity (then
    // *size is the size needed and `data` is untouched). `type` (when given) receives the type.
    int32_t QueryValue(std::u16string_view name, void* data, uint32_t* size,
                       uint32_t* type = nullptr) const;
    int32_t SetValue(std::u16string_view name, uint32_t type, const void* data, uint32_t size);
    // Closes the key; for a key opened for setting, writes what it collected.
    int32_t Close();

    struct State;

private:
    explicit RegistryKey(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace platform
