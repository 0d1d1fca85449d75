#pragma once
// The connection service under test, as the lab runs it: one wlan-connectd process on the
// station radio at a time, serving a block that the lab holds mapped for the whole run (so it
// survives a restart of the service), with a registry file of its own. The lab talks to the
// block only through the project's ConnectChannel, as the pages do.
//
// On the NetworkManager backend the service runs as a desktop user would run it: not root
// (the user "nobody", who also belongs to netdev, as the README's supplicant path asks), with
// a private HOME and XDG_RUNTIME_DIR, and the block and the registry file are that user's.

#include "ChildProcess.h"
#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"

#include <string>
#include <sys/types.h>
#include <vector>

enum class Account { Root, DesktopUser };

class LabService {
public:
    LabService(std::string executable, std::string ctrlDir, std::string logPath, Account account = Account::Root);
    LabService(const LabService&) = delete;
    LabService& operator=(const LabService&) = delete;

    // "--backend" for the next Start; empty leaves the option out.
    void SetBackend(std::string backend) { backend_ = std::move(backend); }
    // Starts `wlan-connectd --interface wlan0 --ctrl-dir DIR [--backend B] [--domain DOMAIN] -v`
    // (an empty domain leaves the option out); its log is appended to the lab's. Answers
    // whether the process started.
    bool Start(const std::string& domain);
    // SIGTERM, then waits for it; answers its exit status (-1 when it was not running).
    int Stop() { return process_.Stop(); }
    // What the service logged since its last Start.
    std::string LogSinceStart() const;

    // `args` run as the service's account, with its HOME and XDG_RUNTIME_DIR.
    std::vector<std::string> AsServiceUser(std::vector<std::string> args) const;
    const std::string& RuntimeDir() const { return runtimeDir_; }
    // The account's user name ("root" for Account::Root).
    const std::string& UserName() const { return userName_; }

    ConnectChannel Channel() const { return ConnectChannel(block_); }

private:
    std::string executable_;
    std::string ctrlDir_;
    std::string logPath_;
    std::string backend_;
    Account account_;
    std::string userName_ = "root";
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    gid_t netdev_ = 0;
    std::string home_ = "/tmp";
    std::string runtimeDir_ = "/tmp/radiolab-xdg";
    std::string blockName_ = "/radiolab-connect";
    std::string registryPath_ = "/tmp/radiolab-registry.reg";
    long logStart_ = 0;
    platform::SharedMemory memory_;
    platform::MappedView view_;
    ConnectBlock* block_ = nullptr;
    ChildProcess process_;
};
