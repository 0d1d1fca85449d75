// What wpa_supplicant sends the connection service: any bytes as a reply to STATUS,
// SIGNAL_POLL and GET_CAPABILITY channels, and as an event. Whatever it says, the link the
// service reports stays within what the block can carry. The same bytes, read as settings from
// the block, must reach the supplicant only as hex digits and numbers.
#include "SupplicantText.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace connectd;

namespace {

void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_supplicant_reply: %s\n", what.c_str());
    std::abort();
}

void CheckLevels(int rssi, std::optional<int> noise)
{
    if (Strength(rssi) > service::kLevelMax || Quality(rssi, noise) > service::kLevelMax)
        Fail("a level beyond the scale");
}

// "SET_NETWORK <id> <field> <value>" where the value is a word of letters, digits and '_'
// (hex digits, numbers, NONE, SHARED, OPEN) and nothing else; a frequency list alone holds
// several numbers.
void CheckCommand(const std::string& command)
{
    size_t spaces = 0;
    for (const char c : command) {
        spaces += c == ' ';
        if (c != ' ' && c != '_' && !(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z'))
            Fail("a command with a byte other than a word's: " + command);
    }
    const bool frequencies = command.starts_with("SET_NETWORK 3 freq_list ") &&
                             command.find_first_not_of("0123456789 ", 24) == std::string::npos;
    if (!command.starts_with("SET_NETWORK 3 ") || (spaces != 3 && !frequencies))
        Fail("a command of another form: " + command);
}

service::StationConfig ConfigFrom(std::string_view bytes)
{
    service::StationConfig config;
    if (bytes.size() < 4)
        return config;
    config.networkType = static_cast<uint8_t>(bytes[0]) % 4;
    config.dsChannel = static_cast<uint8_t>(bytes[1]) % 16;
    config.psMode = static_cast<uint8_t>(bytes[2]) % 3;
    config.name = std::string(bytes.substr(4, static_cast<uint8_t>(bytes[3]) % 34));
    return config;
}

service::WepSettings WepFrom(std::string_view bytes)
{
    service::WepSettings wep;
    if (bytes.size() < 2 + wep.keys.size())
        return wep;
    wep.wepReq = static_cast<uint8_t>(bytes[0]) % 8;
    wep.defaultKeyId = static_cast<uint8_t>(bytes[1]) % 6;
    std::memcpy(wep.keys.data(), bytes.data() + 2, wep.keys.size());
    return wep;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto status = ParseStatus(text)) {
        if (status->wpaState.empty() || status->freq < 0)
            Fail("a status without a state or with a negative frequency");
        if (const auto channel = ChannelFromFrequency(status->freq); channel && (*channel < 1 || *channel > 14))
            Fail("a channel outside 1..14");
    }
    if (const auto poll = ParseSignalPoll(text)) {
        if (poll->linkSpeed < 0 || poll->frequency < 0)
            Fail("a negative link speed or frequency");
        const uint16_t rate = RateCode(poll->linkSpeed);
        if (rate != 0 && rate != 1 && rate != 2 && rate != 4 && rate != 8)
            Fail("a rate code the block does not know");
        if (poll->rssi)
            CheckLevels(*poll->rssi, poll->noise);
    }
    if (const auto mask = ChannelMask(text); mask && (*mask == 0 || (*mask & ~0x3FFF) != 0))
        Fail("a channel mask beyond channels 1..14");
    const SupplicantEvent event = ParseEvent(text);
    if (event.text.size() > text.size())
        Fail("an event longer than its text");

    const service::StationConfig config = ConfigFrom(text);
    const service::WepSettings wep = WepFrom(text.size() > 40 ? text.substr(40) : text);
    const auto refusal = Refusal(config, wep);
    const auto commands = NetworkCommands(3, config, wep);
    if (refusal ? !commands.empty() : commands.empty())
        Fail("refused settings that were built, or accepted ones that were not");
    if (refusal && refusal->find('\n') != std::string::npos)
        Fail("a refusal of more than one line");
    for (const std::string& command : commands)
        CheckCommand(command);
    return 0;
}
