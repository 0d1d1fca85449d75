#include "pages/nPLinkInfo.h"

#include "framework/DataExchange.h"
#include "ui/Templates.h"

FW_IMPLEMENT_DYNCREATE(nPLinkInfo, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(nPLinkInfo, fw::PropertyPage)
    FW_ON_WM_TIMER(&nPLinkInfo::OnTimer)
    FW_ON_WM_ACTIVATE(&nPLinkInfo::OnActivate)
FW_END_MESSAGE_MAP()

nPLinkInfo::nPLinkInfo() : fw::PropertyPage(templates::kStatusPage) {}

nPLinkInfo::~nPLinkInfo() = default;

void nPLinkInfo::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, 1051, signalStrengthBar);
    fw::DDX_Control(dx, 1050, linkQualityBar);
    fw::DDX_Control(dx, 1049, channelEdit);
    fw::DDX_Control(dx, 1048, signalStrengthEdit);
    fw::DDX_Control(dx, 1047, linkQualityEdit);
    fw::DDX_Control(dx, 1046, txRateEdit);
    fw::DDX_Control(dx, 1045, linkStateEdit);
}

bool nPLinkInfo::OnInitDialog() { return fw::PropertyPage::OnInitDialog(); }

void nPLinkInfo::OnActivate(uint32_t state, fw::Wnd* other, bool minimised)
{
    fw::PropertyPage::OnActivate(state, other, minimised);
}

void nPLinkInfo::OnTimer(uintptr_t timerId) { fw::PropertyPage::OnTimer(timerId); }
