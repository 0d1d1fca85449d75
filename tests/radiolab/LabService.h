#pragma once
// The connection service under test, as the lab runs it: one wlan-connectd process on the
// station radio at a time, serving a block that the lab holds mapped for the whole run (so it
// survives a restart of the service), with a registry file of its own. The lab talks to the
// block only through the project's ConnectChannel, as the pages do.

#include "ChildProcess.h"
#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"

#include <string>

class LabService {
public:
    LabService(std::string executable, std::string ctrlDir, std::string logPath);
    LabService(const LabService&) = delete;
    LabService& operator=(const LabService&) = delete;

    // Starts `wlan-connectd --interface wlan0 --ctrl-dir DIR --domain DOMAIN -v`; its log is
    // appended to the lab's. Answers whether the process started.
    bool Start(const std::string& domain);
    // SIGTERM, then waits for it; answers its exit status (-1 when it was not running).
    int Stop() { return process_.Stop(); }

    ConnectChannel Channel() const { return ConnectChannel(block_); }

private:
    std::string executable_;
    std::string ctrlDir_;
    std::string logPath_;
    std::string blockName_ = "/radiolab-connect";
    std::string registryPath_ = "/tmp/radiolab-registry.reg";
    platform::SharedMemory memory_;
    platform::MappedView view_;
    ConnectBlock* block_ = nullptr;
    ChildProcess process_;
};
