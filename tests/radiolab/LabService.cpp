#include "LabService.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

LabService::LabService(std::string executable, std::string ctrlDir, std::string logPath)
    : executable_(std::move(executable)), ctrlDir_(std::move(ctrlDir)), logPath_(std::move(logPath))
{
    // The service finds the block and the key as the utility does; it starts with no key, so
    // it creates the driver's defaults.
    setenv("WLAN_CONNECT_BLOCK", blockName_.c_str(), 1);
    setenv("WLAN_REGISTRY_FILE", registryPath_.c_str(), 1);
    memory_ = platform::SharedMemory::CreateOrOpen(blockName_, block::kSize);
    view_ = platform::MappedView::Map(memory_);
    block_ = static_cast<ConnectBlock*>(view_.Data());
}

LabService::~LabService()
{
    Stop();
}

bool LabService::Start(const std::string& domain)
{
    std::vector<std::string> args{executable_, "--interface", "wlan0", "--ctrl-dir", ctrlDir_, "--domain", domain, "-v"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        pid_ = -1;
    return pid_ > 0;
}

int LabService::Stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
