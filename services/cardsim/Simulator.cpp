#include "Simulator.h"

#include "BlockService.h"
#include "ControlCommands.h"
#include "ControlSocket.h"
#include "DriverRegistry.h"
#include "ServiceLock.h"
#include "SimulatedCard.h"
#include "Station.h"
#include "StopSignal.h"
#include "ServedBlock.h"
#include "ServeLoop.h"
#include "platform/SharedMemory.h"

#include <algorithm>
#include <cstdio>

namespace cardsim {

namespace {

// The walk and the events (join delays, addresses of new cells) draw from two streams, so
// the signals a seed gives do not depend on when the utility sends its commands.
constexpr uint32_t kEventStream = 0x9E3779B9u;

std::string Hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

} // namespace

ExitCode Simulator::Serve(SimulatorOptions options)
{
    Log log(options.verbosity);
    StopSignal::Install();
    const std::string blockName = platform::DefaultBlockName();

    // The socket comes first: a second simulator for the same block stops here, before it
    // touches the block the first one serves.
    std::string error;
    const auto socketPath = ControlSocket::PathFor(blockName, error);
    auto control = socketPath ? ControlSocket::Listen(*socketPath, error) : std::nullopt;
    auto lock = control ? ServiceLock::Take(blockName, error) : std::nullopt;
    if (!control || !lock) {
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

    Random walk(options.seed);
    Random events(options.seed ^ kEventStream);
    RadioEnvironment& environment = options.environment;
    Station station(settings.config, settings.wep, options.domain);
    SimulatedCard card(station, environment, events);
    BlockService service(block, card, log);
    ControlCommands commands(environment, station, service, events, log);

    log.Start("serving block " + blockName + ": domain " + std::string(options.domain.Name()) + " (mask " +
             Hex16(options.domain.ChannelMask()) + "), seed " + std::to_string(options.seed) + ", " +
             std::to_string(environment.Networks().size()) + " networks");
    log.Start("starting with " + CommandDecoder::DescribeConfig(settings.config) + " wep " +
             CommandDecoder::DescribeWep(settings.wep));
    log.Start("control socket " + control->Path().string());
    for (const Network& network : environment.Networks())
        if (const std::string warning = ChannelWarning(network, options.domain); !warning.empty())
            log.Start("warning: " + warning);

    ServeLoop loop(block, options.fixedPoll, log);
    const ControlHandler handler = [&](const std::vector<std::string>& words) {
        return commands.Execute(words, loop.Now());
    };
    std::vector<pollfd> fds;
    Millis nextDrift = kDriftPeriod;
    while (!StopSignal::Requested()) {
        const Millis now = loop.Now();
        for (; now >= nextDrift; nextDrift += kDriftPeriod)
            environment.Drift(walk);
        if (const std::string event = station.Step(now, environment, events); !event.empty())
            log.Info(event);
        service.Poll(now);
        if (served->Lost()) {
            log.Start("cannot serve: the block " + blockName + " was shrunk by another process");
            return ExitCode::CannotServe;
        }
        Millis due = service.NextDue(now, nextDrift);
        if (const auto join = station.JoinDue())
            due = std::min(due, std::max(*join, now));
        auto wake = loop.At(due);
        fds = control->WaitFds(wake);
        loop.Wait(fds, loop.Of(wake), service.HandledWord());
        control->Serve(fds, handler);
    }
    log.Start("stopping on signal");
    return ExitCode::Ok;
}

} // namespace cardsim
