#pragma once
// The Configuration page: network name, type, transmit rate, power-save mode and channel.
// It narrows its Channel list to what the card allows, and Apply stores the values in the
// registry and hands them to the connection service.

#include "framework/ComboBox.h"
#include "framework/Edit.h"
#include "framework/PropertyPage.h"

#include <array>
#include <cstddef>
#include <cstdint>

class nPConfig : public fw::PropertyPage {
    FW_DECLARE_DYNCREATE(nPConfig)

public:
    static constexpr size_t kMaxChannels = 14;

    nPConfig();
    ~nPConfig() override;

    // The dialog initialisation of this page.
    bool OnInitDialog() override;
    bool InitPage();

    void OnNetworkTypeChange();
    void UpdateChannelEnable();
    void OnActivation(uint32_t state, fw::Wnd* other, bool minimised);
    void OnPollTimer(uintptr_t timerId);
    void RebuildChannelList();
    void ApplyConfig();

    // Channel number of each entry of the Channel list, by list index.
    std::array<int32_t, kMaxChannels> channelNumbers{};
    // Entries the last channel-list rebuild placed; 0 while no list has arrived.
    int32_t channelCount = 0;
    uint32_t pollTimerId = 0;
    fw::Edit ssidEdit;              // 1001
    fw::ComboBox txRateCombo;       // 1004
    fw::ComboBox psModeCombo;       // 1006
    fw::ComboBox networkTypeCombo;  // 1002
    fw::ComboBox channelCombo;      // 1008

    // The Apply replaced a request that was waiting; the next tick posts it again.
    bool listRequestReplaced = false;

protected:
    void DoDataExchange(fw::DataExchange& dx) override;

    FW_DECLARE_MESSAGE_MAP()

private:
    void SelectNetworkType();
    void SelectTxRate();
    uint32_t NetworkTypeFromList() const;
    void ApplyTxRate();
    void ApplyChannel();
};
