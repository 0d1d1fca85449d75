#include "framework/Control.h"

#include "framework/EditLimit.h"
#include "framework/WndImpl.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace fw {

Control::~Control()
{
    Attach(nullptr, id_);
}

void Control::Attach(QWidget* widget, int id)
{
    if (widget_ && widget_ != widget)
        if (Wnd* owner = ControlOwner(*widget_))
            owner->impl().Unbind(*this);
    widget_ = widget;
    id_ = id;
    if (widget_)
        if (Wnd* owner = ControlOwner(*widget_))
            owner->impl().Bind(*this);
}

int Control::GetDlgCtrlID() const
{
    return id_;
}

void Control::EnableWindow(Enable enable)
{
    if (widget_)
        widget_->setEnabled(enable == Enable::On);
}

bool Control::IsWindowEnabled() const
{
    return widget_ && widget_->isEnabled();
}

void Control::ShowWindow(Show show)
{
    if (widget_)
        widget_->setVisible(show == Show::Normal);
}

bool Control::IsWindowVisible() const
{
    if (!widget_)
        return false;
    // Measured against the control's own dialog: a page on a tab not shown is not hidden.
    const Wnd* owner = ControlOwner(*widget_);
    QWidget* dialog = owner ? owner->GetSafeWidget() : nullptr;
    return widget_->isVisibleTo(dialog ? dialog : widget_->window());
}

void Control::SetWindowText(std::u16string_view text)
{
    if (!widget_)
        return;
    const QString qtext = ToQString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(widget_)) {
        // An edit notifies the program's text like typed text, synchronously and every time,
        // even when the text has not changed: the pages rely on it.
        if (EditLimit* limit = EditLimit::Of(*edit))
            limit->SetProgramText(qtext);
        else
            edit->setText(qtext);
        NotifyOwner(*edit, EN_CHANGE);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget_)) {
        if (combo->isEditable())
            combo->setEditText(qtext);
    } else if (auto* label = qobject_cast<QLabel*>(widget_)) {
        label->setText(qtext);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget_)) {
        button->setText(qtext);
    }
}

std::u16string Control::GetWindowText() const
{
    if (!widget_)
        return {};
    if (auto* edit = qobject_cast<QLineEdit*>(widget_))
        return ToU16(edit->text());
    if (auto* combo = qobject_cast<QComboBox*>(widget_))
        return ToU16(combo->currentText());
    if (auto* label = qobject_cast<QLabel*>(widget_))
        return ToU16(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget_))
        return ToU16(button->text());
    return {};
}

} // namespace fw
