#pragma once

#include "framework/Dialog.h"

namespace fw {

// A page of a property sheet. Its tab caption is the template's caption. The sheet creates
// its window the first time its tab is shown; it lives until the sheet closes.
//
// Activation: a page receives WM_ACTIVATE with WA_ACTIVE when it becomes the active page of
// the open sheet (the first page as the sheet opens, the new page on every tab change), and
// WA_INACTIVE when it stops being so: on a tab change before the new page's WA_ACTIVE, and
// for the current page when the sheet closes, before any page window is destroyed.
class PropertyPage : public Dialog {
    FW_DECLARE_DYNAMIC(PropertyPage)

public:
    explicit PropertyPage(const DialogTemplate& tmpl);
    ~PropertyPage() override;
};

} // namespace fw
