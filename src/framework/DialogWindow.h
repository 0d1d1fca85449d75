#pragma once
// The windows of dialogs, pages and sheets. Private to the framework.

#include <QDialog>

#include <functional>

namespace fw {

class Dialog;

// A top-level dialog whose ending (OK, Cancel, Escape, the window's close) is reported to its
// owner instead of ending a run of Qt's own.
class DialogWidget : public QDialog {
public:
    explicit DialogWidget(QWidget* parent) : QDialog(parent) {}

    void SetOnDone(std::function<void(int)> onDone) { onDone_ = std::move(onDone); }
    void done(int result) override;

private:
    std::function<void(int)> onDone_;
};

// Builds the dialog's window from its template: a top-level dialog, or for a page a plain
// widget inside `parentWidget`. Controls are created in template order, which is also the
// tab order. Runs no initialisation.
void BuildDialogWindow(Dialog& dialog, QWidget* parentWidget);

} // namespace fw
