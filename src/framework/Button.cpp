#include "framework/Button.h"

#include <QAbstractButton>

namespace fw {

void Button::Click()
{
    // A disabled button ignores the click, as it ignores the mouse.
    if (auto* button = qobject_cast<QAbstractButton*>(widget_))
        button->click();
}

} // namespace fw
