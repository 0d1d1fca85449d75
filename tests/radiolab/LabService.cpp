#include "LabService.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// The lab's effective ids become the user's for as long as it lives, so that what the lab
// creates meanwhile (the block) is the user's own, as the utility would have created it.
class ActingAs {
public:
    ActingAs(uid_t uid, gid_t gid)
    {
        active_ = uid != geteuid() && setegid(gid) == 0 && seteuid(uid) == 0;
    }
    ~ActingAs()
    {
        if (active_ && seteuid(0) == 0)
            setegid(0);
    }
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;

private:
    bool active_ = false;
};

void MakePrivateFolder(const std::string& path, uid_t uid, gid_t gid)
{
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    if (chown(path.c_str(), uid, gid) != 0)
        std::perror(("radiolab: chown " + path).c_str());
}

} // namespace

LabService::LabService(std::string executable, std::string ctrlDir, std::string logPath, Account account)
    : executable_(std::move(executable)), ctrlDir_(std::move(ctrlDir)), logPath_(std::move(logPath)), account_(account)
{
    if (account_ == Account::DesktopUser) {
        if (const passwd* user = getpwnam("nobody")) {
            userName_ = user->pw_name;
            uid_ = user->pw_uid;
            gid_ = user->pw_gid;
        }
        if (const group* netdev = getgrnam("netdev"))
            netdev_ = netdev->gr_gid;
        home_ = "/tmp/radiolab-home";
        runtimeDir_ = "/tmp/radiolab-run";
        registryPath_ = home_ + "/radiolab-registry.reg";
        MakePrivateFolder(home_, uid_, gid_);
        MakePrivateFolder(runtimeDir_, uid_, gid_);
    }
    // The service finds the block and the key as the utility does; it starts with no key, so
    // it creates the driver's defaults.
    setenv("WLAN_CONNECT_BLOCK", blockName_.c_str(), 1);
    setenv("WLAN_REGISTRY_FILE", registryPath_.c_str(), 1);
    const ActingAs user(uid_, gid_);
    memory_ = platform::SharedMemory::CreateOrOpen(blockName_, block::kSize);
    view_ = platform::MappedView::Map(memory_);
    block_ = static_cast<ConnectBlock*>(view_.Data());
}

std::vector<std::string> LabService::AsServiceUser(std::vector<std::string> args) const
{
    if (account_ == Account::Root)
        return args;
    std::vector<std::string> command{"setpriv",
                                     "--reuid=" + std::to_string(uid_),
                                     "--regid=" + std::to_string(gid_),
                                     "--groups=" + std::to_string(netdev_ ? netdev_ : gid_),
                                     "--",
                                     "env",
                                     "HOME=" + home_,
                                     "XDG_RUNTIME_DIR=" + runtimeDir_};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

bool LabService::Start(const std::string& domain)
{
    std::vector<std::string> args{executable_, "--interface", "wlan0", "--ctrl-dir", ctrlDir_};
    if (!backend_.empty())
        args.insert(args.end(), {"--backend", backend_});
    if (!domain.empty())
        args.insert(args.end(), {"--domain", domain});
    args.push_back("-v");
    std::error_code error;
    const auto size = std::filesystem::file_size(logPath_, error);
    logStart_ = error ? 0 : static_cast<long>(size);
    return process_.Start(AsServiceUser(std::move(args)), logPath_);
}

std::string LabService::LogSinceStart() const
{
    std::string text;
    if (FILE* file = std::fopen(logPath_.c_str(), "r")) {
        std::fseek(file, logStart_, SEEK_SET);
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, file))
            text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}
