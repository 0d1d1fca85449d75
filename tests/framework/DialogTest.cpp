// Dialogs from templates: the modal run and its endings, the font and the dialog units, the
// message tables, run-time class records, icons and the busy cursor.
#include "framework/TestDialogs.h"

#include "framework/Dialog.h"
#include "framework/Icon.h"
#include "framework/WndImpl.h"
#include "framework/PropertySheet.h"
#include "framework/WaitCursor.h"
#include "framework/WinApp.h"
#include "ui/Templates.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace fwtest {
namespace {

// Counts the times its window is shown.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        shows += event->type() == QEvent::Show;
        return false;
    }
};

// A dialog that runs a step of the test inside its own initialisation.
class HostDialog : public fw::Dialog {
public:
    explicit HostDialog(std::function<void(HostDialog&)> step) : fw::Dialog(kEmptyDialog), step_(std::move(step)) {}

    bool OnInitDialog() override
    {
        fw::Dialog::OnInitDialog();
        GetSafeWidget()->installEventFilter(&counter);
        step_(*this);
        return true;
    }

    ShowCounter counter;

private:
    std::function<void(HostDialog&)> step_;
};

TEST(DialogModalRun, DestroyedInsideItsInitialisationEndsWithoutEverShowing)
{
    fw::WinApp app;
    QPointer<QWidget> window;
    HostDialog host([&](HostDialog& self) {
        window = self.GetSafeWidget();
        self.DestroyWindow();
        EXPECT_FALSE(self.HasWindow());
    });
    app.m_pMainWnd = &host;
    EXPECT_EQ(host.DoModal(), -1);
    EXPECT_EQ(host.counter.shows, 0);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

// The way the main dialog works: its initialisation runs the sheet modally, owned by it,
// then destroys its own window; the dialog is never shown and its run ends at once.
TEST(DialogModalRun, HostRunsASheetInsideItsInitialisationThenDestroysItself)
{
    fw::WinApp app;
    std::vector<Event> log;
    QWidget* sheetOwner = nullptr;
    QWidget* hostWindow = nullptr;
    HostDialog host([&](HostDialog& self) {
        hostWindow = self.GetSafeWidget();
        TestPage page(kPageA, "A", &log);
        fw::PropertySheet sheet(u"Setup");
        sheet.AddPage(page);
        fw::PropertySheet::SetShownHook([&](fw::PropertySheet& s) {
            sheetOwner = s.GetSafeWidget()->parentWidget();
            s.EndDialog(1);
        });
        EXPECT_EQ(sheet.DoModal(), 1);
        fw::PropertySheet::SetShownHook({});
        self.DestroyWindow();
    });
    app.m_pMainWnd = &host;
    EXPECT_EQ(host.DoModal(), -1);
    EXPECT_EQ(host.counter.shows, 0);
    EXPECT_EQ(sheetOwner, hostWindow);
    EXPECT_FALSE(host.HasWindow());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), (Event{"destroyed", 0, 0, "A"}));
}

TEST(DialogModalRun, EndDialogEndsAShownRunWithItsResult)
{
    HostDialog host([](HostDialog& self) {
        QTimer::singleShot(0, self.GetSafeWidget(), [&self] {
            EXPECT_TRUE(self.GetSafeWidget()->isVisible());
            self.EndDialog(42);
        });
    });
    EXPECT_EQ(host.DoModal(), 42);
    EXPECT_EQ(host.counter.shows, 1);
    EXPECT_FALSE(host.HasWindow());
}

TEST(DialogModalRun, EscapeCancels)
{
    HostDialog host([](HostDialog& self) {
        QTimer::singleShot(0, self.GetSafeWidget(), [&self] { QTest::keyClick(self.GetSafeWidget(), Qt::Key_Escape); });
    });
    EXPECT_EQ(host.DoModal(), 2);
}

