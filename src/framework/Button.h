#pragma once

#include "framework/Control.h"

namespace fw {

// A push button; a click sends BN_CLICKED to the owning window.
class Button : public Control {
public:
    // Clicks the button as the user would (for tests and keyboard handling).
    void Click();
};

} // namespace fw
