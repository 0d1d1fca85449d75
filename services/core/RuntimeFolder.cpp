#include "RuntimeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace service {

namespace {

bool IsPrivateFolder(const std::filesystem::path& folder)
{
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

} // namespace

std::optional<std::filesystem::path> RuntimeFolder(std::string& error, const std::filesystem::path& fallbackBase)
{
    // A runtime folder that others may enter, or that is not ours, is passed over as if unset:
    // another user could otherwise plant a socket or a lock there that answers in our name.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime == '/' && IsPrivateFolder(runtime))
        return std::filesystem::path(runtime);
    // Never $TMPDIR: the C library drops it for a program started with raised privileges
    // (wlan-connectd with its capability), so two services of one user would take their
    // locks in different folders and both serve one block. Both keep XDG_RUNTIME_DIR.
    const std::filesystem::path folder = fallbackBase / ("wlan-cardsim-" + std::to_string(geteuid()));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + folder.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!IsPrivateFolder(folder)) {
        error = folder.string() + " is not a private folder of this user (mode 0700): refusing to use it";
        return std::nullopt;
    }
    return folder;
}

std::string FileNameFor(std::string_view prefix, std::string_view blockName, std::string_view suffix)
{
    std::string name(prefix);
    for (const char c : blockName.substr(blockName.starts_with('/') ? 1 : 0)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        name += plain ? c : '_';
    }
    return name.append(suffix);
}

} // namespace service