TEST(DialogCreate, CreatesWithoutShowingAndOnlyOnce)
{
    fw::Dialog dialog(kEmptyDialog);
    EXPECT_FALSE(dialog.HasWindow());
    ASSERT_TRUE(dialog.Create());
    EXPECT_FALSE(dialog.GetSafeWidget()->isVisible());
    EXPECT_FALSE(dialog.Create());
    EXPECT_EQ(dialog.GetWindowText(), u"Host");
    dialog.SetWindowText(u"Other");
    EXPECT_EQ(dialog.GetWindowText(), u"Other");
    dialog.CenterWindow();
    const QRect screen = QApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((dialog.GetSafeWidget()->frameGeometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_FALSE(dialog.DestroyWindow());
}

// ---- font and dialog units

TEST(DialogFont, SystemResolvesToARealFontFamily)
{
    fw::Dialog dialog(templates::kConfigPage);
    ASSERT_TRUE(dialog.Create());
    const QFontInfo info(dialog.GetSafeWidget()->font());
    EXPECT_EQ(info.family(), "DejaVu Sans");
    EXPECT_EQ(info.pointSize(), 10);
}

TEST(DialogFont, DialogUnitsFollowTheFontsAverageCharacterAndHeight)
{
    for (const fw::DialogTemplate* tmpl : {&templates::kStatusPage, &templates::kMainDialog}) {
        fw::Dialog dialog(*tmpl);
        ASSERT_TRUE(dialog.Create());
        const QFontMetrics metrics(dialog.GetSafeWidget()->font());
        const double charWidth = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0;
        const QSize size = dialog.GetSafeWidget()->size();
        EXPECT_NEAR(size.width(), tmpl->w * charWidth / 4, tmpl->w / 8.0 + 1);
        EXPECT_NEAR(size.height(), tmpl->h * metrics.height() / 8.0, 1);
    }
}

// Every text of the real templates fits its box in the chosen font, and a combo box is one
// line high whatever the extent of its drop-down list.
TEST(DialogFont, EveryTemplateTextFitsItsControl)
{
    for (const fw::DialogTemplate* tmpl : {&templates::kStatusPage, &templates::kConfigPage,
                                           &templates::kEncryptionPage, &templates::kAboutPage}) {
        fw::Dialog dialog(*tmpl);
        ASSERT_TRUE(dialog.Create());
        for (QLabel* label : dialog.GetSafeWidget()->findChildren<QLabel*>()) {
            const QFontMetrics metrics = label->fontMetrics();
            if (label->wordWrap()) {
                const QRect needed = metrics.boundingRect(QRect(0, 0, label->width(), 1000), Qt::TextWordWrap, label->text());
                EXPECT_LE(needed.height(), label->height()) << label->text().toStdString();
            } else {
                EXPECT_LE(metrics.height(), label->height()) << label->text().toStdString();
                EXPECT_LE(metrics.tightBoundingRect(label->text()).right() + 1, label->width()) << label->text().toStdString();
                EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
            }
        }
        for (QComboBox* combo : dialog.GetSafeWidget()->findChildren<QComboBox*>()) {
            EXPECT_LE(combo->height(), combo->fontMetrics().height() * 2);
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                EXPECT_LE(combo->fontMetrics().horizontalAdvance(combo->itemText(i)) + 2, field.width())
                    << combo->itemText(i).toStdString();
        }
    }
}

// ---- what assistive technology reads

// A control without text of its own speaks the label before it, mnemonic mark and colon left
// out; a second one under the same label adds its kind; one with no label before it takes the
// caption; a bar reads as the percentage of its range, clamped as it is drawn.
TEST(DialogAccessibility, NamesControlsByTheLabelBeforeThemAndBarsByPercentage)
{
    static constexpr fw::ControlTemplate controls[] = {
        {3000, fw::ControlKind::Edit, u"", 2, 2, 40, 12},
        {3005, fw::ControlKind::Label, u"&Host name:", 2, 20, 40, 8},
        {3001, fw::ControlKind::Edit, u"", 50, 20, 60, 12},
        {3002, fw::ControlKind::Bar, u"Progress1", 2, 34, 100, 8},
        {3003, fw::ControlKind::Button, u"&Go", 2, 50, 30, 12},
    };
    static constexpr fw::DialogTemplate probe{505, u"Probe", 139, 139, u"System", 10, controls, {}};
    fw::Dialog dialog(probe);
    ASSERT_TRUE(dialog.Create());
    const auto spoken = [&](int id) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(dialog.impl().FindControl(id));
        return iface ? iface->text(QAccessible::Name).toStdString() : std::string("(none)");
    };
    EXPECT_EQ(spoken(3000), "Probe field");
    EXPECT_EQ(spoken(3001), "Host name");
    EXPECT_EQ(spoken(3002), "Host name bar");
    EXPECT_EQ(spoken(3003), "Go");
    EXPECT_EQ(qobject_cast<QLabel*>(dialog.impl().FindControl(3005))->buddy(), dialog.impl().FindControl(3001));

    fw::ProgressBar bar;
    bar.Attach(dialog.impl().FindControl(3002), 3002);
    bar.SetRange(0, 15);
    QAccessibleValueInterface* value = QAccessible::queryAccessibleInterface(bar.GetSafeWidget())->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    for (const auto& [pos, percent] : {std::pair{0, 0}, {8, 53}, {15, 100}, {16, 100}, {-3, 0}}) {
        bar.SetPos(pos);
        EXPECT_EQ(value->currentValue().toInt(), percent) << "position " << pos;
    }
}

// The key grid's layout in small: row headings first, then the cells row by row. Each cell
// speaks its row's heading, the template's cell word and its column.
TEST(DialogAccessibility, NamesGridCellsByTheirRowHeadingAndColumn)
{
    static constexpr fw::ControlTemplate controls[] = {
        {3010, fw::ControlKind::Label, u"Key &1", 2, 10, 19, 8},
        {3011, fw::ControlKind::Label, u"Key &2:", 2, 25, 19, 8},
        {3020, fw::ControlKind::Edit, u"", 31, 10, 15, 12},
        {3021, fw::ControlKind::Edit, u"", 51, 10, 15, 12},
        {3022, fw::ControlKind::Edit, u"", 71, 10, 15, 12},
        {3023, fw::ControlKind::Edit, u"", 31, 25, 15, 12},
        {3024, fw::ControlKind::Edit, u"", 51, 25, 15, 12},
        {3025, fw::ControlKind::Edit, u"", 71, 25, 15, 12},
    };
    static constexpr fw::DialogTemplate grid{506, u"Grid", 139, 60, u"System", 10, controls, {}, u"byte"};
    fw::Dialog dialog(grid);
    ASSERT_TRUE(dialog.Create());
    std::vector<std::string> spoken;
    for (int id = 3020; id <= 3025; ++id)
        spoken.push_back(QAccessible::queryAccessibleInterface(dialog.impl().FindControl(id))
                             ->text(QAccessible::Name).toStdString());
    EXPECT_EQ(spoken, (std::vector<std::string>{"Key 1 byte 1", "Key 1 byte 2", "Key 1 byte 3", "Key 2 byte 1",
                                                "Key 2 byte 2", "Key 2 byte 3"}));
}

// ---- message tables

class DerivedPage : public TestPage {
    FW_DECLARE_MESSAGE_MAP()

public:
    using TestPage::TestPage;
    int applies = 0;

private:
    void OnApplyHere() { ++applies; }
};

FW_BEGIN_MESSAGE_MAP(DerivedPage, TestPage)
    FW_ON_BN_CLICKED(kApply, &DerivedPage::OnApplyHere)
FW_END_MESSAGE_MAP()

TEST(MessageTables, TheClassTableComesFirstThenItsBase)
{
    std::vector<Event> log;
    DerivedPage page(kPageA, "D", &log);
    ASSERT_TRUE(page.Create());
    log.clear();
    page.apply.Click();
    EXPECT_EQ(page.applies, 1);
    EXPECT_TRUE(log.empty());  // the base's handler for the same id was not reached
    page.editA.SetWindowText(u"x");
    EXPECT_EQ(log, (std::vector<Event>{{"EN_CHANGE", kEditA, 0, "D"}}));
    // A message no table handles, and a command for an id nobody knows, go nowhere.
    page.SendMessage(0x7777, 1, 2);
    page.SendMessage(fw::WM_COMMAND, fw::MakeWParam(9999, fw::BN_CLICKED));
    EXPECT_EQ(log.size(), 1u);
    // The timer and activation arrive with their arguments.
    page.SendMessage(fw::WM_TIMER, 5);
    page.SendMessage(fw::WM_ACTIVATE, fw::MakeWParam(fw::WA_CLICKACTIVE, 0));
    EXPECT_EQ(log, (std::vector<Event>{{"EN_CHANGE", kEditA, 0, "D"}, {"WM_TIMER", 5, 0, "D"},
                                       {"WM_ACTIVATE", 0, fw::WA_CLICKACTIVE, "D"}}));
}

TEST(MessageTables, DataExchangeLeavesUnknownIdsUnattached)
{
    TestPage page(kPageC, "C", nullptr);  // a template without controls
    ASSERT_TRUE(page.Create());
    EXPECT_FALSE(page.editA.IsAttached());
    EXPECT_EQ(page.editA.GetDlgCtrlID(), kEditA);
}

// ---- run-time class records

TEST(RuntimeClasses, NamesBasesAndFactories)
{
    EXPECT_EQ(fw::Wnd::runtimeClass.className, "Wnd");
    EXPECT_EQ(fw::PropertyPage::runtimeClass.className, "PropertyPage");
    EXPECT_EQ(fw::PropertySheet::runtimeClass.base, &fw::Wnd::runtimeClass);
    EXPECT_EQ(fw::WinApp::runtimeClass.base, &fw::Object::runtimeClass);
    TestPage page(kPageC, "C", nullptr);
    EXPECT_TRUE(page.IsKindOf(&fw::Dialog::runtimeClass));
    EXPECT_TRUE(page.IsKindOf(&fw::Object::runtimeClass));
    EXPECT_FALSE(page.IsKindOf(&fw::PropertySheet::runtimeClass));
    EXPECT_FALSE(page.IsKindOf(nullptr));
    EXPECT_EQ(page.GetRuntimeClass()->className, "TestPage");
    EXPECT_EQ(fw::Dialog::runtimeClass.CreateObject(), nullptr);
}

// ---- icons

constexpr std::array<uint32_t, 16> kPalette{0x00000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
                                            0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
                                            0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

TEST(Icons, LoadsEveryImageAndSkipsMalformedOnes)
{
    std::vector<uint8_t> small(16 * 16, 9);
    small[0] = 0;
    const std::vector<uint8_t> large(32 * 32, 0x1C);  // high bits ignored: colour 12
    const std::vector<uint8_t> shortData(10, 1);
    const fw::IconImage images[] = {{16, kPalette, small}, {32, kPalette, large}, {48, kPalette, shortData}};
    const fw::Icon icon = fw::Icon::Load({128, images});
    ASSERT_FALSE(icon.IsNull());

    fw::Dialog dialog(kEmptyDialog);
    ASSERT_TRUE(dialog.Create());
    dialog.SetIcon(icon, fw::IconSize::Large);
    dialog.SetIcon(icon, fw::IconSize::Small);
    const QIcon window = dialog.GetSafeWidget()->windowIcon();
    EXPECT_TRUE(window.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(window.availableSizes().contains(QSize(32, 32)));
    EXPECT_FALSE(window.availableSizes().contains(QSize(48, 48)));
    const QImage image16 = window.pixmap(16, 16).toImage();
    EXPECT_EQ(image16.pixel(0, 0), 0x00000000u);
    EXPECT_EQ(image16.pixel(5, 5), 0xFFFF0000u);
    EXPECT_EQ(window.pixmap(32, 32).toImage().pixel(3, 3), 0xFF0000FFu);

    EXPECT_TRUE(fw::Icon::Load({128, {}}).IsNull());
    EXPECT_TRUE(fw::Icon().IsNull());
}

// ---- the busy cursor

TEST(WaitCursors, ShowTheBusyCursorWithoutRunningAnything)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(0);
    QTimer::singleShot(0, [&] { ++ticks; });
    {
        fw::WaitCursor wait;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        EXPECT_EQ(ticks, 0);
    }
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace fwtest
