// The simulator's other two doors: the --environment file and the commands of its control
// socket. The input is taken whole as an environment file, then line by line as commands
// (words split at spaces; "ap add" takes the rest of its line as JSON). Whatever they say,
// the radio environment and the station stay within what a card and a radio can be.
#include "BlockService.h"
#include "SimulatedCard.h"
#include "ControlCommands.h"
#include "EnvironmentFile.h"
#include "Log.h"
#include "RadioEnvironment.h"
#include "Random.h"
#include "RegulatoryDomain.h"
#include "Station.h"
#include "link/ConnectBlock.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace cardsim;

namespace {

void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_cardsim_control: %s\n", what.c_str());
    std::abort();
}

void CheckEnvironment(const RadioEnvironment& environment)
{
    std::set<Bssid> seen;
    for (const Network& network : environment.Networks()) {
        if (!seen.insert(network.bssid).second)
            Fail("two networks share a BSSID");
        if (network.channel < 1 || network.channel > 14)
            Fail("a network on channel " + std::to_string(network.channel));
        if (network.signal < 0 || network.signal > kLevelMax || network.quality < 0 || network.quality > kLevelMax)
            Fail("a network's levels are beyond the scale");
    }
}

std::vector<std::string> Words(std::string_view line)
{
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        if (words.size() == 2 && words[0] == "ap" && words[1] == "add") {
            words.emplace_back(line.substr(at));
            break;
        }
        const size_t end = std::min(line.find(' ', at), line.size());
        if (end > at)
            words.emplace_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Log log(Verbosity::Verbose);
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const EnvironmentFile::Result parsed = EnvironmentFile::Parse(text);
    if (parsed.environment)
        CheckEnvironment(*parsed.environment);
    else if (parsed.error.empty())
        Fail("a refused environment file without a reason");

    RadioEnvironment environment = RadioEnvironment::Demo();
    Random random(1);
    Station station(StationConfig{}, WepSettings{}, *RegulatoryDomain::FromName("etsi"));
    ConnectBlock block{};
    SimulatedCard card(station, environment, random);
    BlockService service(&block, card, log);
    ControlCommands commands(environment, station, service, random, log);

    Millis now{0};
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const ControlReply reply = commands.Execute(Words(text.substr(at, end - at)), now);
        if (!reply.ok && reply.text.empty())
            Fail("a refused command without a reason");
        station.Step(now, environment, random);
        environment.Drift(random);
        service.Poll(now);
        CheckEnvironment(environment);
        const LinkInfo link = station.Link(environment);
        if (link.quality > kLevelMax || link.strength > kLevelMax)
            Fail("link levels beyond the scale");
        now += Millis{300};
        at = end + 1;
    }
    return 0;
}
