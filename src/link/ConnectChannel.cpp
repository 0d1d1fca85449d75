#include "link/ConnectChannel.h"

#include "platform/TextConversion.h"
#include "platform/WordWait.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace {

constexpr uint32_t kCodeBits = 0xFF000000;
constexpr size_t kPayloadOffset = offsetof(ConnectBlock, payload);
constexpr size_t kWepKeyCapacity = 20;  // four 64-bit keys of five bytes; a 128-bit key uses 13

static_assert(std::atomic_ref<uint32_t>::required_alignment <= alignof(ConnectBlock));
static_assert(block::kWepKeys + kWepKeyCapacity <= block::kSize);

// Every write of cmdWord is cmdWord = (cmdWord & keep) | set, one 32-bit store.
struct CommandRule {
    uint32_t keep;
    uint32_t set;
};

constexpr uint32_t CodeBits(uint8_t code) { return static_cast<uint32_t>(code) << 24; }

constexpr CommandRule kPostLinkInfo{0x00FFFFE0, 0x1100001F};
constexpr CommandRule kPostChannelList{0x00FFFFFE, 0x12000001};
constexpr CommandRule kWithdraw{0x00FFFFFF, 0x00000000};
// A command with payload first clears the code, keeping its own mask bits set, ...
constexpr CommandRule kClearForConfig{0x00FFFFE0, 0x0000001F};
constexpr CommandRule kClearForWep{0x00FFFFFE, 0x00000001};
// ... and sets the code last, once the payload is in place.
constexpr CommandRule kPublishConfig{0x00FFFFFF, CodeBits(CMD_SET_CONFIG)};
constexpr CommandRule kPublishWep{0x00FFFFFF, CodeBits(CMD_SET_WEP)};

static_assert((kPostLinkInfo.set & kCodeBits) == CodeBits(CMD_LINK_INFO));
static_assert((kPostChannelList.set & kCodeBits) == CodeBits(CMD_CHANNEL_LIST));
static_assert(((kClearForConfig.keep | kClearForConfig.set) & kCodeBits) == 0);
static_assert(((kClearForWep.keep | kClearForWep.set) & kCodeBits) == 0);

// The connection service may rewrite cmdWord while we compose it; the exchange makes the
// stored word the rule applied to the word it replaces, still a single aligned 32-bit store.
void Apply(ConnectBlock& block, CommandRule rule, std::memory_order order)
{
    std::atomic_ref<uint32_t> word(block.cmdWord);
    uint32_t current = word.load(std::memory_order_relaxed);
    while (!word.compare_exchange_weak(current, (current & rule.keep) | rule.set, order,
                                       std::memory_order_relaxed)) {
    }
}

// Clears the code before a payload is written. The fence orders the clear before every
// payload byte that follows, so a reader that sees a new byte also sees the cleared code.
void ClearCodeForPayload(ConnectBlock& block, CommandRule rule)
{
    Apply(block, rule, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
}

// A service may sleep until it is woken (it still looks now and then, for peers that never
// wake it): once a post is complete, wake it so it answers at once.
void WakeService(ConnectBlock& block)
{
    platform::WakeWordWaiters(&block.cmdWord);
}

} // namespace

void ConnectChannel::PostLinkInfo()
{
    if (!block_)
        return;
    Apply(*block_, kPostLinkInfo, std::memory_order_release);
    NotePayloadWritten();
    // The link-information fields are cleared after posting, so that stale values are not
    // shown as the answer.
    for (size_t offset = block::kLinkBssid; offset < block::kLinkInfoEnd; ++offset)
        StorePayloadByte(offset, 0);
    WakeService(*block_);
}

void ConnectChannel::PostChannelList()
{
    if (!block_)
        return;
    Apply(*block_, kPostChannelList, std::memory_order_release);
    WakeService(*block_);
}

void ConnectChannel::Withdraw()
{
    if (!block_)
        return;
    Apply(*block_, kWithdraw, std::memory_order_release);
    WakeService(*block_);
}

