#pragma once
// The one channel object for the block: every write the utility makes follows the block's
// publication rules. cmdWord and statusWord are only touched as single aligned 32-bit
// atomic operations; a command code is set last, with release order, and statusWord is read
// with acquire order. Callers never compute masks themselves.

#include "link/ConnectBlock.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

struct ConfigPayload {
    uint16_t networkType;
    uint16_t txRate;
    uint16_t psMode;
    uint16_t dsChannel;
    std::u16string_view networkName;  // converted to the ANSI code page, at most 33 bytes
};

// The service answers a request by writing its payload and then statusWord, and a status
// stands until the service writes another. A payload the utility writes afterwards (any
// page's command) lies where the answer was while that status still stands. The guard, one
// per block and shared by every page's channel, remembers the standing status and the bytes
// in the mask's place when the next request goes out, so that only a status written since,
// or a mask written over those bytes, counts as its answer.
struct AnswerGuard {
    bool payloadWritten = false;  // a command's payload went over the answers since the last request
    bool armed = false;           // the status below is not an answer to the request that stands
    uint32_t staleStatus = 0;
    uint16_t staleMask = 0;
};

class ConnectChannel {
public:
    explicit ConnectChannel(ConnectBlock* block, AnswerGuard* guard = nullptr) : block_(block), guard_(guard) {}
    ConnectChannel(const ConnectChannel&) = default;
    ConnectChannel& operator=(const ConnectChannel&) = default;
    virtual ~ConnectChannel() = default;

    // Requests without payload.
    // CMD_LINK_INFO: cmdWord = (cmdWord & 0x00FFFFE0) | 0x1100001F, then bytes 8..19 zeroed.
    void PostLinkInfo();
    // CMD_CHANNEL_LIST: cmdWord = (cmdWord & 0x00FFFFFE) | 0x12000001.
    void PostChannelList();
    // cmdWord = cmdWord & 0x00FFFFFF.
    void Withdraw();

    // Commands with payload: the code is cleared (keeping the command's mask bits set), the
    // payload written, and the code set last. The caller then waits for the service.
    void PostConfig(const ConfigPayload& config);
    // WEP payload: wepReq at offset 8; when wepReq is not 0 also defaultKeyId at 9 and the
    // key bytes (20 or 13) from offset 10. With wepReq 0 only offset 8 is written.
    void PostWep(uint8_t wepReq, uint8_t defaultKeyId, std::span<const uint8_t> keys);

    // Polling: each call reads statusWord afresh.
    bool Poll(uint8_t statusCode) const;

    // The channel list as a page asks for it: PostChannelList, remembering for the guard what
    // stands when a payload went over the answers since the last request; and whether
    // STAT_CHANNEL_LIST has been written after that request (see AnswerGuard).
    void RequestChannelList();
    bool ChannelListAnswered();
    uint32_t StatusWord() const;
    uint32_t CommandWord() const;

    // Payload readers, each reading the block afresh.
    uint8_t ReadU8(size_t offset) const;
    uint16_t ReadU16(size_t offset) const;
    // True when the six BSSID bytes are all 0x44.
    bool IsNotAssociated() const;
    uint16_t ChannelMask() const { return ReadU16(block::kChannelMask); }

    // Whether PostConfig carries `name` whole: its ANSI form fits the 33 bytes of the block.
    // The empty name fits.
    static bool NetworkNameFits(std::u16string_view name);

    ConnectBlock* Block() const { return block_; }

protected:
    // Every payload byte the utility writes passes through here, in the order written, so
    // that a test can watch cmdWord while the payload is being written. Offsets outside the
    // payload (below 8, 64 and above) are never written.
    virtual void StorePayloadByte(size_t offset, uint8_t value);

private:
    void NotePayloadWritten();

    ConnectBlock* block_;
    AnswerGuard* guard_;
};
