#include "EnvironmentFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cardsim {

namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 9> kNetworkMembers = {
    "name", "bssid", "type", "channel", "wep", "keys", "defaultKey", "signal", "drift"};

// Reads one network object; answers an error text, empty when `network` is filled.
class NetworkReader {
public:
    NetworkReader(const json& object, std::string where) : object_(object), where_(std::move(where)) {}

    std::string Read(Network& network)
    {
        if (!object_.is_object())
            return where_ + ": must be an object";
        for (const auto& [key, value] : object_.items()) {
            if (std::ranges::find(kNetworkMembers, key) == kNetworkMembers.end())
                return where_ + ": unknown member \"" + key +
                       "\" (known: name, bssid, type, channel, wep, keys, defaultKey, signal, drift)";
        }
        std::string error;
        if (!(error = ReadName(network)).empty() || !(error = ReadBssid(network)).empty() ||
            !(error = ReadType(network)).empty() || !(error = ReadWep(network)).empty())
            return error;
        int channel = 0;
        if (!(error = ReadInt("channel", 1, 14, std::nullopt, channel)).empty())
            return error;
        network.channel = static_cast<uint8_t>(channel);
        if (!(error = ReadInt("signal", 0, kLevelMax, 10, network.signal)).empty() ||
            !(error = ReadInt("drift", 0, kLevelMax, 2, network.drift)).empty())
            return error;
        network.base = network.signal;
        network.quality = std::max(0, network.signal - 1);
        return {};
    }

private:
    std::string ReadName(Network& network)
    {
        const auto it = object_.find("name");
        if (it == object_.end() || !it->is_string())
            return where_ + ".name: required, a string";
        network.name = it->get<std::string>();
        if (network.name.size() > 33)
            return where_ + ".name: at most 33 bytes, as the block carries it";
        return {};
    }

    std::string ReadBssid(Network& network)
    {
        const auto it = object_.find("bssid");
        const auto bssid = it != object_.end() && it->is_string()
                               ? ParseBssid(it->get<std::string>()) : std::nullopt;
        if (!bssid)
            return where_ + ".bssid: required, six hexadecimal pairs joined by colons (02:43:4E:00:00:01)";
        network.bssid = *bssid;
        return {};
    }

    std::string ReadType(Network& network)
    {
        const auto it = object_.find("type");
        if (it == object_.end())
            return {};
        if (*it == "access-point")
            network.kind = NetworkKind::AccessPoint;
        else if (*it == "peer-to-peer")
            network.kind = NetworkKind::PeerCell;
        else
            return where_ + ".type: \"access-point\" or \"peer-to-peer\"";
        return {};
    }

    std::string ReadWep(Network& network)
    {
        int mode = kWepOff;
        std::string error = ReadInt("wep", 0, 6, kWepOff, mode);
        if (!error.empty() || (mode != kWepOff && mode != kWep64 && mode != kWep128))
            return where_ + ".wep: 0 (off), 2 (64-bit) or 6 (128-bit)";
        network.wep.wepReq = static_cast<uint8_t>(mode);
        int keyId = 1;
        if (!(error = ReadInt("defaultKey", 1, 4, 1, keyId)).empty())
            return error;
        network.wep.defaultKeyId = static_cast<uint8_t>(keyId);
        const auto it = object_.find("keys");
        const size_t digits = mode == kWep64 ? 40 : mode == kWep128 ? 26 : 0;
        if (digits == 0)
            return it == object_.end() ? std::string{} : where_ + ".keys: only with wep 2 or 6";
        if (it == object_.end() || !it->is_string() || it->get<std::string>().size() != digits)
            return where_ + ".keys: " + std::to_string(digits) + " hexadecimal digits for wep " +
                   std::to_string(mode);
        const std::string hex = it->get<std::string>();
        for (size_t i = 0; i < digits / 2; ++i) {
            const auto byte = ParseHexByte(std::string_view(hex).substr(i * 2, 2));
            if (!byte)
                return where_ + ".keys: \"" + hex.substr(i * 2, 2) + "\" is not a hexadecimal byte";
            network.wep.keys[i] = *byte;
        }
        return {};
    }

