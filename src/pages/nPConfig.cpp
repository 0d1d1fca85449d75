#include "pages/nPConfig.h"

#include "framework/DataExchange.h"
#include "ui/Templates.h"

FW_IMPLEMENT_DYNCREATE(nPConfig, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(nPConfig, fw::PropertyPage)
    FW_ON_BN_CLICKED(1009, &nPConfig::ApplyConfig)
    FW_ON_CBN_SELCHANGE(1002, &nPConfig::OnNetworkTypeChange)
    FW_ON_WM_TIMER(&nPConfig::OnPollTimer)
    FW_ON_WM_ACTIVATE(&nPConfig::OnActivation)
FW_END_MESSAGE_MAP()

nPConfig::nPConfig() : fw::PropertyPage(templates::kConfigPage) {}

nPConfig::~nPConfig() = default;

void nPConfig::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, 1001, ssidEdit);
    fw::DDX_Control(dx, 1004, txRateCombo);
    fw::DDX_Control(dx, 1006, psModeCombo);
    fw::DDX_Control(dx, 1002, networkTypeCombo);
    fw::DDX_Control(dx, 1008, channelCombo);
}

bool nPConfig::OnInitDialog() { return InitPage(); }

bool nPConfig::InitPage() { return fw::PropertyPage::OnInitDialog(); }

void nPConfig::OnNetworkTypeChange() { UpdateChannelEnable(); }

void nPConfig::UpdateChannelEnable() {}

void nPConfig::OnActivation(uint32_t state, fw::Wnd* other, bool minimised)
{
    fw::PropertyPage::OnActivate(state, other, minimised);
}

void nPConfig::OnPollTimer(uintptr_t timerId) { fw::PropertyPage::OnTimer(timerId); }

void nPConfig::RebuildChannelList() {}

void nPConfig::ApplyConfig() {}
