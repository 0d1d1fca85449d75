// The property sheet: pages created when first shown, activation in order on tab changes and
// on close, the closing controls, Enter, the tab captions and the owner.
#include "framework/TestDialogs.h"

#include "framework/Dialog.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>

namespace fwtest {
namespace {

constexpr intptr_t kOk = 1;
constexpr intptr_t kCancel = 2;

class PropertySheetTest : public ::testing::Test {
protected:
    PropertySheetTest()
    {
        sheet.AddPage(a);
        sheet.AddPage(b);
        sheet.AddPage(c);
    }
    ~PropertySheetTest() override { fw::PropertySheet::SetShownHook({}); }

    // Runs the sheet modally; `whileShown` runs once the sheet is on screen and must end it.
    intptr_t Run(std::function<void(fw::PropertySheet&)> whileShown)
    {
        fw::PropertySheet::SetShownHook(std::move(whileShown));
        return sheet.DoModal();
    }

    static QTabWidget* Tabs(fw::PropertySheet& s) { return s.GetSafeWidget()->findChild<QTabWidget*>(); }
    static QPushButton* SheetButton(fw::PropertySheet& s, QDialogButtonBox::StandardButton which)
    {
        return s.GetSafeWidget()->findChild<QDialogButtonBox*>()->button(which);
    }

    std::vector<Event> Activations() const
    {
        std::vector<Event> out;
        for (const Event& e : log)
            if (e.what != "EN_CHANGE")
                out.push_back(e);
        return out;
    }

