#include "BlockWaker.h"

#include "platform/WordWait.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace service {

std::unique_ptr<BlockWaker> BlockWaker::Start(ConnectBlock* block, std::string& error,
                                              std::chrono::milliseconds classicPeriod)
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<BlockWaker> waker(new BlockWaker(block, fd, classicPeriod));
    try {
        waker->thread_ = std::thread([raw = waker.get()] { raw->Run(); });
    } catch (const std::system_error& e) {
        error = std::string("thread: ") + e.what();
        return nullptr;   // the destructor closes the eventfd; no thread to join
    }
    return waker;
}

BlockWaker::~BlockWaker()
{
    stop_.store(true);
    if (thread_.joinable()) {
        platform::WakeWordWaiters(&block_->cmdWord);
        thread_.join();
    }
    close(fd_);
}

void BlockWaker::Signal()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
}

void BlockWaker::Drain()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd_, &count, sizeof count);
}

void BlockWaker::Run()
{
    std::atomic_ref<uint32_t> word(block_->cmdWord);
    while (!stop_.load()) {
        const uint32_t handled = handled_.load(std::memory_order_acquire);
        const platform::WordWait result = platform::WaitWhileWordIs(&block_->cmdWord, handled, classicPeriod_);
        if (stop_.load())
            return;
        if (result == platform::WordWait::TimedOut) {
            if (word.load(std::memory_order_acquire) != handled_.load(std::memory_order_acquire))
                Signal();
            continue;
        }
        // Woken, or the word moved on since the loop last handled it.
        Signal();
        std::this_thread::sleep_for(kGap);
        Signal();
    }
}

} // namespace service
