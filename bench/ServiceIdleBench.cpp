// What a connection service costs while it waits, and how fast it answers: each service runs
// twice side by side, the way it serves now (asleep until the utility wakes it or a duty falls
// due) and the old way (--fixed-poll 10: the block looked at every 10 ms), each on a private
// block. Over one window nobody asks anything; over a second one the Status page's LINK_INFO
// request stands. The processor time of every thread of each service comes from the kernel's
// scheduler statistics (nanoseconds), so the few milliseconds a minute are measured, not
// sampled. Then the time from a post to its answer: requests and commands posted through the
// utility's own link code, and commands written the classic way, without a wake.
//
//   bench_service_idle [--seconds N]     (each window; default 60)
//
// wlan-connectd needs a supplicant: with root, each of its two runs gets the real
// wpa_supplicant's wired driver on a veth pair in a network namespace of its own; without
// root only the simulator is measured.

#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

pid_t Spawn(std::vector<std::string> args, const std::filesystem::path& log, const std::vector<std::string>& env)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = env;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Run(std::vector<std::string> args, const std::filesystem::path& log)
{
    const pid_t pid = Spawn(std::move(args), log, {});
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Nanoseconds on a processor, all threads of the process together.
uint64_t ProcessorNs(pid_t pid)
{
    uint64_t total = 0;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream stat(task.path() / "schedstat");
        uint64_t ns = 0;
        if (stat >> ns)
            total += ns;
    }
    return total;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Service {
    std::string name;          // "wlan-cardsim now", ...
    std::string block;
    pid_t pid = -1;
    platform::SharedMemory memory;
    platform::MappedView view;
    std::unique_ptr<ConnectChannel> channel;
    double idlePercent = 0;
    double linkPercent = 0;
    double requestMs = 0;
    double commandMs = 0;
    double classicMaxMs = 0;
};

// The link code's post, less the wake: what a peer that knows nothing of it writes.
void PostClassicWep(ConnectBlock* block)
{
    std::atomic_ref<uint32_t> word(block->cmdWord);
    uint32_t current = word.load();
    while (!word.compare_exchange_weak(current, (current & 0x00FFFFFE) | 0x00000001)) {
    }
    std::atomic_ref<uint8_t>(block->payload[block::kWepReq - 8]).store(0);
    current = word.load();
    while (!word.compare_exchange_weak(current, (current & 0x00FFFFFF) | static_cast<uint32_t>(CMD_SET_WEP) << 24,
                                       std::memory_order_release)) {
    }
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void MeasureLatency(Service& service)
{
    ConnectChannel& channel = *service.channel;
    std::vector<double> requests;
    std::vector<double> commands;
    for (int i = 0; i < 40; ++i) {
        channel.Withdraw();
        std::this_thread::sleep_for(std::chrono::microseconds(20000 + (i * 3700) % 10000));
        const uint32_t before = channel.StatusWord();
        auto posted = Clock::now();
        channel.PostLinkInfo();
        if (WaitFor([&] { return channel.StatusWord() != before && channel.Poll(STAT_LINK_INFO); },
                    std::chrono::milliseconds(2000)))
            requests.push_back(Ms(Clock::now() - posted).count());
        std::this_thread::sleep_for(std::chrono::microseconds(20000 + (i * 2900) % 10000));
        const uint8_t keys[20] = {};
        posted = Clock::now();
        channel.PostWep(0, 1, keys);
        if (WaitFor([&] { return (channel.CommandWord() >> 24) == 0; }, std::chrono::milliseconds(2000)))
            commands.push_back(Ms(Clock::now() - posted).count());
    }
    channel.Withdraw();
    double classicMax = 0;
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(30000 + (i * 4100) % 50000));
        const auto posted = Clock::now();
        PostClassicWep(channel.Block());
        if (!WaitFor([&] { return (channel.CommandWord() >> 24) == 0; }, std::chrono::milliseconds(2000)))
            classicMax = 2000;
        classicMax = std::max(classicMax, Ms(Clock::now() - posted).count());
    }
    service.requestMs = Median(requests);
    service.commandMs = Median(commands);
    service.classicMaxMs = classicMax;
}

