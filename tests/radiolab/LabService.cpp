#include "LabService.h"

#include <cstdlib>

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

bool LabService::Start(const std::string& domain)
{
    return process_.Start({executable_, "--interface", "wlan0", "--ctrl-dir", ctrlDir_, "--domain", domain, "-v"},
                          logPath_);
}
