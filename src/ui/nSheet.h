#pragma once
// The "Setup" sheet. It owns the four pages as members and adds them as tabs; it handles
// nothing itself and adds nothing to the sheet's own closing.

#include "framework/PropertySheet.h"
#include "pages/nPConfig.h"
#include "pages/nPEncryption.h"
#include "pages/nPLinkInfo.h"
#include "ui/nPAbout.h"

#include <string_view>

class nSheet : public fw::PropertySheet {
    FW_DECLARE_DYNAMIC(nSheet)

public:
    nSheet(std::u16string_view caption, fw::Wnd* parent, unsigned selectPage);
    ~nSheet() override;

    // Constructed in this order and destroyed in the reverse one (About, Configuration,
    // Encryption, Status). The tab order differs: see the constructor.
    nPLinkInfo Status;
    nPEncryption Encryption;
    nPConfig Configuration;
    nPAbout About;
};