    std::string ReadInt(const char* member, int low, int high, std::optional<int> fallback, int& out)
    {
        const auto it = object_.find(member);
        if (it == object_.end()) {
            if (!fallback)
                return where_ + "." + member + ": required, a number " + std::to_string(low) + ".." +
                       std::to_string(high);
            out = *fallback;
            return {};
        }
        if (!it->is_number_integer() || *it < low || *it > high)
            return where_ + "." + member + ": a whole number " + std::to_string(low) + ".." +
                   std::to_string(high) + " (is " + it->dump() + ")";
        out = it->get<int>();
        return {};
    }

    const json& object_;
    std::string where_;
};

// "line L column C" for a byte position counted from 1, as the parser reports it.
std::string Position(std::string_view text, size_t byte)
{
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + " column " + std::to_string(column);
}

std::optional<json> ParseJson(std::string_view text, std::string& error)
{
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        std::string what = e.what();
        // Keep the parser's own words, without its "[json.exception...] parse error at ..." head.
        if (const auto colon = what.rfind(": "); colon != std::string::npos)
            what = what.substr(colon + 2);
        error = Position(text, e.byte) + ": not valid JSON: " + what;
        return std::nullopt;
    } catch (const json::out_of_range& e) {
        // A number beyond what a double holds (1e400) is a mistake like any other, not the
        // end of the simulator.
        std::string what = e.what();
        if (const auto head = what.find("] "); head != std::string::npos)
            what = what.substr(head + 2);
        error = "not valid JSON: " + what;
        return std::nullopt;
    }
}

// Reads a whole regular file of at most kMaxFileSize bytes. A FIFO, a device, a folder or a
// file under /proc is refused by its type before a single byte is read, so nothing can make
// the start wait or read without end; the error is the system's reason where there is one.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> text;
    if (fstat(fd, &info) != 0) {
        error = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        error = std::strerror(EISDIR);
    } else if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
    } else if (info.st_size > EnvironmentFile::kMaxFileSize) {
        error = "larger than " + std::to_string(EnvironmentFile::kMaxFileSize / 1024) + " KiB";
    } else {
        text.emplace();
        char buffer[16384];
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0 && text->size() + static_cast<size_t>(got) <= EnvironmentFile::kMaxFileSize) {
                text->append(buffer, static_cast<size_t>(got));
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                if (got != 0) {
                    error = got < 0 ? std::strerror(errno) : "it grew while it was read";
                    text.reset();
                }
                break;
            }
        }
    }
    close(fd);
    return text;
}

} // namespace

EnvironmentFile::Result EnvironmentFile::Parse(std::string_view text)
{
    std::string error;
    const auto document = ParseJson(text, error);
    if (!document)
        return {std::nullopt, error};
    if (!document->is_object() || !document->contains("networks") || !(*document)["networks"].is_array())
        return {std::nullopt, "the top level must be an object with a \"networks\" list"};
    for (const auto& [key, value] : document->items())
        if (key != "networks")
            return {std::nullopt, "unknown member \"" + key + "\" at the top level (known: networks)"};
    RadioEnvironment environment;
    size_t index = 0;
    for (const json& item : (*document)["networks"]) {
        const std::string where = "networks[" + std::to_string(index++) + "]";
        Network network;
        if (error = NetworkReader(item, where).Read(network); !error.empty())
            return {std::nullopt, error};
        if (error = environment.Add(std::move(network)); !error.empty())
            return {std::nullopt, where + ": " + error};
    }
    return {std::move(environment), {}};
}

EnvironmentFile::NetworkResult EnvironmentFile::ParseNetwork(std::string_view text)
{
    std::string error;
    const auto document = ParseJson(text, error);
    if (!document)
        return {std::nullopt, error};
    Network network;
    if (error = NetworkReader(*document, "network").Read(network); !error.empty())
        return {std::nullopt, error};
    return {std::move(network), {}};
}

EnvironmentFile::Result EnvironmentFile::Load(const std::filesystem::path& path)
{
    std::string error;
    const auto text = ReadSmallFile(path, error);
    if (!text)
        return {std::nullopt, path.string() + ": " + error};
    Result result = Parse(*text);
    if (!result.environment)
        result.error = path.string() + ": " + result.error;
    return result;
}

} // namespace cardsim