// Processor time of each service over `seconds`, in percent of one core.
void MeasureCost(std::vector<Service>& services, int seconds, double Service::*into)
{
    std::vector<uint64_t> before;
    for (const Service& service : services)
        before.push_back(ProcessorNs(service.pid));
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsedNs = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    for (size_t i = 0; i < services.size(); ++i)
        services[i].*into = 100.0 * static_cast<double>(ProcessorNs(services[i].pid) - before[i]) / elapsedNs;
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = 60;
    if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0)
        seconds = std::max(1, std::atoi(argv[2]));
    char folderName[] = "/tmp/bench-idle-XXXXXX";
    const std::filesystem::path folder = mkdtemp(folderName);
    const std::string tag = std::to_string(getpid());
    const bool root = geteuid() == 0;
    std::vector<std::string> namespaces;
    std::vector<pid_t> supplicants;

    std::vector<Service> services;
    auto start = [&](const std::string& name, std::vector<std::string> args, const std::string& key) {
        Service service;
        service.name = name;
        service.block = "/bench-idle-" + tag + "-" + key;
        const std::filesystem::path runtime = folder / ("run-" + key);
        std::filesystem::create_directories(runtime);
        chmod(runtime.c_str(), 0700);
        service.pid = Spawn(std::move(args), folder / (key + ".log"),
                            {"WLAN_CONNECT_BLOCK=" + service.block,
                             "WLAN_REGISTRY_FILE=" + (folder / (key + ".reg")).string(),
                             "XDG_RUNTIME_DIR=" + runtime.string()});
        services.push_back(std::move(service));
    };
    start("wlan-cardsim now", {WLAN_CARDSIM_BUILT}, "cardsim-now");
    start("wlan-cardsim, 10 ms", {WLAN_CARDSIM_BUILT, "--fixed-poll", "10"}, "cardsim-old");
    if (root) {
        for (const char* key : {"connectd-now", "connectd-old"}) {
            const std::string ns = "bench" + tag + key[9];
            const std::filesystem::path ctrl = folder / (std::string("ctrl-") + key);
            std::filesystem::create_directories(ctrl);
            const std::filesystem::path log = folder / (std::string(key) + "-setup.log");
            if (Run({"ip", "netns", "add", ns}, log) != 0 ||
                Run({"ip", "-n", ns, "link", "add", "va", "type", "veth", "peer", "name", "vb"}, log) != 0 ||
                Run({"ip", "-n", ns, "link", "set", "va", "up"}, log) != 0 ||
                Run({"ip", "-n", ns, "link", "set", "vb", "up"}, log) != 0) {
                std::fprintf(stderr, "bench_service_idle: cannot make a network namespace (%s)\n", log.c_str());
                return 1;
            }
            namespaces.push_back(ns);
            supplicants.push_back(
                Spawn({"ip", "netns", "exec", ns, "wpa_supplicant", "-Dwired", "-i", "va", "-C", ctrl.string()}, log, {}));
            while (!std::filesystem::exists(ctrl / "va"))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::vector<std::string> args = {"ip", "netns", "exec", ns, WLAN_CONNECTD_BUILT, "--interface", "va",
                                             "--ctrl-dir", ctrl.string()};
            const bool old = std::string(key) == "connectd-old";
            if (old) {
                args.push_back("--fixed-poll");
                args.push_back("10");
            }
            start(old ? "wlan-connectd, 10 ms" : "wlan-connectd now", args, key);
        }
    } else {
        std::fprintf(stderr, "bench_service_idle: not root, so wlan-connectd (which needs a supplicant on a "
                             "veth pair in a network namespace) is left out\n");
    }
    for (Service& service : services) {
        service.memory = platform::SharedMemory::CreateOrOpen(service.block, block::kSize);
        service.view = platform::MappedView::Map(service.memory);
        service.channel = std::make_unique<ConnectChannel>(static_cast<ConnectBlock*>(service.view.Data()));
    }
    // Past each card's first second, when nothing is answered.
    std::this_thread::sleep_for(std::chrono::seconds(3));

    std::printf("measuring %d s with no request standing, %d s with LINK_INFO standing...\n", seconds, seconds);
    std::fflush(stdout);
    MeasureCost(services, seconds, &Service::idlePercent);
    for (Service& service : services)
        service.channel->PostLinkInfo();
    MeasureCost(services, seconds, &Service::linkPercent);
    for (Service& service : services)
        MeasureLatency(service);

    std::printf("\n%-22s %12s %16s %14s %14s %18s\n", "service", "idle, % core", "LINK_INFO, % core",
                "request, ms", "command, ms", "classic peer, max ms");
    for (const Service& service : services)
        std::printf("%-22s %12.4f %16.4f %14.2f %14.2f %18.1f\n", service.name.c_str(), service.idlePercent,
                    service.linkPercent, service.requestMs, service.commandMs, service.classicMaxMs);
    for (size_t i = 0; i + 1 < services.size(); i += 2)
        std::printf("%s: now / 10 ms: idle %.3f, LINK_INFO %.3f, request %.2f, command %.2f\n",
                    services[i].name.c_str(), services[i].idlePercent / services[i + 1].idlePercent,
                    services[i].linkPercent / services[i + 1].linkPercent,
                    services[i].requestMs / services[i + 1].requestMs,
                    services[i].commandMs / services[i + 1].commandMs);

    for (Service& service : services) {
        service.view.Unmap();
        service.memory.Close();
        kill(service.pid, SIGTERM);
        waitpid(service.pid, nullptr, 0);
    }
    for (const pid_t pid : supplicants) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    for (const std::string& ns : namespaces)
        Run({"ip", "netns", "del", ns}, folder / "del.log");
    std::printf("logs in %s\n", folder.c_str());
    return 0;
}
