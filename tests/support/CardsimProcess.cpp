#include "support/CardsimProcess.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace testenv {

namespace {
// Long enough for the sanitizer build to start the simulator on a loaded machine.
constexpr std::chrono::seconds kStartDeadline{20};
} // namespace

std::string CardsimExecutable()
{
    const char* path = std::getenv("WLAN_CARDSIM");
    return path && *path ? path : WLAN_CARDSIM_BUILT;
}

pid_t SpawnCardsim(const std::vector<std::string>& args, const std::filesystem::path& out,
                   const std::filesystem::path& err)
{
    std::vector<std::string> all{CardsimExecutable()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err == out)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

CardsimProcess::CardsimProcess(const std::vector<std::string>& args, const std::string& registryText)
{
    mkdir(runtime_.c_str(), 0700);
    if (!registryText.empty())
        WriteFile(folder_ / "registry.reg", registryText);
    pid_ = SpawnCardsim(args, folder_ / "serve.log", folder_ / "serve.log");
    // The control socket appears once the simulator has the block and serves it.
    if (pid_ <= 0 || !WaitUntil([&] { return std::filesystem::exists(SocketPath()); }, kStartDeadline))
        return;
    memory_ = platform::SharedMemory::CreateOrOpen(blockName_, block::kSize);
    view_ = platform::MappedView::Map(memory_);
    if (!memory_.IsPrivate())
        block_ = static_cast<ConnectBlock*>(view_.Data());
}

CardsimProcess::~CardsimProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string CardsimProcess::Log() const { return ReadFile(folder_ / "serve.log"); }

int CardsimProcess::Control(const std::vector<std::string>& words)
{
    std::vector<std::string> args{"ctl"};
    args.insert(args.end(), words.begin(), words.end());
    const pid_t pid = SpawnCardsim(args, folder_ / "ctl.log", folder_ / "ctl.log");
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::filesystem::path CardsimProcess::SocketPath() const
{
    return runtime_ / ("wlan-cardsim-" + blockName_.substr(1) + ".sock");
}

} // namespace testenv
