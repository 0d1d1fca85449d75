#pragma once

#include "framework/Control.h"

#include <functional>
#include <string_view>

namespace fw {

// A single-line edit. Setting its text from the program sends the text-change notification
// (EN_CHANGE) to the owning window synchronously, before SetWindowText returns, every time,
// even when the new text equals the old one; typing and pasting send it too, once per change.
class Edit : public Control {
public:
    // Limits what the user can type or paste to `chars` characters; text set by the program
    // is not limited.
    void LimitText(int chars);
    // Refuses, whole, a change the user types or pastes when the text it would leave does
    // not `fit`, unless the change only deletes characters; text set by the program is
    // never refused.
    void LimitInput(std::function<bool(std::u16string_view)> fits);
};

} // namespace fw
