#pragma once
// A real wlan-cardsim serving a private block, registry file and control-socket folder, for
// the two-process tests; the block is mapped here as the application maps it. The simulator
// is $WLAN_CARDSIM when set, else the one built with the tests.

#include "link/ConnectBlock.h"
#include "platform/SharedMemory.h"
#include "support/TestEnvironment.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testenv {

std::string CardsimExecutable();

// Starts `wlan-cardsim args...` with its output and errors written to `out` and `err` (one file
// when they are the same path); answers its process id, or -1 when it could not start.
pid_t SpawnCardsim(const std::vector<std::string>& args, const std::filesystem::path& out,
                   const std::filesystem::path& err);

// Polls `condition` every 20 ms until it holds or `deadline` passes; answers whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

class CardsimProcess {
public:
    // Starts `wlan-cardsim args...`, with the registry file holding `registryText` when it is
    // not empty, and waits until it serves. Block() is null when it did not start.
    explicit CardsimProcess(const std::vector<std::string>& args, const std::string& registryText = {});
    ~CardsimProcess();  // SIGTERM, then waits for it
    CardsimProcess(const CardsimProcess&) = delete;
    CardsimProcess& operator=(const CardsimProcess&) = delete;

    ConnectBlock* Block() const { return block_; }
    std::string Log() const;
    // Runs `wlan-cardsim ctl words...` against this simulator; answers its exit status.
    int Control(const std::vector<std::string>& words);

private:
    std::filesystem::path SocketPath() const;

    TempDir folder_;
    std::filesystem::path runtime_ = folder_ / "run";
    std::string blockName_ = UniqueBlockName();
    ScopedEnv blockEnv_{"WLAN_CONNECT_BLOCK", blockName_};
    ScopedEnv registryEnv_{"WLAN_REGISTRY_FILE", (folder_ / "registry.reg").string()};
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.string()};
    pid_t pid_ = -1;
    platform::SharedMemory memory_;
    platform::MappedView view_;
    ConnectBlock* block_ = nullptr;
};

} // namespace testenv
