#include "BlockService.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace service {

namespace {

std::string Hex32(uint32_t value)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void PutU16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

} // namespace

BlockService::BlockService(ConnectBlock* block, ServiceCard& card, Log& log)
    : block_(block), card_(card), log_(log)
{
}

BlockBytes BlockService::Snapshot() const
{
    BlockBytes bytes;
    std::memcpy(bytes.data(), block_, bytes.size());
    return bytes;
}

uint8_t BlockService::PublishedStatus() const
{
    return static_cast<uint8_t>(StatusWord().load(std::memory_order_acquire) >> 24);
}

void BlockService::Publish(uint8_t status)
{
    statusCount_ = (statusCount_ + 1) & 0x00FFFFFF;
    StatusWord().store(static_cast<uint32_t>(status) << 24 | statusCount_, std::memory_order_release);
}

void BlockService::Notice(uint32_t cmd)
{
    const uint8_t code = static_cast<uint8_t>(cmd >> 24);
    const std::string word = "cmdWord " + Hex32(cmd);
    switch (code) {
    case 0:
        log_.Detail(word + ": no command");
        break;
    case CMD_LINK_INFO:
        log_.Detail("LINK_INFO (" + word + ")");
        break;
    case CMD_CHANNEL_LIST:
        log_.Detail("CHANNEL_LIST (" + word + ")");
        break;
    case CMD_SET_CONFIG:
    case CMD_SET_WEP:
        break;  // logged when taken
    default:
        log_.Warn(word + ": unknown command code, ignored");
    }
}

bool BlockService::Acknowledge(uint32_t cmd)
{
    uint32_t expected = cmd;
    const bool taken = CmdWord().compare_exchange_strong(expected, cmd & 0x00FFFFFF, std::memory_order_acq_rel,
                                                         std::memory_order_acquire);
    if (taken)
        handledWord_ = cmd & 0x00FFFFFF;
    return taken;
}

void BlockService::TakeConfig(uint32_t cmd, Millis now)
{
    const BlockBytes bytes = Snapshot();
    if (!Acknowledge(cmd)) {
        log_.Detail("SET_CONFIG replaced while it was read: left to the newer command");
        return;
    }
    ++commandsTaken_;
    std::vector<std::string> warnings;
    const StationConfig config = CommandDecoder::DecodeConfig(bytes, card_.Config(), warnings);
    for (const std::string& warning : warnings)
        log_.Warn("SET_CONFIG: " + warning);
    log_.Detail("SET_CONFIG " + CommandDecoder::DescribeConfig(config));
    if (card_.TakeConfig(config, now))
        log_.Info("configuration changed (" + CommandDecoder::DescribeConfig(config) + "): joining again");
}

void BlockService::TakeWep(uint32_t cmd, Millis now)
{
    const BlockBytes bytes = Snapshot();
    if (!Acknowledge(cmd)) {
        log_.Detail("SET_WEP replaced while it was read: left to the newer command");
        return;
    }
    ++commandsTaken_;
    std::vector<std::string> warnings;
    const auto wep = CommandDecoder::DecodeWep(bytes, card_.Wep(), warnings);
    for (const std::string& warning : warnings)
        log_.Warn("SET_WEP: " + warning);
    if (!wep)
        return;
    log_.Detail("SET_WEP " + CommandDecoder::DescribeWep(*wep));
    if (card_.TakeWep(*wep, now))
        log_.Info("WEP settings changed (" + CommandDecoder::DescribeWep(*wep) + "): joining again");
}

void BlockService::WriteLinkInfo()
{
    const LinkInfo link = card_.Link();
    uint8_t* bytes = reinterpret_cast<uint8_t*>(block_);
    if (link.associated)
        std::memcpy(bytes + block::kLinkBssid, link.bssid.data(), link.bssid.size());
    else
        std::memset(bytes + block::kLinkBssid, block::kNotAssociated, 6);
    PutU16(bytes + block::kLinkRate, link.rate);
    bytes[block::kLinkQuality] = link.quality;
    bytes[block::kLinkStrength] = link.strength;
    bytes[block::kLinkChannel] = link.channel;
}

void BlockService::WriteChannelMask()
{
    publishedMask_ = card_.ChannelMask();
    PutU16(reinterpret_cast<uint8_t*>(block_) + block::kChannelMask, publishedMask_);
}

void BlockService::Answer(uint8_t command, Millis now)
{
    const bool newRequest = command != lastCommand_;
    lastCommand_ = command;
    if (command == CMD_LINK_INFO) {
        if (newRequest || now >= nextLinkRefresh_ || PublishedStatus() != STAT_LINK_INFO) {
            WriteLinkInfo();
            Publish(STAT_LINK_INFO);
            nextLinkRefresh_ = now + kLinkRefresh;
        }
    } else if (command == CMD_CHANNEL_LIST) {
        // The card's channels can change while the request stands (a new regulatory domain).
        if (newRequest || PublishedStatus() != STAT_CHANNEL_LIST || card_.ChannelMask() != publishedMask_) {
            WriteChannelMask();
            Publish(STAT_CHANNEL_LIST);
        }
    }
}

Millis BlockService::NextDue(Millis now, Millis after) const
{
    Millis due = after;
    if (lastCard_ == Card::In && cardInUntil_ > now)
        due = std::min(due, cardInUntil_);
    if (lastCommand_ == CMD_LINK_INFO)
        due = std::min(due, std::max(nextLinkRefresh_, now));
    return due;
}

void BlockService::Poll(Millis now)
{
    uint32_t cmd = CmdWord().load(std::memory_order_acquire);
    handledWord_ = cmd;
    if (cmd != lastCommandWord_) {
        Notice(cmd);
        lastCommandWord_ = cmd;
    }
    const uint8_t code = static_cast<uint8_t>(cmd >> 24);
    if (code == CMD_SET_CONFIG)
        TakeConfig(cmd, now);
    else if (code == CMD_SET_WEP)
        TakeWep(cmd, now);

    const Card card = card_.CardState();
    if (card != lastCard_ && card == Card::In)
        cardInUntil_ = now + kCardInStands;
    lastCard_ = card;
    if (card == Card::Out) {
        if (PublishedStatus() != STAT_CARD_OUT)
            Publish(STAT_CARD_OUT);
        lastCommand_ = 0;
        return;
    }
    if (now < cardInUntil_) {
        if (PublishedStatus() != STAT_CARD_IN)
            Publish(STAT_CARD_IN);
        lastCommand_ = 0;
        return;
    }
    Answer(code, now);
}

} // namespace service
