#include "BlockMonitor.h"

#include "BlockDump.h"
#include "StopSignal.h"
#include "link/ConnectBlock.h"
#include "platform/SharedMemory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

namespace cardsim {

namespace {

// Holds the block open while the monitor runs, exactly as the utility does.
class OpenBlock {
public:
    OpenBlock()
        : name_(platform::DefaultBlockName()),
          memory_(platform::SharedMemory::CreateOrOpen(name_, block::kSize)),
          view_(platform::MappedView::Map(memory_))
    {
    }

    bool Usable() const { return view_.Data() != nullptr && view_.Size() >= block::kSize; }
    const std::string& Name() const { return name_; }

    BlockBytes Read() const
    {
        BlockBytes bytes;
        std::memcpy(bytes.data(), view_.Data(), bytes.size());
        return bytes;
    }

private:
    std::string name_;
    platform::SharedMemory memory_;
    platform::MappedView view_;
};

// Every process that has the block open holds a shared lock on it (the README's lock rule).
// A block that does not exist, or whose exclusive lock is free, is held by nobody: no service
// answers it, and its bytes are at best a leftover.
bool SomeoneHolds(const std::string& name)
{
    const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);  // closing drops the lock, if we had it
    return held;
}

std::string Clock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  now.tv_nsec / 1000000);
    return text;
}

} // namespace

ExitCode BlockMonitor::Dump()
{
    if (const std::string name = platform::DefaultBlockName(); !SomeoneHolds(name)) {
        std::fprintf(stderr,
                     "wlan-cardsim: nobody serves the block %s (no process has it open); is wlan-cardsim "
                     "running for this block (WLAN_CONNECT_BLOCK)?\n",
                     name.c_str());
        return ExitCode::NoSimulator;
    }
    const OpenBlock block;
    if (!block.Usable()) {
        std::fprintf(stderr, "wlan-cardsim: the block %s cannot be mapped\n", block.Name().c_str());
        return ExitCode::CannotServe;
    }
    std::printf("block %s\n%s", block.Name().c_str(), BlockDump::Describe(block.Read()).c_str());
    return ExitCode::Ok;
}

ExitCode BlockMonitor::Watch()
{
    StopSignal::Install();
    const OpenBlock block;
    if (!block.Usable()) {
        std::fprintf(stderr, "wlan-cardsim: the block %s cannot be mapped\n", block.Name().c_str());
        return ExitCode::CannotServe;
    }
    std::optional<BlockBytes> shown;
    while (!StopSignal::Requested()) {
        BlockBytes now = block.Read();
        // A refresh that changed nothing but the status count is not news.
        BlockBytes compared = now;
        compared[4] = compared[5] = compared[6] = 0;
        if (!shown || compared != *shown) {
            std::printf("-- %s block %s\n%s", Clock().c_str(), block.Name().c_str(),
                        BlockDump::Describe(now).c_str());
            std::fflush(stdout);
            shown = compared;
        }
        std::this_thread::sleep_for(kWatchPeriod);
    }
    return ExitCode::Ok;
}

} // namespace cardsim
