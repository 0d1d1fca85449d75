#include "platform/RegistryKey.h"

#include "platform/RegistryFile.h"
#include "platform/RegistryStore.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr std::u16string_view kRoot = u"HKEY_LOCAL_MACHINE";

std::filesystem::path HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return ".";
}

std::u16string FullPath(std::u16string_view path)
{
    std::u16string full(kRoot);
    if (!path.empty()) {
        full += u'\\';
        full += path;
    }
    return full;
}

std::optional<RegistryKey> Failed(int32_t* status, int32_t code)
{
    if (status)
        *status = code;
    return std::nullopt;
}

} // namespace

std::filesystem::path RegistryFile()
{
    if (const char* file = std::getenv("WLAN_REGISTRY_FILE"); file && *file)
        return file;
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path base =
        config && config[0] == '/' ? std::filesystem::path(config) : HomeFolder() / ".config";
    return base / "wlan-utility" / "registry.reg";
}

struct RegistryKey::State {
    std::filesystem::path file;
    std::u16string path;  // root first, as the file names its sections
    bool canQuery = false;
    bool canSet = false;
    bool create = false;
    regfile::Key snapshot;  // the values as the file held them at the open
    regfile::Key pending;   // writes collected until the close
    size_t pendingBytes = 0;

    const regfile::Value* Find(std::u16string_view name) const
    {
        const regfile::Value* value = pending.Find(name);
        return value ? value : snapshot.Find(name);
    }
};

std::optional<RegistryKey> RegistryKey::Open(std::u16string_view path, Access access,
                                             int32_t* status)
{
    auto state = std::make_unique<State>();
    state->file = RegistryFile();
    state->path = FullPath(path);
    state->canQuery = (static_cast<uint32_t>(access) & static_cast<uint32_t>(Access::Query)) != 0;
    state->canSet = (static_cast<uint32_t>(access) & static_cast<uint32_t>(Access::Set)) != 0;
    if (!regfile::IsWritableName(path))
        return Failed(status, ERROR_FILE_NOT_FOUND);

    RegistryStore::Snapshot loaded = RegistryStore::Load(state->file);
    if (loaded.status != ERROR_SUCCESS)
        return Failed(status, loaded.status);
    if (!loaded.document.HasKey(state->path))
        return Failed(status, ERROR_FILE_NOT_FOUND);
    if (const regfile::Key* key = loaded.document.FindKey(state->path))
        state->snapshot = *key;
    if (status)
        *status = ERROR_SUCCESS;
    return RegistryKey(std::move(state));
}

std::optional<RegistryKey> RegistryKey::Create(std::u16string_view path, int32_t* status)
{
    auto state = std::make_unique<State>();
    state->file = RegistryFile();
    state->path = FullPath(path);
    state->canQuery = true;
    state->canSet = true;
    state->create = true;
    if (!regfile::IsWritableName(path))
        return Failed(status, ERROR_INVALID_DATA);

    // A file that cannot be parsed is never overwritten, not even to create a key in it.
    RegistryStore::Snapshot loaded = RegistryStore::Load(state->file);
    if (loaded.status != ERROR_SUCCESS && loaded.status != ERROR_FILE_NOT_FOUND)
        return Failed(status, loaded.status);
    if (const regfile::Key* key = loaded.document.FindKey(state->path))
        state->snapshot = *key;
    if (status)
        *status = ERROR_SUCCESS;
    return RegistryKey(std::move(state));
}

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}

RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept
{
    if (this != &other) {
        if (state_)
            Close();
        state_ = std::move(other.state_);
    }
    return *this;
}

RegistryKey::~RegistryKey()
{
    if (state_)
        Close();
}

int32_t RegistryKey::QueryValue(std::u16string_view name, void* data, uint32_t* size,
                                uint32_t* type) const
{
    if (!state_)
        return ERROR_INVALID_HANDLE;
    if (!state_->canQuery)
        return ERROR_ACCESS_DENIED;
    if (data && !size)
        return ERROR_INVALID_DATA;
    const regfile::Value* value = state_->Find(name);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->type;
    if (!size)
        return ERROR_SUCCESS;
    const auto needed = static_cast<uint32_t>(value->data.size());
    // The caller's buffer stays untouched when the value does not fit.
    if (data && needed > *size) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data && needed > 0)
        std::memcpy(data, value->data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

int32_t RegistryKey::SetValue(std::u16string_view name, uint32_t type, const void* data,
                              uint32_t size)
{
    if (!state_)
        return ERROR_INVALID_HANDLE;
    if (!state_->canSet)
        return ERROR_ACCESS_DENIED;
    if (!regfile::IsWritableName(name) || (size > 0 && !data))
        return ERROR_INVALID_DATA;
    const regfile::Value* previous = state_->pending.Find(name);
    const size_t replaced = previous ? previous->data.size() : 0;
    // What a close could write is bounded by what a file may hold.
    if (state_->pendingBytes - replaced + size > regfile::kMaxFileBytes)
        return ERROR_INVALID_DATA;
    const auto* bytes = static_cast<const uint8_t*>(data);
    state_->pending.Set(name, type, std::vector<uint8_t>(bytes, bytes + size));
    state_->pendingBytes = state_->pendingBytes - replaced + size;
    return ERROR_SUCCESS;
}

int32_t RegistryKey::Close()
{
    if (!state_)
        return ERROR_INVALID_HANDLE;
    const std::unique_ptr<State> state = std::move(state_);
    if (!state->canSet || (state->pending.values.empty() && !state->create))
        return ERROR_SUCCESS;
    const FolderCreation creation =
        state->create ? FolderCreation::WhenMissing : FolderCreation::Never;
    return RegistryStore::Update(state->file, creation, [&state](regfile::Document& document) {
        // A key removed by someone else since the open is not brought back by a mere setter.
        if (!state->create && !document.HasKey(state->path))
            return ERROR_FILE_NOT_FOUND;
        if (state->pending.values.empty() && document.FindKey(state->path))
            return RegistryStore::kUnchanged;
        regfile::Key& key = document.FindOrAddKey(state->path);
        for (const regfile::Value& value : state->pending.values)
            key.Set(value.name, value.type, value.data);
        return ERROR_SUCCESS;
    });
}

} // namespace platform
