// A hostile peer: opens the named block and overwrites all 64 bytes with random ones, as fast
// as it can with a short pause between writes, for the given time. Half the writes carry one
// of the status codes the pages act on, so every branch of their reading is driven. Prints
// the number of writes made.
//
//   hostile_peer <block name> <milliseconds> <seed>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: hostile_peer <block name> <milliseconds> <seed>\n");
        return 2;
    }
    const int fd = shm_open(argv[1], O_RDWR | O_NOFOLLOW, 0);
    if (fd < 0) {
        std::perror("hostile_peer: shm_open");
        return 1;
    }
    void* mapped = mmap(nullptr, 64, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED) {
        std::perror("hostile_peer: mmap");
        return 1;
    }
    auto* block = static_cast<volatile uint32_t*>(mapped);
    uint64_t state = std::strtoull(argv[3], nullptr, 10) | 1;
    const auto next = [&state] {
        // xorshift64*: enough for noise, and the same run for the same seed.
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<uint32_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
    };
    constexpr uint32_t kStatusCodes[] = {0x11, 0x12, 0x01, 0x0F};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atol(argv[2]));
    long writes = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        for (int word = 0; word < 16; ++word)
            block[word] = next();
        const uint32_t choice = next();
        if (choice & 1)
            block[1] = (kStatusCodes[(choice >> 1) & 3] << 24) | (next() & 0x00FFFFFF);
        if ((choice & 0x30) == 0) // now and then an unassociated BSSID
            std::memset(const_cast<uint32_t*>(block) + 2, 0x44, 6);
        ++writes;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    munmap(mapped, 64);
    std::printf("%ld\n", writes);
    return 0;
}
