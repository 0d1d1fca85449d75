#include "Connectd.h"

#include "BlockService.h"
#include "CommandDecoder.h"
#include "DriverRegistry.h"
#include "ServiceLock.h"
#include "StopSignal.h"
#include "ServedBlock.h"
#include "platform/SharedMemory.h"

#include <poll.h>

#include <algorithm>

namespace connectd {

ExitCode Connectd::Serve(CardOptions options, Backend backend, Verbosity verbosity)
{
    Log log(verbosity, "wlan-connectd");
    StopSignal::Install();
    const std::string blockName = platform::DefaultBlockName();

    // One service per block: a simulator or another wlan-connectd serving it stops us here,
    // before we touch the block.
    std::string error;
    const auto lock = ServiceLock::Take(blockName, error);
    if (!lock) {
        log.Start("cannot serve: " + error);
        return ExitCode::CannotServe;
    }

    std::vector<std::string> notes;
    const DriverSettings settings = DriverRegistry::Load(notes);
    for (const std::string& note : notes)
        log.Start("registry: " + note);

    auto served = ServedBlock::Open(blockName, log);
    if (!served)
        return ExitCode::CannotServe;
    ConnectBlock* block = served->Block();

    log.Start("serving block " + blockName + " for " + options.interface + " (supplicant folder " +
              options.ctrlDir.string() + (options.domain ? ", country of " + std::string(options.domain->Name()) : "") +
              ")");
    log.Start("starting with " + CommandDecoder::DescribeConfig(settings.config) + " wep " +
              CommandDecoder::DescribeWep(settings.wep));
    const auto card = ChooseCard(backend, std::move(options), settings.config, settings.wep, log);
    BlockService service(block, *card, log);

    const auto start = std::chrono::steady_clock::now();
    std::vector<pollfd> fds;
    while (!StopSignal::Requested()) {
        const Millis now = std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start);
        card->Step(fds, now);
        service.Poll(now);
        if (served->Lost()) {
            log.Start("cannot serve: the block " + blockName + " was shrunk by another process");
            return ExitCode::CannotServe;
        }
        // The block has no descriptor to wait on, so the wait is bounded by the poll period;
        // the supplicant's events and the link watch end it early.
        Millis due = now + kPollPeriod;
        fds = card->WaitFds(now, due);
        poll(fds.data(), fds.size(), static_cast<int>(std::max(Millis{0}, due - now).count()));
    }
    log.Start("stopping on signal");
    card->Stop();
    return ExitCode::Ok;
}

} // namespace connectd