    std::vector<Event> log;
    fw::PropertySheet sheet{u"Setup", nullptr, 0};
    TestPage a{kPageA, "A", &log};
    TestPage b{kPageB, "B", &log};
    TestPage c{kPageC, "C", &log};
};

TEST_F(PropertySheetTest, PagesAreCreatedWhenFirstShownAndActivatedInOrder)
{
    const intptr_t result = Run([&](fw::PropertySheet& s) {
        EXPECT_TRUE(s.GetSafeWidget()->isVisible());
        EXPECT_FALSE(b.HasWindow());
        log.push_back({"switch to 1"});
        Tabs(s)->setCurrentIndex(1);
        log.push_back({"switch to 0"});
        EXPECT_TRUE(s.SetActivePage(0));
        EXPECT_EQ(s.GetActiveIndex(), 0);
        log.push_back({"close"});
        SheetButton(s, QDialogButtonBox::Cancel)->click();
    });
    EXPECT_EQ(result, kCancel);
    const std::vector<Event> expected{
        {"init", 0, 0, "A"},
        {"WM_ACTIVATE", 0, fw::WA_ACTIVE, "A"},
        {"switch to 1"},
        {"WM_ACTIVATE", 0, fw::WA_INACTIVE, "A"},
        {"init", 0, 0, "B"},
        {"WM_ACTIVATE", 0, fw::WA_ACTIVE, "B"},
        {"switch to 0"},
        {"WM_ACTIVATE", 0, fw::WA_INACTIVE, "B"},
        {"WM_ACTIVATE", 0, fw::WA_ACTIVE, "A"},  // created once only
        {"close"},
        {"WM_ACTIVATE", 0, fw::WA_INACTIVE, "A"},
    };
    EXPECT_EQ(Activations(), expected);
    EXPECT_FALSE(a.HasWindow());
    EXPECT_FALSE(b.HasWindow());
    EXPECT_FALSE(c.HasWindow());  // never shown, never created
    EXPECT_FALSE(sheet.HasWindow());
}

TEST_F(PropertySheetTest, APageReselectedWhileItIsLeftIsNotActivatedAgain)
{
    // Page A's handler selects A again as it is being left (as a page that refuses to be left
    // might). The page already active must not be activated a second time: no second state,
    // and so no second request in the block.
    bool reselected = false;
    int shownTab = -1;
    int activeIndex = -1;
    a.onActivate = [&](TestPage&, uint32_t state) {
        if (state == fw::WA_INACTIVE && !std::exchange(reselected, true))
            sheet.SetActivePage(0);
    };
    Run([&](fw::PropertySheet& s) {
        log.push_back({"switch to 1"});
        Tabs(s)->setCurrentIndex(1);
        shownTab = Tabs(s)->currentIndex();
        activeIndex = s.GetActiveIndex();
        log.push_back({"close"});
        SheetButton(s, QDialogButtonBox::Cancel)->click();
    });
    ASSERT_TRUE(reselected);
    size_t activationsOfA = 0;
    bool afterSwitch = false;
    for (const Event& e : Activations()) {
        afterSwitch = afterSwitch || e.what == "switch to 1";
        if (afterSwitch && e.what == "WM_ACTIVATE" && e.page == "A")
            ++activationsOfA;
    }
    EXPECT_EQ(activationsOfA, 1u) << "A left once, never made active again";
    EXPECT_EQ(activeIndex, 1);
    EXPECT_EQ(shownTab, activeIndex) << "the tab shows the page that is active";
}

TEST_F(PropertySheetTest, NoPageWindowGoesBeforeTheLastDeactivation)
{
    bool windowsAtClose = false;
    b.onActivate = [&](TestPage& page, uint32_t state) {
        if (state == fw::WA_INACTIVE)
            windowsAtClose = page.HasWindow() && a.HasWindow() && page.editA.IsAttached();
    };
    Run([&](fw::PropertySheet& s) {
        s.SetActivePage(1);
        s.GetSafeWidget()->close();  // the window's own close
    });
    EXPECT_TRUE(windowsAtClose);
    EXPECT_FALSE(b.editA.IsAttached());
}

TEST_F(PropertySheetTest, FirstPageChosenByTheCaller)
{
    fw::PropertySheet second(u"Setup", nullptr, 2);
    second.AddPage(a);
    second.AddPage(c);
    second.AddPage(b);
    fw::PropertySheet::SetShownHook([](fw::PropertySheet& s) {
        EXPECT_EQ(s.GetActiveIndex(), 2);
        s.EndDialog(kOk);
    });
    EXPECT_EQ(second.DoModal(), kOk);
    EXPECT_EQ(Activations(), (std::vector<Event>{{"init", 0, 0, "B"},
                                                 {"WM_ACTIVATE", 0, fw::WA_ACTIVE, "B"},
                                                 {"WM_ACTIVATE", 0, fw::WA_INACTIVE, "B"}}));
}

TEST_F(PropertySheetTest, ComboListsAreFilledBeforeThePagesOwnInitialisation)
{
    a.onInit = [](TestPage& p) { EXPECT_EQ(p.list.SetCurSel(13), 13); };
    std::u16string shown;
    Run([&](fw::PropertySheet& s) {
        shown = a.list.GetWindowText();
        s.EndDialog(kOk);
    });
    EXPECT_EQ(shown, u"14");
}

TEST_F(PropertySheetTest, EnterInAnEditOrComboPressesOkNeverApply)
{
    using Target = QWidget* (*)(TestPage&);
    const Target targets[] = {
        [](TestPage& p) -> QWidget* { return p.editA.GetSafeWidget(); },
        [](TestPage& p) -> QWidget* { return qobject_cast<QComboBox*>(p.combo.GetSafeWidget())->lineEdit(); },
        [](TestPage& p) -> QWidget* { return p.list.GetSafeWidget(); },
    };
    for (Target target : targets) {
        log.clear();
        const intptr_t result = Run([&](fw::PropertySheet&) {
            QWidget* widget = target(a);
            widget->setFocus();
            QTest::keyClick(widget, Qt::Key_Return);
        });
        EXPECT_EQ(result, kOk);
        for (const Event& e : log) {
            EXPECT_NE(e.what, "BN_CLICKED");
        }
    }
}

// A focused button is the default for that moment, as in a classic dialog: Enter on the
// page's Apply applies and leaves the sheet open.
TEST_F(PropertySheetTest, EnterOnAFocusedButtonPressesThatButton)
{
    const intptr_t result = Run([&](fw::PropertySheet& s) {
        QTest::keyClick(a.apply.GetSafeWidget(), Qt::Key_Return);
        EXPECT_TRUE(s.GetSafeWidget()->isVisible());
        QPushButton* cancel = SheetButton(s, QDialogButtonBox::Cancel);
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Enter);
    });
    EXPECT_EQ(result, kCancel);
    EXPECT_EQ(std::count(log.begin(), log.end(), Event{"BN_CLICKED", kApply, 0, "A"}), 1);
}

TEST_F(PropertySheetTest, CtrlTabSwitchesPagesWithActivation)
{
    Run([&](fw::PropertySheet& s) {
        QWidget* edit = a.editA.GetSafeWidget();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(s.GetActiveIndex(), 1);
        EXPECT_TRUE(b.HasWindow());
        s.EndDialog(kOk);
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), Event{"WM_ACTIVATE", 0, fw::WA_ACTIVE, "B"}), 1);
}

