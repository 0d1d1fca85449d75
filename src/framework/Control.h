#pragma once
// The base of the control wrappers. A wrapper is an unattached member object until the
// data-exchange step binds it to the control of its dialog with the same id; calls on an
// unattached wrapper do nothing and answer empty values.

#include "framework/Types.h"

#include <string>
#include <string_view>

class QWidget;

namespace fw {

class Control {
public:
    Control() = default;
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    int GetDlgCtrlID() const;
    bool IsAttached() const { return widget_ != nullptr; }

    void EnableWindow(Enable enable);
    bool IsWindowEnabled() const;
    // Hidden means hidden by the program; a control of a page not on screen is not hidden.
    void ShowWindow(Show show);
    bool IsWindowVisible() const;

    // Text of an edit, label or button; for a combo box, the text of its edit field.
    virtual void SetWindowText(std::u16string_view text);
    virtual std::u16string GetWindowText() const;

    // For the framework and for tests: the widget this wrapper is bound to, or null.
    QWidget* GetSafeWidget() const { return widget_; }
    void Attach(QWidget* widget, int id);

protected:
    QWidget* widget_ = nullptr;
    int id_ = 0;
};

} // namespace fw
