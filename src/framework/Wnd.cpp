#include "framework/Wnd.h"

#include "framework/Control.h"
#include "framework/Icon.h"
#include "framework/IconImpl.h"
#include "framework/WinApp.h"
#include "framework/WndImpl.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace fw {

FW_IMPLEMENT_DYNAMIC(Wnd, Object)

namespace {

// The messages being handled, innermost last: a handler that sets another edit's text is
// re-entered by that edit's notification, and must still see its own message afterwards.
std::vector<const Message*>& MessageStack()
{
    static std::vector<const Message*> stack;
    return stack;
}

class MessageScope {
public:
    explicit MessageScope(const Message& msg) { MessageStack().push_back(&msg); }
    ~MessageScope() { MessageStack().pop_back(); }
    MessageScope(const MessageScope&) = delete;
    MessageScope& operator=(const MessageScope&) = delete;
};

bool Matches(const MessageMapEntry& entry, const Message& msg)
{
    if (entry.message != msg.message)
        return false;
    if (msg.message != WM_COMMAND)
        return true;
    return entry.code == HiWord(msg.wParam) && static_cast<uint16_t>(entry.id) == LoWord(msg.wParam);
}

// Classic timers never fire faster than every 10 ms.
constexpr uint32_t kTimerMinimumMs = 10;

constexpr const char* kOwnerProperty = "fw.owner";
constexpr const char* kIdProperty = "fw.id";

} // namespace

// ---- Wnd::Impl

Wnd::Impl::~Impl()
{
    ReleaseWindow();
}

void Wnd::Impl::Adopt(QWidget* window)
{
    widget = window;
    destroyPending = false;
    ApplyIcons();
}

void Wnd::Impl::EndModal(intptr_t result)
{
    if (!modal || modal->ended)
        return;
    modal->ended = true;
    modal->result = result;
    if (modal->loop)
        modal->loop->exit();
}

intptr_t Wnd::Impl::RunModalLoop(ModalRun& run)
{
    if (!run.ended && widget) {
        widget->setWindowModality(Qt::ApplicationModal);
        widget->show();
        // A window deleted behind the framework's back ends its run too.
        QObject::connect(widget, &QObject::destroyed, widget, [this] { EndModal(-1); });
        if (!run.ended) {
            QEventLoop loop;
            run.loop = &loop;
            loop.exec(QEventLoop::DialogExec);
            run.loop = nullptr;
        }
        if (widget)
            widget->hide();
    }
    return run.result;
}

void Wnd::Impl::StopTimers()
{
    for (auto& [id, timer] : timers)
        timer->stop();
}

void Wnd::Impl::ReleaseWindow()
{
    StopTimers();
    // Wrappers are detached while their widgets still exist, so none is left dangling.
    std::vector<Control*> wrappers;
    wrappers.swap(bound);
    for (Control* control : wrappers)
        control->Attach(nullptr, control->GetDlgCtrlID());
    controls.clear();
    tabs = nullptr;
    activePage = -1;
    destroyPending = false;
    delete widget.data();
    widget = nullptr;
}

QWidget* Wnd::Impl::FindControl(int id) const
{
    for (const auto& [controlId, control] : controls)
        if (controlId == id && control)
            return control.data();
    return nullptr;
}

void Wnd::Impl::Bind(Control& control)
{
    if (std::find(bound.begin(), bound.end(), &control) == bound.end())
        bound.push_back(&control);
}

void Wnd::Impl::Unbind(Control& control)
{
    bound.erase(std::remove(bound.begin(), bound.end(), &control), bound.end());
}

void Wnd::Impl::ApplyIcons()
{
    if (!widget || (largeIcon.isNull() && smallIcon.isNull()))
        return;
    // Qt keeps one icon per window: it gets the large images and the small ones, and picks
    // the size it needs from them.
    QIcon combined;
    for (const QIcon* source : {&largeIcon, &smallIcon})
        for (const QSize& size : source->availableSizes())
            combined.addPixmap(source->pixmap(size));
    widget->setWindowIcon(combined);
}

// ---- control ownership

void SetControlOwner(QWidget& control, Wnd& owner, int id)
{
    control.setProperty(kOwnerProperty, QVariant::fromValue(static_cast<void*>(&owner)));
    control.setProperty(kIdProperty, id);
}

