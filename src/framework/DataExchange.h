#pragma once
// The data-exchange step: binds control members to the controls of a dialog by id. It runs
// inside the base dialog initialisation, before a page's own initialisation code.

namespace fw {

class Control;
class Dialog;

class DataExchange {
public:
    explicit DataExchange(Dialog& dialog) : dialog_(dialog) {}
    Dialog& GetDialog() const { return dialog_; }

private:
    Dialog& dialog_;
};

// Binds `control` to the dialog's control with `id`. An id the template does not have
// leaves the member unattached.
void DDX_Control(DataExchange& dx, int id, Control& control);

} // namespace fw
