#include "ControlCommands.h"

#include "CommandDecoder.h"
#include "EnvironmentFile.h"

#include <charconv>
#include <cstdio>

namespace cardsim {

namespace {

std::string Describe(const Network& network)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s %s channel %u wep %s signal %d quality %d%s",
                  FormatBssid(network.bssid).c_str(),
                  network.kind == NetworkKind::AccessPoint ? "access-point" : "peer-to-peer",
                  network.channel, WepModeName(network.wep.wepReq), network.signal, network.quality,
                  network.drift == 0 ? " (fixed)" : "");
    return "\"" + CommandDecoder::EscapedName(network.name) + "\" " + text;
}

std::string RateText(uint16_t rate)
{
    return rate == 4 ? "5.5" : std::to_string(rate == 8 ? 11 : rate);
}

} // namespace

std::string ChannelWarning(const Network& network, const RegulatoryDomain& domain)
{
    if (domain.Allows(network.channel))
        return {};
    return "\"" + CommandDecoder::EscapedName(network.name) + "\" is on channel " +
           std::to_string(network.channel) + ", which the " + std::string(domain.Name()) +
           " domain does not allow: the card will never join it";
}

ControlCommands::ControlCommands(RadioEnvironment& environment, Station& station,
                                 const BlockService& service, Random& random, Log& log)
    : environment_(environment), station_(station), service_(service), random_(random), log_(log)
{
}

ControlReply ControlCommands::Execute(const std::vector<std::string>& words, Millis now)
{
    const std::string verb = words.empty() ? std::string() : words[0];
    if (verb == "card")
        return Card(words, now);
    if (verb == "signal")
        return Signal(words);
    if (verb == "ap")
        return AccessPoint(words);
    if (verb == "status" && words.size() == 1)
        return Status();
    return {false, "unknown command \"" + CommandDecoder::EscapedName(verb) + "\"; known: " + kUsage};
}

ControlReply ControlCommands::Card(const std::vector<std::string>& words, Millis now)
{
    if (words.size() != 2 || (words[1] != "in" && words[1] != "out"))
        return {false, "usage: card in|out"};
    const cardsim::Card card = words[1] == "in" ? Card::In : Card::Out;
    station_.SetCard(card, now, random_);
    log_.Info(card == Card::In ? "card inserted" : "card removed");
    return {true, "card " + words[1] + "\n"};
}

ControlReply ControlCommands::Signal(const std::vector<std::string>& words)
{
    const bool release = words.size() >= 2 && words[1] == "auto";
    int level = -1;
    if (words.size() >= 2 && !release) {
        const std::string& text = words[1];
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), level);
        if (failure != std::errc{} || end != text.data() + text.size())
            level = -1;
    }
    if (words.size() < 2 || words.size() > 3 || (!release && (level < 0 || level > kLevelMax)))
        return {false, "usage: signal N|auto [NAME|BSSID], N from 0 to 15"};
    std::string target;
    if (words.size() == 3) {
        target = words[2];
    } else {
        const LinkInfo link = station_.Link(environment_);
        if (!link.associated || environment_.Find(link.bssid) == nullptr)
            return {false, "no network joined: name one (signal N|auto NAME|BSSID)"};
        target = FormatBssid(link.bssid);
    }
    const size_t changed = release ? environment_.ReleaseSignal(target) : environment_.PinSignal(target, level);
    if (changed == 0)
        return {false, "no network \"" + CommandDecoder::EscapedName(target) + "\""};
    const std::string what = release ? "auto" : std::to_string(level);
    log_.Info("signal " + std::string(release ? "released" : "fixed at " + what) + " for " +
              std::to_string(changed) + " network(s)");
    return {true, "signal " + what + "\n"};
}

ControlReply ControlCommands::AccessPoint(const std::vector<std::string>& words)
{
    if (words.size() == 3 && words[1] == "add") {
        if (environment_.Networks().size() >= kMaxNetworks)
            return {false, "the environment holds " + std::to_string(kMaxNetworks) +
                               " networks already: remove one first"};
        auto parsed = EnvironmentFile::ParseNetwork(words[2]);
        if (!parsed.network)
            return {false, parsed.error};
        const std::string description = Describe(*parsed.network);
        const std::string warning = ChannelWarning(*parsed.network, station_.Domain());
        if (std::string error = environment_.Add(std::move(*parsed.network)); !error.empty())
            return {false, error};
        log_.Info("added " + description);
        if (!warning.empty())
            log_.Warn(warning);
        return {true, "added " + description + "\n" + (warning.empty() ? "" : "warning: " + warning + "\n")};
    }
    if (words.size() == 3 && words[1] == "remove") {
        const size_t removed = environment_.Remove(words[2]);
        if (removed == 0)
            return {false, "no network \"" + CommandDecoder::EscapedName(words[2]) + "\""};
        log_.Info("removed " + std::to_string(removed) + " network(s) \"" + words[2] + "\"");
        return {true, "removed " + std::to_string(removed) + "\n"};
    }
    return {false, "usage: ap add JSON | ap remove NAME|BSSID"};
}

ControlReply ControlCommands::Status() const
{
    const LinkInfo link = station_.Link(environment_);
    std::string text = std::string("card: ") + (station_.CardState() == Card::In ? "in" : "out") + "\n";
    char mask[48];
    std::snprintf(mask, sizeof mask, " (channel mask 0x%04X)\n", station_.Domain().ChannelMask());
    text += "domain: " + std::string(station_.Domain().Name()) + mask;
    text += "configuration: " + CommandDecoder::DescribeConfig(station_.Config()) + "\n";
    text += "wep: " + CommandDecoder::DescribeWep(station_.Wep()) + "\n";
    if (link.associated)
        text += "link: " + FormatBssid(link.bssid) + " channel " + std::to_string(link.channel) + " rate " +
                RateText(link.rate) + " Mbps quality " + std::to_string(link.quality) + " strength " +
                std::to_string(link.strength) + "\n";
    else
        text += "link: not associated\n";
    text += "commands taken: " + std::to_string(service_.CommandsTaken()) + "\n";
    text += "networks:\n";
    for (const Network& network : environment_.Networks())
        text += "  " + Describe(network) + "\n";
    return {true, text};
}

} // namespace cardsim
