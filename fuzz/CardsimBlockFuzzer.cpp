// The simulator's reading of commands from the block. The input is a run of blocks, 64 bytes
// each, that a peer leaves in the shared memory between two polls of the service; the service
// takes, decodes and answers them, and the station steps on. Whatever the bytes, what the
// station ends up holding is something a card can hold, and the block keeps the service's
// own rules: a command it took is acknowledged by clearing only its code byte.
#include "BlockService.h"
#include "SimulatedCard.h"
#include "CommandDecoder.h"
#include "Log.h"
#include "RadioEnvironment.h"
#include "Random.h"
#include "RegulatoryDomain.h"
#include "Station.h"
#include "link/ConnectBlock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace cardsim;

namespace {

void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_cardsim_block: %s\n", what.c_str());
    std::abort();
}

void CheckStation(const Station& station)
{
    const StationConfig& config = station.Config();
    if (config.name.size() > block::kConfigNameCapacity)
        Fail("the station holds a name of " + std::to_string(config.name.size()) + " bytes");
    const WepSettings& wep = station.Wep();
    if (wep.wepReq != kWepOff && wep.wepReq != kWep64 && wep.wepReq != kWep128)
        Fail("the station holds WEP mode " + std::to_string(wep.wepReq));
    const LinkInfo link = station.Link(RadioEnvironment::Demo());
    if (link.quality > kLevelMax || link.strength > kLevelMax)
        Fail("link levels beyond the scale");
}

// Decoding straight from the bytes, with a station's defaults as the current values.
void CheckDecoders(const BlockBytes& bytes)
{
    std::vector<std::string> warnings;
    const StationConfig config = CommandDecoder::DecodeConfig(bytes, StationConfig{}, warnings);
    if (config.name.size() > block::kConfigNameCapacity)
        Fail("decoded a name longer than the block carries");
    CommandDecoder::DescribeConfig(config);
    if (const auto wep = CommandDecoder::DecodeWep(bytes, WepSettings{}, warnings))
        CommandDecoder::DescribeWep(*wep);
    for (const std::string& warning : warnings)
        if (warning.empty())
            Fail("an empty warning");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Log log(Verbosity::Verbose);
    static const RadioEnvironment environment = RadioEnvironment::Demo();
    Random random(1);
    Station station(StationConfig{}, WepSettings{}, *RegulatoryDomain::FromName("japan"));
    // The block is an exact 64-byte allocation: a read past its end is a reported error.
    const auto memory = std::make_unique<uint8_t[]>(block::kSize);
    auto* block = reinterpret_cast<ConnectBlock*>(memory.get());
    SimulatedCard card(station, environment, random);
    BlockService service(block, card, log);

    Millis now{0};
    for (size_t at = 0; at < size; at += block::kSize) {
        BlockBytes bytes{};
        std::memcpy(bytes.data(), data + at, std::min(block::kSize, size - at));
        std::memcpy(memory.get(), bytes.data(), bytes.size());
        CheckDecoders(bytes);
        service.Poll(now);
        uint32_t cmdWord = 0;
        std::memcpy(&cmdWord, memory.get(), sizeof cmdWord);
        uint32_t peerCmd = 0;
        std::memcpy(&peerCmd, bytes.data(), sizeof peerCmd);
        // The service only ever clears the code byte of cmdWord; the mask is the utility's.
        if (cmdWord != peerCmd && cmdWord != (peerCmd & 0x00FFFFFF))
            Fail("the service rewrote cmdWord beyond its code");
        station.Step(now, environment, random);
        CheckStation(station);
        now += Millis{260};
    }
    return 0;
}
