#include "framework/PropertySheet.h"

#include "framework/DialogUnits.h"
#include "framework/DialogWindow.h"
#include "framework/FocusStyle.h"
#include "framework/PropertyPage.h"
#include "framework/WinApp.h"
#include "framework/WndImpl.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QKeySequence>
#include <QPushButton>
#include <QSignalBlocker>
#include <QShortcut>
#include <QTabBar>
#include <QVBoxLayout>

namespace fw {

FW_IMPLEMENT_DYNAMIC(PropertySheet, Wnd)

namespace {

std::function<void(PropertySheet&)>& ShownHook()
{
    static std::function<void(PropertySheet&)> hook;
    return hook;
}

// The place of one page in the tab widget. It has the page's size from the start, so the
// sheet is laid out for every page before any page window exists.
class PageSlot : public QWidget {
public:
    PageSlot(QSize pageSize, QWidget* parent) : QWidget(parent), pageSize_(pageSize) {}
    QSize sizeHint() const override { return pageSize_; }
    QSize minimumSizeHint() const override { return pageSize_; }

private:
    QSize pageSize_;
};

// Runs the shown hook once the sheet's modal loop runs, after its first show.
class ShowWatcher : public QObject {
public:
    ShowWatcher(PropertySheet& sheet, QWidget& window) : QObject(&window), sheet_(sheet) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !fired_) {
            fired_ = true;
            // Queued: ending the sheet from inside its own show would come before its loop.
            QMetaObject::invokeMethod(
                watched, [this] {
                    if (auto hook = ShownHook())
                        hook(sheet_);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    PropertySheet& sheet_;
    bool fired_ = false;
};

// Creates the page's window inside its tab the first time it is shown (its controls, its
// data exchange and its initialisation); a page created on its own beforehand moves in.
void ShowPageIn(PropertyPage& page, QWidget& slot)
{
    if (!page.HasWindow()) {
        BuildDialogWindow(page, &slot);
        page.OnInitDialog();
    } else if (page.GetSafeWidget()->parentWidget() != &slot) {
        page.GetSafeWidget()->setParent(&slot);
        page.GetSafeWidget()->move(0, 0);
    }
    if (page.HasWindow())
        page.GetSafeWidget()->show();
}

// The keyboard order of a classic sheet: the tab strip, the active page's controls in the
// order of its template, then OK and Cancel. The page's window is created after the buttons,
// so left to Qt its controls would come last.
void ChainFocus(QTabWidget& tabs, PropertyPage& page)
{
    QWidget* previous = tabs.tabBar();
    const auto follow = [&previous](QWidget* next) {
        if (!next || !(next->focusPolicy() & Qt::TabFocus))
            return;
        QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (const auto& [id, control] : page.impl().controls)
        follow(control);
    // The button box takes its place, not only its buttons: it passes the focus on to OK, so
    // left behind the page's controls it would send Tab from Cancel back to OK.
    if (auto* buttons = tabs.window()->findChild<QDialogButtonBox*>()) {
        QWidget::setTabOrder(previous, buttons);
        QWidget::setTabOrder(buttons->button(QDialogButtonBox::Ok), buttons->button(QDialogButtonBox::Cancel));
    }
}

// The first control of the shown page that Tab would reach, or null.
QWidget* FirstControl(QTabWidget& tabs)
{
    QWidget* page = tabs.currentWidget();
    for (QWidget* w = tabs.tabBar()->nextInFocusChain(); w && w != tabs.tabBar(); w = w->nextInFocusChain())
        if (page && page->isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            return w;
    return nullptr;
}

// Ctrl+Tab and Ctrl+Shift+Tab turn the pages from anywhere in the sheet, OK and Cancel
// included. The focus, when it was on the page left behind, moves to the first control of
// the new page, else (a page without one) to the tab strip.
void TurnPage(QTabWidget& tabs, int step)
{
    const int count = tabs.count();
    if (count < 2)
        return;
    QWidget* focus = QApplication::focusWidget();
    QWidget* leaving = tabs.currentWidget();
    const bool focusOnPage = focus && leaving && leaving->isAncestorOf(focus);
    tabs.setCurrentIndex((tabs.currentIndex() + step + count) % count);
    if (!focusOnPage)
        return;
    if (QWidget* first = FirstControl(tabs))
        first->setFocus(Qt::TabFocusReason);
    else
        tabs.tabBar()->setFocus(Qt::TabFocusReason);
}

void AddPageShortcuts(QWidget& window, QTabWidget& tabs)
{
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
    };
    for (const auto& [key, step] : keys) {
        auto* shortcut = new QShortcut(key, &window);
        QObject::connect(shortcut, &QShortcut::activated, &tabs, [&tabs, step = step] { TurnPage(tabs, step); });
    }
}

void SendActivate(PropertyPage& page, uint32_t state, Wnd* other)
{
    page.SendMessage(WM_ACTIVATE, MakeWParam(static_cast<uint16_t>(state), 0), reinterpret_cast<intptr_t>(other));
}

} // namespace

PropertySheet::PropertySheet(std::u16string_view caption, Wnd* parent, unsigned selectPage)
    : caption_(caption), parent_(parent), selectPage_(selectPage)
{
}

PropertySheet::~PropertySheet() = default;

void PropertySheet::AddPage(PropertyPage& page)
{
    for (PropertyPage* existing : pages_)
        if (existing == &page)
            return;
    pages_.push_back(&page);
}

int PropertySheet::GetPageCount() const
{
    return static_cast<int>(pages_.size());
}

PropertyPage* PropertySheet::GetPage(int index) const
{
    return index >= 0 && index < GetPageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

int PropertySheet::GetActiveIndex() const
{
    if (impl().tabs)
        return impl().activePage;
    return selectPage_ < pages_.size() ? static_cast<int>(selectPage_) : 0;
}

bool PropertySheet::SetActivePage(int index)
{
    if (!GetPage(index))
        return false;
    if (impl().tabs)
        impl().tabs->setCurrentIndex(index);  // activation follows from the tab change
    else
        selectPage_ = static_cast<unsigned>(index);
    return true;
}

std::u16string PropertySheet::GetCaption() const
{
    return caption_;
}

void PropertySheet::SetShownHook(std::function<void(PropertySheet&)> hook)
{
    ShownHook() = std::move(hook);
}

void PropertySheet::EndDialog(intptr_t result)
{
    impl().EndModal(result);
}

void PropertySheet::ActivatePage(int index)
{
    Impl& sheet = impl();
    PropertyPage* next = GetPage(index);
    if (!next || index == sheet.activePage || !sheet.tabs)
        return;
    PropertyPage* previous = GetPage(sheet.activePage);
    // The page left behind hears of it before the new page is created or activated, so at
    // most one page has a request standing in the block.
    if (previous && previous->HasWindow())
        SendActivate(*previous, WA_INACTIVE, next);
    sheet.activePage = index;
    ShowPageIn(*next, *sheet.tabs->widget(index));
    if (next->HasWindow())
        ChainFocus(*sheet.tabs, *next);
    if (next->HasWindow() && sheet.activePage == index)
        SendActivate(*next, WA_ACTIVE, previous);
    // A handler that selected a page while this change was under way (the page being left
    // selecting itself again) moved the tab without an activation; the tab shows the page
    // that is active, so the person sees the page whose controls answer.
    if (sheet.tabs->currentIndex() != sheet.activePage) {
        const QSignalBlocker quiet(sheet.tabs);
        sheet.tabs->setCurrentIndex(sheet.activePage);
    }
}

QWidget* PropertySheet::BuildWindow()
{
    Wnd* owner = parent_;
    if (!owner)
        if (WinApp* app = WinApp::Instance())
            owner = app->m_pMainWnd;

    auto* window = new DialogWidget(owner ? owner->GetSafeWidget() : nullptr);
    window->setWindowTitle(ToQString(caption_));
    window->setFont(DialogUnits::ForTemplate(pages_.front()->GetTemplate()).Font());
    window->SetOnDone([this](int result) { EndDialog(result == QDialog::Accepted ? IDOK : IDCANCEL); });

    auto* tabs = new QTabWidget(window);
    // Every caption shows at once: no scroll arrows and no shortening; the sheet grows to fit.
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    tabs->tabBar()->setExpanding(false);
    FocusStyle::Use(*tabs->tabBar());
    for (PropertyPage* page : pages_) {
        const DialogTemplate& tmpl = page->GetTemplate();
        const QSize size = DialogUnits::ForTemplate(tmpl).ToPixels(tmpl.w, tmpl.h);
        auto* slot = new PageSlot(size, tabs);
        slot->setAccessibleName(ToQString(tmpl.caption));
        tabs->addTab(slot, ToQString(tmpl.caption));
    }

    // The box has the focus style before it makes its buttons, and they take it from the box:
    // a focused OK shows a focus cue (OK merely being the default button does not), and the
    // buttons are made without icons, as classic sheet buttons carry their caption only, so
    // nothing is looked up or decoded for them on the way to the first frame.
    auto* buttons = new QDialogButtonBox(window);
    FocusStyle::Use(*buttons);
    buttons->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, window, [this] { EndDialog(IDOK); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, [this] { EndDialog(IDCANCEL); });

    auto* layout = new QVBoxLayout(window);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(tabs);
    layout->addWidget(buttons);

    AddPageShortcuts(*window, *tabs);
    impl().Adopt(window);
    impl().tabs = tabs;
    return window;
}

intptr_t PropertySheet::DoModal()
{
    if (HasWindow() || pages_.empty())
        return -1;
    const int first = GetActiveIndex();
    QWidget* window = BuildWindow();
    QTabWidget* tabs = impl().tabs;
    tabs->setCurrentIndex(first);
    QObject::connect(tabs, &QTabWidget::currentChanged, window, [this](int index) { ActivatePage(index); });
    window->installEventFilter(new ShowWatcher(*this, *window));

    Impl::ModalRun run;
    impl().modal = &run;
    ActivatePage(first);
    const intptr_t result = impl().RunModalLoop(run);
    impl().modal = nullptr;
    CloseDown();
    return result;
}

void PropertySheet::CloseDown()
{
    Impl& sheet = impl();
    if (sheet.tabs)
        QObject::disconnect(sheet.tabs, &QTabWidget::currentChanged, nullptr, nullptr);
    // The active page hears that it is no longer active before any page window goes.
    if (PropertyPage* active = GetPage(sheet.activePage); active && active->HasWindow())
        SendActivate(*active, WA_INACTIVE, nullptr);
    sheet.activePage = -1;
    for (PropertyPage* page : pages_)
        if (page->GetSafeWidget())
            page->impl().ReleaseWindow();
    sheet.ReleaseWindow();
}

} // namespace fw