TEST_F(PropertySheetTest, APageCreatedBeforeTheSheetRunsMovesIntoItsTab)
{
    ASSERT_TRUE(a.Create());
    QWidget* window = a.GetSafeWidget();
    Run([&](fw::PropertySheet& s) {
        EXPECT_EQ(a.GetSafeWidget(), window);
        EXPECT_EQ(window->window(), s.GetSafeWidget());
        EXPECT_TRUE(window->isVisible());
        s.EndDialog(kOk);
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), Event{"init", 0, 0, "A"}), 1);
}

TEST_F(PropertySheetTest, EveryTabCaptionShowsWithoutScrollArrows)
{
    Run([&](fw::PropertySheet& s) {
        QTabWidget* tabs = Tabs(s);
        ASSERT_EQ(tabs->count(), 3);
        EXPECT_EQ(tabs->tabText(0), "Alpha");
        EXPECT_EQ(tabs->tabText(1), "Configuration");
        EXPECT_EQ(tabs->tabText(2), "Encryption");
        EXPECT_FALSE(tabs->usesScrollButtons());
        const QRect bar = tabs->tabBar()->rect();
        for (int i = 0; i < tabs->count(); ++i) {
            const QRect tab = tabs->tabBar()->tabRect(i);
            EXPECT_TRUE(bar.contains(tab)) << i;
            EXPECT_GE(tab.width(), tabs->tabBar()->fontMetrics().horizontalAdvance(tabs->tabText(i)));
        }
        EXPECT_LE(tabs->tabBar()->tabRect(2).right(), tabs->width());
        // The page keeps its own layout: its window has the template's size.
        EXPECT_EQ(a.GetSafeWidget()->size(), a.GetSafeWidget()->minimumSize());
        EXPECT_EQ(s.GetCaption(), u"Setup");
        EXPECT_EQ(s.GetWindowText(), u"Setup");
        SheetButton(s, QDialogButtonBox::Ok)->click();
    });
}

TEST_F(PropertySheetTest, TimerTicksReachThePageThatStartedItAndStopWithTheSheet)
{
    EXPECT_EQ(a.SetTimer(1, 500), 0u);  // no window yet
    a.onActivate = [](TestPage& p, uint32_t state) {
        if (state == fw::WA_ACTIVE)
            EXPECT_EQ(p.SetTimer(7, 10), 7u);
        else
            EXPECT_TRUE(p.KillTimer(7));
    };
    bool stoppedAfterTicks = false;
    Run([&](fw::PropertySheet& s) {
        auto ticks = [&] { return std::count(log.begin(), log.end(), Event{"WM_TIMER", 7, 0, "A"}); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticks() >= 2; }, 5000));
        EXPECT_TRUE(a.IsTimerRunning(7));
        s.SetActivePage(1);
        stoppedAfterTicks = !a.IsTimerRunning(7) && !a.KillTimer(7);
        s.EndDialog(kOk);
    });
    EXPECT_TRUE(stoppedAfterTicks);
    for (const Event& e : log) {
        if (e.what == "WM_TIMER") {
            EXPECT_EQ(e.page, "A");
        }
    }
}

TEST_F(PropertySheetTest, TimerStillRunningWhenTheSheetClosesStops)
{
    b.onInit = [](TestPage& p) { p.SetTimer(1, 10); };
    Run([&](fw::PropertySheet& s) {
        s.SetActivePage(1);
        EXPECT_TRUE(b.IsTimerRunning(1));
        s.EndDialog(kOk);
    });
    EXPECT_FALSE(b.IsTimerRunning(1));
}

TEST_F(PropertySheetTest, WithoutAParentTheMainWindowOwnsTheSheet)
{
    fw::WinApp app;
    ASSERT_EQ(fw::WinApp::Instance(), &app);
    fw::Dialog host(kEmptyDialog);
    ASSERT_TRUE(host.Create());
    app.m_pMainWnd = &host;
    QWidget* owner = nullptr;
    Run([&](fw::PropertySheet& s) {
        owner = s.GetSafeWidget()->parentWidget();
        s.EndDialog(kOk);
    });
    EXPECT_EQ(owner, host.GetSafeWidget());
    EXPECT_TRUE(host.DestroyWindow());
    EXPECT_EQ(app.m_pMainWnd, nullptr);  // the registration ends with the window
}

TEST(EmptySheet, FailsAtOnce)
{
    fw::PropertySheet sheet(u"Empty");
    EXPECT_EQ(sheet.DoModal(), -1);
    EXPECT_EQ(sheet.GetPage(0), nullptr);
    EXPECT_FALSE(sheet.SetActivePage(0));
}

} // namespace
} // namespace fwtest
