#pragma once
// Drives a shown property sheet from a test the way the user would: its closing controls and
// its tabs, found among the sheet's Qt widgets by their visible text.

#include "framework/PropertySheet.h"

#include <QAbstractButton>
#include <QMetaObject>
#include <QString>
#include <QTabBar>
#include <QWidget>

#include <functional>
#include <utility>

namespace sheetdriver {

enum class CloseBy { Ok, Cancel, Window };

inline const char* Name(CloseBy how)
{
    switch (how) {
    case CloseBy::Ok: return "OK";
    case CloseBy::Cancel: return "Cancel";
    case CloseBy::Window: return "window";
    }
    return "?";
}

// The visible button of `root` whose text, mnemonic marks left out, is `text`; null if none.
inline QAbstractButton* FindButton(QWidget* root, const QString& text)
{
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->isVisible() && QString(button->text()).remove(QLatin1Char('&')) == text)
            return button;
    return nullptr;
}

inline QTabBar* FindTabBar(QWidget* root) { return root ? root->findChild<QTabBar*>() : nullptr; }

// Closes the sheet as the user would with `how`. Answers false when the sheet has no such
// control; the sheet is then closed by its window so that the run ends anyway.
inline bool Close(fw::PropertySheet& sheet, CloseBy how)
{
    QWidget* window = sheet.GetSafeWidget();
    if (!window)
        return false;
    if (how == CloseBy::Window) {
        window->close();
        return true;
    }
    QAbstractButton* button = FindButton(window, how == CloseBy::Ok ? QStringLiteral("OK") : QStringLiteral("Cancel"));
    if (!button) {
        window->close();
        return false;
    }
    button->click();
    return true;
}

// While alive, every sheet that is shown gets `whileShown` and is then closed by `how`. Both
// run from the sheet's own event loop, after the show has completed.
class WhenShown {
public:
    using Action = std::function<void(fw::PropertySheet&)>;

    WhenShown(Action whileShown, CloseBy how) : whileShown_(std::move(whileShown)), how_(how)
    {
        fw::PropertySheet::SetShownHook([this](fw::PropertySheet& sheet) {
            ++shows_;
            // The sheet's window is the context: a sheet gone before the call drops it.
            QMetaObject::invokeMethod(
                sheet.GetSafeWidget(),
                [this, &sheet] {
                    if (whileShown_)
                        whileShown_(sheet);
                    closed_ = Close(sheet, how_);
                },
                Qt::QueuedConnection);
        });
    }
    ~WhenShown() { fw::PropertySheet::SetShownHook({}); }
    WhenShown(const WhenShown&) = delete;
    WhenShown& operator=(const WhenShown&) = delete;

    int Shows() const { return shows_; }
    // Whether the closing control asked for was found and used.
    bool ClosedAsAsked() const { return closed_; }

private:
    Action whileShown_;
    CloseBy how_;
    int shows_ = 0;
    bool closed_ = false;
};

} // namespace sheetdriver
