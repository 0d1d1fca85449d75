#include "Connectd.h"

#include "BlockService.h"
#include "CommandDecoder.h"
#include "DriverRegistry.h"
#include "ServiceLock.h"
#include "StopSignal.h"
#include "ServedBlock.h"
#include "ServeLoop.h"
#include "platform/SharedMemory.h"

#include <poll.h>

#include <memory>

namespace connectd {

ExitCode Connectd::Serve(ServeOptions serveOptions)
{
    CardOptions& options = serveOptions.card;
    Log log(serveOptions.verbosity, "wlan-connectd");
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
    const std::unique_ptr<PolledCard> card =
        ChooseCard(serveOptions.backend, std::move(options), settings.config, settings.wep, log);
    BlockService service(block, *card, log);

    ServeLoop loop(block, serveOptions.fixedPoll, log);
    std::vector<pollfd> fds;
    for (;;) {
        const Millis now = loop.Now();
        card->Step(fds, now);
        service.Poll(now);
        if (served->Lost()) {
            log.Start("cannot serve: the block " + blockName + " was shrunk by another process");
            card->Stop();
            return ExitCode::CannotServe;
        }
        if (StopSignal::Requested())
            break;
        Millis due = service.NextDue(now, now + kIdle);
        fds = card->WaitFds(now, due);
        loop.Wait(fds, due, service.HandledWord());
    }
    log.Start("stopping on signal");
    card->Stop();
    return ExitCode::Ok;
}

} // namespace connectd
