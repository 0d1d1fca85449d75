#include "pages/nPEncryption.h"

#include "framework/DataExchange.h"
#include "ui/Templates.h"

FW_IMPLEMENT_DYNCREATE(nPEncryption, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(nPEncryption, fw::PropertyPage)
    FW_ON_BN_CLICKED(1014, &nPEncryption::OnGenerate)
    FW_ON_CBN_SELCHANGE(1010, &nPEncryption::OnWepModeChange)
    FW_ON_EN_CHANGE(1015, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1016, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1017, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1018, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1019, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1020, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1021, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1022, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1023, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1024, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1025, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1026, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1027, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1028, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1029, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1030, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1031, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1032, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1033, &nPEncryption::OnKeyByteChange)
    FW_ON_EN_CHANGE(1034, &nPEncryption::OnKeyByteChange)
    FW_ON_BN_CLICKED(1009, &nPEncryption::ApplyWep)
FW_END_MESSAGE_MAP()

nPEncryption::nPEncryption() : fw::PropertyPage(templates::kEncryptionPage) {}

nPEncryption::~nPEncryption() = default;

void nPEncryption::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, 1039, keyLabels[0]);
    fw::DDX_Control(dx, 1038, keyLabels[1]);
    fw::DDX_Control(dx, 1037, keyLabels[2]);
    fw::DDX_Control(dx, 1036, keyLabels[3]);
    fw::DDX_Control(dx, 1014, generateButton);
    fw::DDX_Control(dx, 1012, passphraseEdit);
    fw::DDX_Control(dx, 1010, wepModeCombo);
    fw::DDX_Control(dx, 1013, defaultKeyCombo);
    for (size_t i = 0; i < kGridBytes; ++i)
        fw::DDX_Control(dx, kFirstKeyEditId + static_cast<int>(i), keyEdits[i]);
}

bool nPEncryption::OnInitDialog() { return InitPage(); }

bool nPEncryption::InitPage() { return fw::PropertyPage::OnInitDialog(); }

void nPEncryption::OnWepModeChange() { UpdateKeyControls(); }

void nPEncryption::UpdateKeyControls() {}

void nPEncryption::OnKeyByteChange() {}

void nPEncryption::NormalizeKeyByte(fw::Edit&) {}

void nPEncryption::OnGenerate() {}

void nPEncryption::ApplyWep() {}
