// How much a flood of silent control-socket clients delays the simulator's block: the link
// refresh interval and the acknowledgement time of a command, first with no client, then with
// 200 connected clients that never send a word (each one dropped is connected again at once),
// in the same run against the same simulator. Figures are medians, and the ratios of the two.
//
//   bench_cardsim_clients [path of wlan-cardsim]     (default: the one built with it)

#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

int Connect(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Keeps `count` silent clients connected: any the simulator dropped is replaced.
void KeepSilent(std::vector<int>& clients, size_t count, const std::string& path)
{
    for (int& fd : clients) {
        char byte = 0;
        const ssize_t got = fd < 0 ? 0 : recv(fd, &byte, 1, MSG_DONTWAIT);
        if (fd < 0 || got == 0 || (got < 0 && errno != EAGAIN)) {
            if (fd >= 0)
                close(fd);
            fd = Connect(path);
        }
    }
    while (clients.size() < count)
        clients.push_back(Connect(path));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Figures {
    double refreshMs;
    double ackMs;
};

Figures Measure(ConnectChannel& channel, std::vector<int>& clients, size_t silent, const std::string& path)
{
    std::vector<double> refreshes;
    channel.PostLinkInfo();
    uint32_t last = channel.StatusWord();
    auto lastAt = Clock::now();
    while (refreshes.size() < 12) {
        KeepSilent(clients, silent, path);
        const uint32_t now = channel.StatusWord();
        if (now != last) {
            refreshes.push_back(Ms(Clock::now() - lastAt).count());
            last = now;
            lastAt = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    refreshes.erase(refreshes.begin());  // the first runs from the request, not from a refresh
    std::vector<double> acks;
    for (int i = 0; i < 40; ++i) {
        KeepSilent(clients, silent, path);
        const auto posted = Clock::now();
        channel.PostConfig({1, 15, 1, 6, u""});
        while ((channel.CommandWord() >> 24) != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        acks.push_back(Ms(Clock::now() - posted).count());
        // Gaps that are no multiple of the poll period, so the posts fall at every phase of it.
        std::this_thread::sleep_for(std::chrono::microseconds(30000 + (i * 3700) % 10000));
    }
    return {Median(refreshes), Median(acks)};
}

} // namespace

int main(int argc, char** argv)
{
    std::string program = argc > 1 ? argv[1] : WLAN_CARDSIM_BUILT;
    char folderName[] = "/tmp/bench-cardsim-XXXXXX";
    const std::filesystem::path folder = mkdtemp(folderName);
    const std::string block = "/bench-cardsim-" + std::to_string(getpid());
    setenv("WLAN_CONNECT_BLOCK", block.c_str(), 1);
    setenv("WLAN_REGISTRY_FILE", (folder / "registry.reg").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    const std::string socketPath = (folder / ("wlan-cardsim-" + block.substr(1) + ".sock")).string();

    char* args[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (folder / "serve.log").c_str(), O_WRONLY | O_CREAT, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args, environ) != 0)
        return 1;
    while (!std::filesystem::exists(socketPath))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto memory = platform::SharedMemory::CreateOrOpen(block, 64);
    auto view = platform::MappedView::Map(memory);
    ConnectChannel channel(static_cast<ConnectBlock*>(view.Data()));
    // Past the card's first second, when nothing is answered.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    std::vector<int> clients;
    const Figures alone = Measure(channel, clients, 0, socketPath);
    const Figures flooded = Measure(channel, clients, 200, socketPath);
    std::printf("link refresh interval: %.1f ms alone, %.1f ms with 200 silent clients (ratio %.2f)\n",
                alone.refreshMs, flooded.refreshMs, flooded.refreshMs / alone.refreshMs);
    std::printf("acknowledgement time:  %.2f ms alone, %.2f ms with 200 silent clients (ratio %.2f)\n",
                alone.ackMs, flooded.ackMs, flooded.ackMs / alone.ackMs);
    for (const int fd : clients)
        if (fd >= 0)
            close(fd);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(folder);
    return 0;
}
