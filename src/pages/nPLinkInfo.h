#pragma once
// The Status page: while it is the active page it asks the connection service for link
// information and shows, every 500 ms, what the service reports about the card and the link.

#include "framework/Edit.h"
#include "framework/ProgressBar.h"
#include "framework/PropertyPage.h"

#include <cstdint>
#include <string_view>

class nPLinkInfo : public fw::PropertyPage {
    FW_DECLARE_DYNCREATE(nPLinkInfo)

public:
    nPLinkInfo();
    ~nPLinkInfo() override;

    bool OnInitDialog() override;

    void OnActivate(uint32_t state, fw::Wnd* other, bool minimised);
    void OnTimer(uintptr_t timerId);

    // The two displays a tick writes, each in the fixed order 1045, 1046, 1047, bar 1050,
    // 1048, bar 1051, 1049.
    void ShowNoLink(std::u16string_view linkState);
    void ShowLinkInfo();

    // The value the platform answered when the poll timer was started; it stops that timer.
    // Zero until the first activation, so an early deactivation stops nothing.
    uint32_t timerHandle = 0;
    fw::ProgressBar signalStrengthBar;   // 1051
    fw::ProgressBar linkQualityBar;      // 1050
    fw::Edit channelEdit;                // 1049
    fw::Edit signalStrengthEdit;         // 1048
    fw::Edit linkQualityEdit;            // 1047
    fw::Edit txRateEdit;                 // 1046
    fw::Edit linkStateEdit;              // 1045

protected:
    void DoDataExchange(fw::DataExchange& dx) override;

    FW_DECLARE_MESSAGE_MAP()
};
