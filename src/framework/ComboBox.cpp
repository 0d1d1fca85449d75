#include "framework/ComboBox.h"

#include "framework/ControlFactory.h"
#include "framework/WndImpl.h"

#include <QComboBox>
#include <QVariant>

namespace fw {

namespace {

// A sorted classic combo keeps its entries in case-insensitive order, a new entry after
// those equal to it.
int SortedPosition(const QComboBox& combo, const QString& text)
{
    for (int i = 0; i < combo.count(); ++i)
        if (QString::compare(combo.itemText(i), text, Qt::CaseInsensitive) > 0)
            return i;
    return combo.count();
}

} // namespace

int ComboBox::GetCurSel() const
{
    auto* combo = qobject_cast<QComboBox*>(widget_);
    return combo ? combo->currentIndex() : CB_ERR;
}

int ComboBox::SetCurSel(int index)
{
    auto* combo = qobject_cast<QComboBox*>(widget_);
    if (!combo)
        return CB_ERR;
    // Selecting from the program notifies nothing: only the user's choice (activated) does.
    if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        return CB_ERR;
    }
    combo->setCurrentIndex(index);
    return index;
}

void ComboBox::ResetContent()
{
    if (auto* combo = qobject_cast<QComboBox*>(widget_))
        combo->clear();
}

int ComboBox::AddString(std::u16string_view text)
{
    auto* combo = qobject_cast<QComboBox*>(widget_);
    if (!combo)
        return CB_ERR;
    const QString entry = ToQString(text);
    const bool sorted = combo->property(kSortedProperty).toBool();
    const int index = sorted ? SortedPosition(*combo, entry) : combo->count();
    const int selected = combo->currentIndex();
    const QString editText = combo->currentText();
    combo->insertItem(index, entry);
    // Qt selects the first entry of an empty combo; a classic combo selects nothing.
    if (selected < 0 && combo->currentIndex() >= 0) {
        combo->setCurrentIndex(-1);
        if (combo->isEditable())
            combo->setEditText(editText);
    }
    return index;
}

int ComboBox::GetCount() const
{
    auto* combo = qobject_cast<QComboBox*>(widget_);
    return combo ? combo->count() : 0;
}

std::u16string ComboBox::GetLBText(int index) const
{
    auto* combo = qobject_cast<QComboBox*>(widget_);
    if (!combo || index < 0 || index >= combo->count())
        return {};
    return ToU16(combo->itemText(index));
}

} // namespace fw
