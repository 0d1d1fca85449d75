#pragma once
// The connection service's side of the block. Polled by the serve loop whenever the peer
// wakes it, a duty falls due (NextDue) or the slow look for silent peers comes round, it takes commands, answers requests and reports the card's comings and goings.
//
// Protocol choices:
// - cmdWord is read with an acquire load at every poll.
// - CMD_SET_CONFIG and CMD_SET_WEP: the payload is copied after the acquire load, then the
//   command is acknowledged by clearing its code byte with a compare-and-swap from the very
//   word that was read. When the swap fails a newer command is being written: the copy is
//   dropped and the newer command is taken at a later poll. Clearing the code makes the same
//   command posted twice visible twice.
// - Requests (CMD_LINK_INFO, CMD_CHANNEL_LIST) are never cleared: they stand until the
//   utility withdraws or replaces them.
// - The payload is written first, then statusWord with one release store. Its low 24 bits
//   carry a count of status writes (the utility ignores them), so a reader can see refreshes.
// - While the card is out, STAT_CARD_OUT stands and no request is answered. After insertion
//   (and after the service starts) STAT_CARD_IN stands for one second, two of the utility's
//   ticks, before answers resume.

#include "CommandDecoder.h"
#include "Log.h"
#include "ServiceCard.h"
#include "link/ConnectBlock.h"

#include <atomic>
#include <cstdint>

namespace service {

class BlockService {
public:
    BlockService(ConnectBlock* block, ServiceCard& card, Log& log);

    void Poll(Millis now);
    // When Poll has work again without a new command: the next link refresh while LINK_INFO
    // is answered, the end of STAT_CARD_IN's second. Nothing due: `after`.
    Millis NextDue(Millis now, Millis after) const;

    uint32_t CommandsTaken() const { return commandsTaken_; }
    // cmdWord as the last Poll read it, or as its acknowledgement left it.
    uint32_t HandledWord() const { return handledWord_; }

    static constexpr Millis kLinkRefresh{250};
    static constexpr Millis kCardInStands{1000};

private:
    std::atomic_ref<uint32_t> CmdWord() const { return std::atomic_ref<uint32_t>(block_->cmdWord); }
    std::atomic_ref<uint32_t> StatusWord() const { return std::atomic_ref<uint32_t>(block_->statusWord); }
    BlockBytes Snapshot() const;
    void Notice(uint32_t cmd);
    bool Acknowledge(uint32_t cmd);
    void TakeConfig(uint32_t cmd, Millis now);
    void TakeWep(uint32_t cmd, Millis now);
    void Answer(uint8_t command, Millis now);
    void WriteLinkInfo();
    void WriteChannelMask();
    void Publish(uint8_t status);
    uint8_t PublishedStatus() const;

    ConnectBlock* block_;
    ServiceCard& card_;
    Log& log_;
    uint32_t lastCommandWord_ = 0;
    uint32_t handledWord_ = 0;
    uint8_t lastCommand_ = 0;
    Card lastCard_ = Card::Out;        // so the start reads as an insertion
    Millis cardInUntil_{0};
    Millis nextLinkRefresh_{0};
    uint32_t statusCount_ = 0;
    uint16_t publishedMask_ = 0;
    uint32_t commandsTaken_ = 0;
};

} // namespace service