void ConnectChannel::PostConfig(const ConfigPayload& config)
{
    if (!block_)
        return;
    ClearCodeForPayload(*block_, kClearForConfig);
    NotePayloadWritten();
    auto storeU16 = [this](size_t offset, uint16_t value) {
        StorePayloadByte(offset, static_cast<uint8_t>(value & 0xFF));
        StorePayloadByte(offset + 1, static_cast<uint8_t>(value >> 8));
    };
    storeU16(block::kConfigNetworkType, config.networkType);
    storeU16(block::kConfigTxRate, config.txRate);
    storeU16(block::kConfigPsMode, config.psMode);
    storeU16(block::kConfigDsChannel, config.dsChannel);
    // A name that does not fit whole gives a count of 0 and leaves the name bytes alone;
    // bytes beyond the count keep what they held, and no terminator is written.
    std::array<uint8_t, block::kConfigNameCapacity> name{};
    size_t count = platform::WideToAnsi(config.networkName, name);
    for (size_t i = 0; i < count; ++i)
        StorePayloadByte(block::kConfigName + i, name[i]);
    storeU16(block::kConfigNameCount, static_cast<uint16_t>(count));
    Apply(*block_, kPublishConfig, std::memory_order_release);
    WakeService(*block_);
}

bool ConnectChannel::NetworkNameFits(std::u16string_view name)
{
    std::array<uint8_t, block::kConfigNameCapacity> bytes{};
    return name.empty() || platform::WideToAnsi(name, bytes) > 0;
}

void ConnectChannel::PostWep(uint8_t wepReq, uint8_t defaultKeyId, std::span<const uint8_t> keys)
{
    if (!block_)
        return;
    ClearCodeForPayload(*block_, kClearForWep);
    NotePayloadWritten();
    StorePayloadByte(block::kWepReq, wepReq);
    if (wepReq != 0) {
        StorePayloadByte(block::kWepDefaultKeyId, defaultKeyId);
        // 20 or 13 bytes come in; anything longer is cut at the largest key layout.
        size_t count = std::min(keys.size(), kWepKeyCapacity);
        for (size_t i = 0; i < count; ++i)
            StorePayloadByte(block::kWepKeys + i, keys[i]);
    }
    Apply(*block_, kPublishWep, std::memory_order_release);
    WakeService(*block_);
}

bool ConnectChannel::Poll(uint8_t statusCode) const
{
    return block_ && (StatusWord() & kCodeBits) == CodeBits(statusCode);
}

uint32_t ConnectChannel::StatusWord() const
{
    if (!block_)
        return 0;
    return std::atomic_ref<uint32_t>(block_->statusWord).load(std::memory_order_acquire);
}

uint32_t ConnectChannel::CommandWord() const
{
    if (!block_)
        return 0;
    return std::atomic_ref<uint32_t>(block_->cmdWord).load(std::memory_order_acquire);
}

uint8_t ConnectChannel::ReadU8(size_t offset) const
{
    if (!block_ || offset < kPayloadOffset || offset >= block::kSize)
        return 0;
    return std::atomic_ref<uint8_t>(block_->payload[offset - kPayloadOffset])
        .load(std::memory_order_relaxed);
}

uint16_t ConnectChannel::ReadU16(size_t offset) const
{
    if (offset >= block::kSize - 1)
        return 0;
    return static_cast<uint16_t>(ReadU8(offset) | ReadU8(offset + 1) << 8);
}

bool ConnectChannel::IsNotAssociated() const
{
    for (size_t offset = block::kLinkBssid; offset < block::kLinkBssid + 6; ++offset) {
        if (ReadU8(offset) != block::kNotAssociated)
            return false;
    }
    return block_ != nullptr;
}

void ConnectChannel::StorePayloadByte(size_t offset, uint8_t value)
{
    if (!block_ || offset < kPayloadOffset || offset >= block::kSize)
        return;
    std::atomic_ref<uint8_t>(block_->payload[offset - kPayloadOffset])
        .store(value, std::memory_order_relaxed);
}

void ConnectChannel::RequestChannelList()
{
    // Taken here rather than when the payload was written: the poster has since waited for
    // the service, so a late answer to an older request is among what stood before.
    if (block_ && guard_ && guard_->payloadWritten)
        *guard_ = {false, true, StatusWord(), ChannelMask()};
    PostChannelList();
}

bool ConnectChannel::ChannelListAnswered()
{
    if (!Poll(STAT_CHANNEL_LIST))
        return false;
    if (guard_ && guard_->armed) {
        if (StatusWord() == guard_->staleStatus && ChannelMask() == guard_->staleMask)
            return false;
        guard_->armed = false;
    }
    return true;
}

void ConnectChannel::NotePayloadWritten()
{
    if (guard_)
        guard_->payloadWritten = true;
}
