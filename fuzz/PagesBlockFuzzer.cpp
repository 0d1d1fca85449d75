// The utility's reading of the block: the Status page's tick and the Configuration page's
// channel-list rebuild, given any 64 bytes. The block is an exact 64-byte allocation, so a
// read past its end is caught by AddressSanitizer. What the pages then show must be from
// their fixed texts or formatted values, and agree with the bytes that were there.
#include "../tests/hardening/PageSanity.h"
#include "app/nApp.h"
#include "framework/Types.h"
#include "link/ConnectBlock.h"
#include "pages/nPConfig.h"
#include "pages/nPLinkInfo.h"

#include <QApplication>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Pages {
    std::unique_ptr<QApplication> app;
    nPLinkInfo status;
    nPConfig config;
};

Pages* pages = nullptr;
int argc = 1;
char arg0[] = "fuzz_pages_block";
char* argv[] = {arg0, nullptr};

void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_pages_block: %s\n", what.c_str());
    std::abort();
}

std::u16string Decimal(unsigned n)
{
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

// The channel the list shows, 0 when it shows none.
int ShownChannel(const nPConfig& page)
{
    const int selected = page.channelCombo.GetCurSel();
    return selected >= 0 && selected < 14 ? page.channelNumbers[static_cast<size_t>(selected)] : 0;
}

bool Allows(uint16_t mask, uint32_t channel)
{
    return channel >= 1 && channel <= 14 && (mask >> (channel - 1) & 1u) != 0;
}

// With the block standing still, the rebuilt list is exactly the mask's channels, and it
// shows the channel shown before when the mask allows it, else the stored one, else the first.
void CheckRebuild(const nPConfig& page, uint16_t mask, int shownBefore)
{
    const int expected = std::popcount(static_cast<unsigned>(mask & 0x3FFF));
    if (page.channelCount != expected || page.channelCombo.GetCount() != expected)
        Fail("rebuild placed " + std::to_string(page.channelCount) + " channels for mask " + std::to_string(mask));
    int i = 0;
    for (unsigned bit = 0; bit < 14; ++bit)
        if ((mask >> bit & 1u) != 0 && page.channelCombo.GetLBText(i++) != Decimal(bit + 1))
            Fail("rebuilt list out of order");
    const int selected = page.channelCombo.GetCurSel();
    if (expected == 0 ? selected != -1 : (selected < 0 || selected >= expected))
        Fail("rebuild selected " + std::to_string(selected));
    if (expected > 0) {
        const uint32_t stored = theApp.DSChannel;
        const int shown = page.channelNumbers[static_cast<size_t>(selected)];
        const bool right = Allows(mask, static_cast<uint32_t>(shownBefore)) ? shown == shownBefore
                           : Allows(mask, stored)                           ? shown == static_cast<int>(stored)
                                                                            : selected == 0;
        if (!right)
            Fail("rebuild selected channel " + std::to_string(shown) + " with " + std::to_string(shownBefore) +
                 " shown before and " + std::to_string(stored) + " stored");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pages = new Pages{std::make_unique<QApplication>(argc, argv), {}, {}};
    if (!pages->status.Create() || !pages->config.Create())
        Fail("the pages cannot be created");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The stored channel comes from the bytes after the block, so the selection rule is
    // tried with every stored value too.
    uint8_t peer[block::kSize] = {};
    std::memcpy(peer, data, std::min(size, block::kSize));
    const auto block = std::make_unique<uint8_t[]>(block::kSize);
    std::memcpy(block.get(), peer, block::kSize);
    theApp.DSChannel = size > block::kSize ? data[block::kSize] : 6;
    theApp.connectView = reinterpret_cast<ConnectBlock*>(block.get());

    const int shownBefore = ShownChannel(pages->config);
    for (fw::PropertyPage* page : {static_cast<fw::PropertyPage*>(&pages->status), static_cast<fw::PropertyPage*>(&pages->config)}) {
        // The peer's bytes stand for an answer written after this page's request, so nothing
        // an earlier page wrote may hold them back as a stale status.
        theApp.connectGuard = AnswerGuard{};
        page->SendMessage(fw::WM_ACTIVATE, fw::WA_ACTIVE);
        // Activation wrote the request; put the peer's bytes back, as if it answered at once.
        std::memcpy(block.get(), peer, block::kSize);
        page->SendMessage(fw::WM_TIMER, 1);
        page->SendMessage(fw::WM_ACTIVATE, fw::WA_INACTIVE);
    }

    if (const std::string wrong = hardening::CheckLinkInfoPage(pages->status); !wrong.empty())
        Fail("Status page: " + wrong);
    if (const std::string wrong = hardening::CheckConfigPage(pages->config); !wrong.empty())
        Fail("Configuration page: " + wrong);
    if (const std::string wrong = hardening::CheckBarDisplays(); !wrong.empty())
        Fail(wrong);
    const uint32_t status = reinterpret_cast<const ConnectBlock*>(block.get())->statusWord >> 24;
    if (status == STAT_CHANNEL_LIST) {
        uint16_t mask = 0;
        std::memcpy(&mask, block.get() + block::kChannelMask, sizeof mask);
        CheckRebuild(pages->config, mask, shownBefore);
    }
    if (status == STAT_LINK_INFO && pages->status.linkStateEdit.GetWindowText() != u"Disconnect") {
        const uint8_t quality = block[block::kLinkQuality];
        if (pages->status.linkQualityBar.GetPos() != quality)
            Fail("quality bar does not hold the byte");
    }
    theApp.connectView = nullptr;
    return 0;
}
