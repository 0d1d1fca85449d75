#pragma once

#include "framework/Control.h"

namespace fw {

// A drop-down list or editable drop-down combo box. Selecting from the program sends no
// selection-change notification; the user's choice (mouse or keyboard) sends exactly one
// (CBN_SELCHANGE). An editable combo never gains entries from typing.
class ComboBox : public Control {
public:
    static constexpr int CB_ERR = -1;

    // The selected index, or -1 when no entry is selected.
    int GetCurSel() const;
    // Selects `index`; -1 or an index past the last entry leaves no entry selected (and
    // answers CB_ERR), anything else answers the index.
    int SetCurSel(int index);
    void ResetContent();
    // Appends, or inserts in order when the combo is sorted; answers the entry's index.
    int AddString(std::u16string_view text);
    int GetCount() const;
    std::u16string GetLBText(int index) const;
};

} // namespace fw
