#pragma once
// One connection service per block: the simulator and the real service would otherwise answer
// the same utility in turns. Whoever serves a block holds an exclusive flock on a file named
// after it in the runtime folder, for as long as it runs; the kernel drops it when the process
// ends, however it ends. The file itself stays (removing a lock file races with its next user).

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace service {

class ServiceLock {
public:
    // Nothing, with the reason, when another service holds the block or the file cannot be had.
    static std::optional<ServiceLock> Take(std::string_view blockName, std::string& error);
    ServiceLock(ServiceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ServiceLock& operator=(ServiceLock&&) = delete;
    ServiceLock(const ServiceLock&) = delete;
    ~ServiceLock();

private:
    explicit ServiceLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace service
