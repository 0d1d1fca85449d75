#pragma once
// The names assistive technology reads for the controls of a dialog template, found the
// classic way: a control without text of its own (edit, list, combo box, progress bar) is
// named by the label before it in the template's order.

#include "framework/DialogTemplate.h"

#include <string>
#include <vector>

namespace fw {

struct AccessibleName {
    // Empty for a control that speaks its own text (a label, a button).
    std::u16string name;
    // The index in the template of the label the name comes from, or -1.
    int label = -1;
};

class AccessibleNames {
public:
    // One entry per control of `tmpl`, in template order. A control is named by the label
    // before it; after several labels in a row (the row headings of a grid), by the one on its
    // row. A label's only control on its row, or else its first control, takes its text alone
    // ("Link Quality"); several on its row are the cells of a grid row, named with the
    // template's cell word and their column ("Key 1 byte 1"); any further one adds its kind
    // ("Link Quality bar"). A control with no label before it takes the template's caption
    // and its kind. Names are unique within the template (labels aside, which say the same
    // words as the control they name).
    static std::vector<AccessibleName> ForTemplate(const DialogTemplate& tmpl);

    // A label's text as a name: mnemonic marks and a trailing colon left out.
    static std::u16string FromLabel(std::u16string_view text);
};

} // namespace fw
