#include "framework/Edit.h"

#include "framework/EditLimit.h"

#include <QLineEdit>

namespace fw {

void Edit::LimitText(int chars)
{
    auto* edit = qobject_cast<QLineEdit*>(widget_);
    if (!edit)
        return;
    EditLimit* limit = EditLimit::Of(*edit);
    if (!limit)
        limit = new EditLimit(*edit);  // owned by the edit
    limit->SetLimit(chars);
}

} // namespace fw
