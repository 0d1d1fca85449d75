#pragma once
// The base of every window: message routing through the static message tables, window
// timers, and the few window verbs the system uses.

#include "framework/MessageMap.h"
#include "framework/Object.h"
#include "framework/Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QWidget;

namespace fw {

class Icon;

class Wnd : public Object {
    FW_DECLARE_DYNAMIC(Wnd)

public:
    Wnd();
    ~Wnd() override;

    // Starts (or restarts) timer `id` with a period of `elapseMs`; ticks arrive as WM_TIMER
    // through the message table of this window. Answers `id`, or 0 when there is no window.
    uintptr_t SetTimer(uintptr_t id, uint32_t elapseMs);
    // Stops timer `id`; stopping a timer that does not run does nothing.
    bool KillTimer(uintptr_t id);
    bool IsTimerRunning(uintptr_t id) const;

    // Destroys the window; a window destroyed inside its own modal run ends that run.
    bool DestroyWindow();
    bool HasWindow() const;

    void CenterWindow();
    void SetIcon(const Icon& icon, IconSize size);
    void SetWindowText(std::u16string_view text);
    std::u16string GetWindowText() const;

    // Sends a message to this window's message table, synchronously.
    void SendMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

    // The message being handled; stays right when notifications nest. Null outside a handler.
    static const Message* GetCurrentMessage();

    // The default processing of the routed messages, for handlers to call first or last.
    void OnActivate(uint32_t state, Wnd* other, bool minimised);
    void OnTimer(uintptr_t id);

    // For the framework and for tests: the top-level widget of this window, or null.
    QWidget* GetSafeWidget() const;

    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;

    struct Impl;
    Impl& impl() const { return *impl_; }

protected:
    // Routes one message; answers whether a table entry handled it.
    bool OnWndMsg(const Message& msg);

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace fw
