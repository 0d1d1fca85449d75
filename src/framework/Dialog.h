#pragma once

#include "framework/DialogTemplate.h"
#include "framework/Wnd.h"

#include <cstdint>

namespace fw {

class DataExchange;

// A dialog built from a template: its controls are created at their places, dialog units
// turned into pixels from the template font's metrics.
class Dialog : public Wnd {
    FW_DECLARE_DYNAMIC(Dialog)

public:
    explicit Dialog(const DialogTemplate& tmpl, Wnd* parent = nullptr);
    ~Dialog() override;

    // Creates the window and runs its initialisation, then runs it modally until it ends
    // (EndDialog, or DestroyWindow from anywhere, its own initialisation included, in which
    // case the window is never shown). Answers the result given to EndDialog, or -1.
    virtual intptr_t DoModal();
    // Creates the window and runs its initialisation without showing it or running it:
    // the way the sheet creates its pages, and the way tests create a page on its own.
    bool Create(Wnd* parent = nullptr);
    void EndDialog(intptr_t result);

    const DialogTemplate& GetTemplate() const { return template_; }

    // The base initialisation: fills the combo lists from the template, then runs the
    // data-exchange step. Answers true.
    virtual bool OnInitDialog();

protected:
    virtual void DoDataExchange(DataExchange& dx);

private:
    const DialogTemplate& template_;
    Wnd* parent_;
};

} // namespace fw
