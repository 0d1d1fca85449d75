#pragma once
// The main dialog: an empty host that the application runs modally. While it initialises it
// runs the "Setup" sheet and, once the sheet has returned, destroys its own window, so it is
// never displayed and the program ends with the sheet.

#include "framework/Dialog.h"
#include "framework/Icon.h"

class nDlg : public fw::Dialog {
    FW_DECLARE_DYNAMIC(nDlg)

public:
    explicit nDlg(fw::Wnd* parent = nullptr);
    ~nDlg() override;

    bool OnInitDialog() override;

    // Icon 128, the dialog's large and small icon. Loaded at construction.
    fw::Icon appIcon;

protected:
    // No controls are bound.
    void DoDataExchange(fw::DataExchange& dx) override;
};
