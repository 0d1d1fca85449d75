#include "ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Start(std::vector<std::string> args, const std::string& logPath)
{
    Stop();
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        pid_ = -1;
    return pid_ > 0;
}

int ChildProcess::Stop(int signal)
{
    if (pid_ > 0)
        kill(pid_, signal);
    return Wait();
}

namespace {

int ExitStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int ChildProcess::Wait()
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    const bool waited = waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return waited ? ExitStatus(status) : -1;
}

std::optional<int> ChildProcess::Ended()
{
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_)
        return std::nullopt;
    pid_ = -1;
    return ExitStatus(status);
}

int ChildProcess::Run(std::vector<std::string> args, const std::string& logPath)
{
    ChildProcess child;
    return child.Start(std::move(args), logPath) ? child.Wait() : -1;
}
