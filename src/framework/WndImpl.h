#pragma once
// The Qt side of a window: its widget, its timers, its controls by id and the wrappers bound
// to them, and the state of a modal run. Private to the framework.

#include "framework/Wnd.h"

#include <QEventLoop>
#include <QIcon>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace fw {

class Control;

// The classic answers of a modal run ended by the closing controls.
inline constexpr intptr_t IDOK = 1;
inline constexpr intptr_t IDCANCEL = 2;

struct Wnd::Impl {
    explicit Impl(Wnd& owner) : self(owner) {}
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // One modal run of this window. DestroyWindow and EndDialog inside the run only end it;
    // the run itself takes the window down afterwards, so nothing is deleted under a handler.
    struct ModalRun {
        QEventLoop* loop = nullptr;
        bool ended = false;
        intptr_t result = -1;
    };

    void Adopt(QWidget* window);
    void EndModal(intptr_t result);
    // Runs the window modally until EndModal; answers the run's result. The window must exist.
    intptr_t RunModalLoop(ModalRun& run);
    // Stops the timers, detaches the bound wrappers and deletes the widget tree.
    void ReleaseWindow();
    void StopTimers();

    QWidget* FindControl(int id) const;
    void Bind(Control& control);
    void Unbind(Control& control);
    void ApplyIcons();

    Wnd& self;
    QPointer<QWidget> widget;
    bool destroyPending = false;
    ModalRun* modal = nullptr;

    std::map<uintptr_t, std::unique_ptr<QTimer>> timers;
    std::vector<std::pair<int, QPointer<QWidget>>> controls;  // template order
    std::vector<Control*> bound;
    QIcon largeIcon;
    QIcon smallIcon;

    // A property sheet's tabs while it runs; -1 before any page is active.
    QPointer<QTabWidget> tabs;
    int activePage = -1;
};

// Each control widget knows the window that owns it and its id, so notifications and
// wrappers find their way back without a table of their own.
void SetControlOwner(QWidget& control, Wnd& owner, int id);
Wnd* ControlOwner(const QWidget& control);
// Sends WM_COMMAND (id, code) to the control's owner, synchronously.
void NotifyOwner(const QWidget& control, uint16_t code);

// Ends the application's message loop, when one runs, after the main window has gone.
void MainWindowDestroyed();

QString ToQString(std::u16string_view text);
std::u16string ToU16(const QString& text);

} // namespace fw
