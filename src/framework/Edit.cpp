#include "framework/Edit.h"

#include "framework/EditLimit.h"

#include <QLineEdit>

namespace fw {

namespace {

EditLimit* LimitOf(QWidget* widget)
{
    auto* edit = qobject_cast<QLineEdit*>(widget);
    if (!edit)
        return nullptr;
    EditLimit* limit = EditLimit::Of(*edit);
    return limit ? limit : new EditLimit(*edit);  // owned by the edit
}

} // namespace

void Edit::LimitText(int chars)
{
    if (EditLimit* limit = LimitOf(widget_))
        limit->SetLimit(chars);
}

void Edit::LimitInput(std::function<bool(std::u16string_view)> fits)
{
    if (EditLimit* limit = LimitOf(widget_))
        limit->SetFits(std::move(fits));
}

} // namespace fw