Wnd* ControlOwner(const QWidget& control)
{
    return static_cast<Wnd*>(control.property(kOwnerProperty).value<void*>());
}

void NotifyOwner(const QWidget& control, uint16_t code)
{
    Wnd* owner = ControlOwner(control);
    if (!owner)
        return;
    const int id = control.property(kIdProperty).toInt();
    owner->SendMessage(WM_COMMAND, MakeWParam(static_cast<uint16_t>(id), code), 0);
}

QString ToQString(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text)
{
    return text.toStdU16String();
}

// ---- Wnd

Wnd::Wnd() : impl_(std::make_unique<Impl>(*this)) {}

Wnd::~Wnd()
{
    if (WinApp* app = WinApp::Instance(); app && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

uintptr_t Wnd::SetTimer(uintptr_t id, uint32_t elapseMs)
{
    if (!HasWindow())
        return 0;
    auto& timer = impl_->timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, id] {
            if (HasWindow())
                SendMessage(WM_TIMER, id, 0);
        });
    }
    const uint32_t period = std::clamp<uint32_t>(elapseMs, kTimerMinimumMs, std::numeric_limits<int>::max());
    timer->start(static_cast<int>(period));
    return id;
}

bool Wnd::KillTimer(uintptr_t id)
{
    // The timer object stays: a tick handler may stop its own timer, and deleting the
    // QTimer that is emitting would pull it out from under Qt.
    auto it = impl_->timers.find(id);
    if (it == impl_->timers.end() || !it->second->isActive())
        return false;
    it->second->stop();
    return true;
}

bool Wnd::IsTimerRunning(uintptr_t id) const
{
    auto it = impl_->timers.find(id);
    return it != impl_->timers.end() && it->second->isActive();
}

bool Wnd::DestroyWindow()
{
    if (!HasWindow())
        return false;
    if (WinApp* app = WinApp::Instance(); app && app->m_pMainWnd == this) {
        app->m_pMainWnd = nullptr;
        MainWindowDestroyed();
    }
    if (impl_->modal) {
        // Inside its own modal run (its initialisation included) the window is only marked;
        // the run ends at once and takes the window down itself, never showing it.
        impl_->destroyPending = true;
        impl_->StopTimers();
        impl_->EndModal(-1);
        return true;
    }
    impl_->ReleaseWindow();
    return true;
}

bool Wnd::HasWindow() const
{
    return impl_->widget && !impl_->destroyPending;
}

void Wnd::CenterWindow()
{
    QWidget* window = impl_->widget;
    if (!window || !window->isWindow())
        return;
    QRect area;
    if (QWidget* owner = window->parentWidget(); owner && owner->isVisible())
        area = owner->window()->frameGeometry();
    else if (QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isNull())
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void Wnd::SetIcon(const Icon& icon, IconSize size)
{
    QIcon qicon = icon.IsNull() ? QIcon() : icon.impl()->icon;
    (size == IconSize::Large ? impl_->largeIcon : impl_->smallIcon) = qicon;
    impl_->ApplyIcons();
}

void Wnd::SetWindowText(std::u16string_view text)
{
    if (impl_->widget)
        impl_->widget->setWindowTitle(ToQString(text));
}

std::u16string Wnd::GetWindowText() const
{
    return impl_->widget ? ToU16(impl_->widget->windowTitle()) : std::u16string();
}

void Wnd::SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    OnWndMsg(Message{message, wParam, lParam});
}

const Message* Wnd::GetCurrentMessage()
{
    const auto& stack = MessageStack();
    return stack.empty() ? nullptr : stack.back();
}

void Wnd::OnActivate(uint32_t, Wnd*, bool) {}

void Wnd::OnTimer(uintptr_t) {}

QWidget* Wnd::GetSafeWidget() const
{
    return impl_->widget.data();
}

const MessageMap* Wnd::GetThisMessageMap()
{
    static constexpr MessageMapEntry entries[] = {{0, 0, 0, nullptr}};
    static constexpr MessageMap map{nullptr, entries};
    return &map;
}

const MessageMap* Wnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

bool Wnd::OnWndMsg(const Message& msg)
{
    MessageScope scope(msg);
    for (const MessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
        for (const MessageMapEntry* entry = map->entries; entry && entry->message != 0; ++entry) {
            if (Matches(*entry, msg)) {
                entry->thunk(*this, msg);
                return true;
            }
        }
    }
    return false;
}

} // namespace fw
