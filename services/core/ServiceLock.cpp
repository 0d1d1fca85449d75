#include "ServiceLock.h"

#include "RuntimeFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace service {

std::optional<ServiceLock> ServiceLock::Take(std::string_view blockName, std::string& error)
{
    const auto folder = RuntimeFolder(error);
    if (!folder)
        return std::nullopt;
    const std::filesystem::path path = *folder / FileNameFor("wlan-service-", blockName, ".lock");
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        error = path.string() + " is not a regular file of this user";
        return std::nullopt;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        close(fd);
        error = reason == EWOULDBLOCK ? "another connection service serves the block " + std::string(blockName)
                                      : "cannot lock " + path.string() + ": " + std::strerror(reason);
        return std::nullopt;
    }
    return ServiceLock(fd);
}

ServiceLock::~ServiceLock()
{
    if (fd_ >= 0)
        close(fd_);
}

} // namespace service
