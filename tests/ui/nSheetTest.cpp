// The "Setup" sheet as the user meets it: its four tabs in order with Status selected, every
// caption and every text visible inside its control, its closing controls, and its pages
// going in the reverse order of their construction.
#include "ui/nSheet.h"

#include "app/nApp.h"
#include "link/ConnectBlock.h"
#include "platform/RegistryKey.h"
#include "platform/Suspend.h"
#include "support/TestEnvironment.h"
#include "ui/SheetDriver.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using sheetdriver::CloseBy;
using sheetdriver::WhenShown;

std::string Narrow(const QString& s) { return s.toStdString(); }

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousView_ = theApp.connectView;
        theApp.connectView = &block_;
        // A run that never shows its sheet, or never closes, fails here instead of hanging.
        watchdog_.setSingleShot(true);
        QObject::connect(&watchdog_, &QTimer::timeout, [] {
            ADD_FAILURE() << "the sheet was still open after the deadline";
            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
        });
        watchdog_.start(20000);
    }

    void TearDown() override { theApp.connectView = previousView_; }

    ConnectBlock block_{};
    testenv::TempDir dir_;
    testenv::ScopedEnv registry_{"WLAN_REGISTRY_FILE", (dir_ / "registry.reg").string()};

private:
    ConnectBlock* previousView_ = nullptr;
    QTimer watchdog_;
};

TEST_F(SheetTest, ShowsFourTabsInOrderWithStatusSelected)
{
    nSheet sheet(u"Setup", nullptr, 0);
    std::vector<std::string> tabs;
    int currentTab = -1;
    QString title;
    WhenShown when(
        [&](fw::PropertySheet& shown) {
            title = shown.GetSafeWidget()->windowTitle();
            QTabBar* bar = sheetdriver::FindTabBar(shown.GetSafeWidget());
            ASSERT_NE(bar, nullptr);
            for (int i = 0; i < bar->count(); ++i)
                tabs.push_back(Narrow(bar->tabText(i)));
            currentTab = bar->currentIndex();
        },
        CloseBy::Ok);
    sheet.DoModal();

    EXPECT_EQ(when.Shows(), 1);
    EXPECT_EQ(Narrow(title), "Setup");
    EXPECT_EQ(tabs, (std::vector<std::string>{"Status", "Configuration", "Encryption", "About"}));
    EXPECT_EQ(currentTab, 0);
    // The tabs are the members, in tab order, not in declaration order.
    ASSERT_EQ(sheet.GetPageCount(), 4);
    EXPECT_EQ(sheet.GetPage(0), &sheet.Status);
    EXPECT_EQ(sheet.GetPage(1), &sheet.Configuration);
    EXPECT_EQ(sheet.GetPage(2), &sheet.Encryption);
    EXPECT_EQ(sheet.GetPage(3), &sheet.About);
}

TEST_F(SheetTest, ShowsAllFourCaptionsAtOnceWithoutScrollArrows)
{
    nSheet sheet(u"Setup", nullptr, 0);
    WhenShown when(
        [&](fw::PropertySheet& shown) {
            QTabBar* bar = sheetdriver::FindTabBar(shown.GetSafeWidget());
            ASSERT_NE(bar, nullptr);
            const QRect window = shown.GetSafeWidget()->rect();
            for (int i = 0; i < bar->count(); ++i) {
                const QRect tab = bar->tabRect(i);
                SCOPED_TRACE(Narrow(bar->tabText(i)));
                EXPECT_TRUE(bar->rect().contains(tab)) << "the tab runs out of its bar";
                EXPECT_TRUE(window.contains(QRect(bar->mapTo(shown.GetSafeWidget(), tab.topLeft()), tab.size())))
                    << "the tab runs out of the window";
                EXPECT_GE(tab.width(), bar->fontMetrics().horizontalAdvance(bar->tabText(i)))
                    << "the caption is cut";
            }
            for (QToolButton* arrow : bar->findChildren<QToolButton*>())
                EXPECT_FALSE(arrow->isVisible()) << "the tab bar shows a scroll arrow";
        },
        CloseBy::Ok);
    sheet.DoModal();
    EXPECT_EQ(when.Shows(), 1);
}

// Where a label's text is drawn, in the label's coordinates: its lines, each a font height
// high, without the leading below the last one, placed as the label aligns them.
QRect DrawnText(const QLabel* label)
{
    const QFontMetrics fm = label->fontMetrics();
    const QRect inner = label->contentsRect();
    const Qt::Alignment align = label->alignment();
    const int flags = int(align) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
    QRect text = fm.boundingRect(inner, flags, label->text());
    const int lines = std::max(1, (text.height() + fm.lineSpacing() / 2) / fm.lineSpacing());
    text.setHeight(lines * fm.lineSpacing() - std::max(0, fm.leading()));
    if (align & Qt::AlignTop)
        text.moveTop(inner.top());
    else if (align & Qt::AlignBottom)
        text.moveBottom(inner.bottom());
    else
        text.moveTop(inner.top() + (inner.height() - text.height()) / 2);
    return text;
}

// What a control occupies in its parent's coordinates: a label its text, others their box.
QRect Occupied(QWidget* control)
{
    if (auto* label = qobject_cast<QLabel*>(control))
        return DrawnText(label).translated(label->pos());
    return control->geometry();
}

// Every text of the page fits inside its control, and the page's visible controls neither
// overlap nor leave the page.
void ExpectReadable(QWidget* page)
{
    std::vector<QWidget*> controls;
    for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            controls.push_back(child);
    ASSERT_FALSE(controls.empty());

    for (QWidget* control : controls) {
        const QFontMetrics fm = control->fontMetrics();
        const QRect inner = control->contentsRect();
        if (auto* label = qobject_cast<QLabel*>(control)) {
            SCOPED_TRACE("label " + Narrow(label->text()));
            const QRect text = DrawnText(label);
            EXPECT_TRUE(inner.contains(text)) << "text " << text.width() << "x" << text.height() << " in a box "
                                              << inner.width() << "x" << inner.height() << " (font height "
                                              << fm.height() << ", leading " << fm.leading() << ")";
        } else if (auto* button = qobject_cast<QPushButton*>(control)) {
            SCOPED_TRACE("button " + Narrow(button->text()));
            EXPECT_LT(fm.horizontalAdvance(button->text()), inner.width());
            EXPECT_LE(fm.height(), inner.height());
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            SCOPED_TRACE("edit showing " + Narrow(edit->text()));
            const QMargins margins = edit->textMargins();
            EXPECT_LE(fm.horizontalAdvance(edit->text()), inner.width() - margins.left() - margins.right());
            EXPECT_LE(fm.height(), inner.height());
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i) {
                SCOPED_TRACE("combo entry " + Narrow(combo->itemText(i)));
                EXPECT_LE(fm.horizontalAdvance(combo->itemText(i)), field.width());
            }
            EXPECT_LE(fm.height(), field.height());
        }
    }

    const QRect pageRect = page->rect();
    for (size_t i = 0; i < controls.size(); ++i) {
        const QRect a = Occupied(controls[i]);
        EXPECT_TRUE(pageRect.contains(a)) << controls[i]->metaObject()->className() << " at (" << a.x() << ","
                                          << a.y() << ") leaves the page";
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const QRect b = Occupied(controls[j]);
            EXPECT_FALSE(a.intersects(b)) << controls[i]->metaObject()->className() << " at (" << a.x() << ","
                                          << a.y() << ") overlaps " << controls[j]->metaObject()->className()
                                          << " at (" << b.x() << "," << b.y() << ")";
        }
    }
}

// Each page at the desktop's usual font size, and with a desktop font twice that size, as a
// person who needs large text sets it: the dialog units follow the font, so the sheet grows.
class SheetPageTest : public SheetTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(SheetPageTest, ShowsEveryTextInsideItsControlWithNothingOverlapping)
{
    const auto [tab, fontScale] = GetParam();
    const QFont desktop = QApplication::font();
    QFont large = desktop;
    large.setPointSizeF(desktop.pointSizeF() * fontScale);
    QApplication::setFont(large);
    nSheet sheet(u"Setup", nullptr, 0);
    bool checked = false;
    WhenShown when(
        [&, tab = tab](fw::PropertySheet& shown) {
            ASSERT_TRUE(shown.SetActivePage(tab));
            QCoreApplication::processEvents();
            QWidget* page = shown.GetPage(tab)->GetSafeWidget();
            ASSERT_NE(page, nullptr);
            ASSERT_TRUE(page->isVisible());
            // The page's text is at least as large as the desktop's.
            EXPECT_GE(page->fontMetrics().height(), QFontMetrics(QApplication::font()).height());
            ExpectReadable(page);
            // The sheet's own parts: the tab strip, OK and Cancel inside the window, apart.
            QWidget* window = shown.GetSafeWidget();
            QTabBar* bar = sheetdriver::FindTabBar(window);
            const QRect strip(bar->mapTo(window, QPoint()), bar->size());
            std::vector<QRect> parts{strip};
            for (const char* caption : {"OK", "Cancel"}) {
                QAbstractButton* button = sheetdriver::FindButton(window, QString::fromLatin1(caption));
                ASSERT_NE(button, nullptr);
                SCOPED_TRACE(caption);
                EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->contentsRect().width());
                parts.emplace_back(button->mapTo(window, QPoint()), button->size());
            }
            for (size_t i = 0; i < parts.size(); ++i) {
                EXPECT_TRUE(window->rect().contains(parts[i]));
                for (size_t j = i + 1; j < parts.size(); ++j)
                    EXPECT_FALSE(parts[i].intersects(parts[j]));
            }
            checked = true;
        },
        CloseBy::Ok);
    sheet.DoModal();
    QApplication::setFont(desktop);
    EXPECT_TRUE(checked);
}

std::string PageCase(const ::testing::TestParamInfo<std::tuple<int, int>>& info)
{
    static const char* const names[] = {"Status", "Configuration", "Encryption", "About"};
    return std::string(names[std::get<0>(info.param)]) + (std::get<1>(info.param) == 2 ? "LargeFont" : "");
}

INSTANTIATE_TEST_SUITE_P(EachTab, SheetPageTest, ::testing::Combine(::testing::Range(0, 4), ::testing::Values(1, 2)),
                         PageCase);

class SheetCloseTest : public SheetTest, public ::testing::WithParamInterface<CloseBy> {};

// Each closing control only ends the run: the registry file is neither written nor replaced,
// whichever pages were opened.
TEST_P(SheetCloseTest, EndsTheRunAndWritesNothing)
{
    const std::filesystem::path file = dir_ / "registry.reg";
    {
        auto key = platform::RegistryKey::Create(kDriverParmsKey);
        ASSERT_TRUE(key);
        const uint32_t channel = 6;
        key->SetValue(u"DSChannel", platform::REG_DWORD, &channel, sizeof channel);
        ASSERT_EQ(key->Close(), platform::ERROR_SUCCESS);
    }
    const std::string before = testenv::ReadFile(file);
    const auto stamp = std::filesystem::last_write_time(file);
    ASSERT_FALSE(before.empty());

    QPointer<QWidget> window;
    {
        nSheet sheet(u"Setup", nullptr, 0);
        WhenShown when(
            [&](fw::PropertySheet& shown) {
                window = shown.GetSafeWidget();
                for (int i = 3; i >= 0; --i)
                    shown.SetActivePage(i);
            },
            GetParam());
        sheet.DoModal();
        EXPECT_EQ(when.Shows(), 1);
        EXPECT_TRUE(when.ClosedAsAsked()) << "the sheet has no " << sheetdriver::Name(GetParam()) << " control";
        EXPECT_TRUE(window.isNull() || !window->isVisible()) << "the sheet is still on screen";
    }
    EXPECT_TRUE(window.isNull()) << "the sheet's window outlives the sheet";
    EXPECT_EQ(testenv::ReadFile(file), before);
    EXPECT_EQ(std::filesystem::last_write_time(file), stamp);
}

INSTANTIATE_TEST_SUITE_P(EachClosingControl, SheetCloseTest,
                         ::testing::Values(CloseBy::Ok, CloseBy::Cancel, CloseBy::Window),
                         [](const auto& info) { return std::string(info.param == CloseBy::Ok       ? "OK"
                                                                   : info.param == CloseBy::Cancel ? "Cancel"
                                                                                                   : "Window"); });

// A save that fails (here the file was damaged since the start) is never silent: each Apply
// says so on stderr and in a box over the sheet that names the file and the reason. The box
// comes once the command has been posted, and the command still goes to the card.
TEST_F(SheetTest, EveryFailedSaveIsShownOverTheSheetAfterTheCommandIsPosted)
{
    const std::filesystem::path file = dir_ / "registry.reg";
    const std::string damaged = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n"
                                "\"TxRate\"=dword:zz\n";
    testenv::WriteFile(file, damaged);
    const auto boxes = [] {
        std::vector<QMessageBox*> shown;
        for (QWidget* widget : QApplication::allWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                shown.push_back(box);
        return shown;
    };
    std::vector<size_t> boxesWhileCommandWaits;
    const platform::SuspendHook previousHook = platform::SetSuspendHook([&](std::chrono::milliseconds) {
        EXPECT_EQ(block_.cmdWord >> 24, CMD_SET_CONFIG) << "the command is posted before the box shows";
        boxesWhileCommandWaits.push_back(boxes().size());
    });
    ::testing::internal::CaptureStderr();
    int seen = 0;
    {
        nSheet sheet(u"Setup", nullptr, 0);
        WhenShown when(
            [&](fw::PropertySheet& shown) {
                ASSERT_TRUE(shown.SetActivePage(1));
                QCoreApplication::processEvents();
                for (int apply = 0; apply < 2; ++apply) {
                    block_.cmdWord = 0;
                    QAbstractButton* button = sheetdriver::FindButton(shown.GetSafeWidget(), QStringLiteral("Apply"));
                    ASSERT_NE(button, nullptr);
                    button->click();
                    QCoreApplication::processEvents();
                    const std::vector<QMessageBox*> now = boxes();
                    ASSERT_EQ(now.size(), 1u);
                    const std::string text = Narrow(now[0]->text());
                    EXPECT_NE(text.find(file.string() + ":4: bad dword"), std::string::npos) << text;
                    EXPECT_EQ(now[0]->window()->parentWidget(), shown.GetSafeWidget());
                    now[0]->close();
                    QCoreApplication::processEvents();
                    ++seen;
                }
            },
            CloseBy::Ok);
        sheet.DoModal();
    }
    platform::SetSuspendHook(previousHook);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(boxesWhileCommandWaits, (std::vector<size_t>{0, 0}));
    const std::string line = ": settings not saved: " + file.string() + ":4: bad dword";
    const size_t first = said.find(line);
    ASSERT_NE(first, std::string::npos) << said;
    EXPECT_NE(said.find(line, first + line.size()), std::string::npos) << said;
    EXPECT_EQ(testenv::ReadFile(file), damaged);
}

// A page's window, while it has one, goes with the page object; so with every page given its
// window on its own, the windows' ends trace the order in which the sheet destroys its pages.
TEST_F(SheetTest, DestroysItsPagesAboutConfigurationEncryptionStatus)
{
    std::vector<std::string> destroyed;
    {
        nSheet sheet(u"Setup", nullptr, 0);
        const std::pair<fw::PropertyPage*, const char*> pages[] = {
            {&sheet.Status, "Status"},
            {&sheet.Configuration, "Configuration"},
            {&sheet.Encryption, "Encryption"},
            {&sheet.About, "About"},
        };
        for (auto [page, name] : pages) {
            ASSERT_TRUE(page->Create()) << name;
            QObject::connect(page->GetSafeWidget(), &QObject::destroyed,
                             [&destroyed, name = std::string(name)] { destroyed.push_back(name); });
        }
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"About", "Configuration", "Encryption", "Status"}));
}

TEST(SheetRuntimeClass, NamesTheSheetAndItsBase)
{
    nSheet sheet(u"Setup", nullptr, 0);
    EXPECT_EQ(sheet.GetRuntimeClass(), &nSheet::runtimeClass);
    EXPECT_EQ(nSheet::runtimeClass.className, "nSheet");
    EXPECT_TRUE(sheet.IsKindOf(&fw::PropertySheet::runtimeClass));
    // The sheet is only ever a local object of the main dialog: it is not creatable by name.
    EXPECT_EQ(nSheet::runtimeClass.CreateObject(), nullptr);
    EXPECT_EQ(sheet.GetCaption(), u"Setup");
}

} // namespace

// The keyboard order of a classic sheet, read by pressing Tab from the tab strip until the
// focus comes back to it: the active page's controls that take the focus in the order of
// its template (Apply last), then OK, then Cancel.
class SheetKeyboardTest : public SheetTest {
protected:
    // What the user has focused: the tab strip, a button by its caption, or a page control
    // by the member the page keeps it in.
    std::string Focused(nSheet& sheet) const
    {
        QWidget* focus = QApplication::focusWidget();
        if (!focus)
            return "nothing";
        if (focus->parentWidget() && qobject_cast<QComboBox*>(focus->parentWidget()))
            focus = focus->parentWidget();
        if (qobject_cast<QTabBar*>(focus))
            return "tabs";
        if (auto* button = qobject_cast<QPushButton*>(focus))
            return Narrow(button->text().remove(QLatin1Char('&')));
        const std::pair<const fw::Control*, std::string> members[] = {
            {&sheet.Status.linkStateEdit, "link state"},
            {&sheet.Status.channelEdit, "channel"},
            {&sheet.Status.txRateEdit, "tx rate"},
            {&sheet.Status.linkQualityEdit, "link quality"},
            {&sheet.Status.signalStrengthEdit, "signal strength"},
            {&sheet.Configuration.ssidEdit, "network name"},
            {&sheet.Configuration.networkTypeCombo, "network type"},
            {&sheet.Configuration.txRateCombo, "tx rate"},
            {&sheet.Configuration.psModeCombo, "ps mode"},
            {&sheet.Configuration.channelCombo, "channel"},
            {&sheet.Encryption.wepModeCombo, "wep"},
            {&sheet.Encryption.passphraseEdit, "passphrase"},
            {&sheet.Encryption.defaultKeyCombo, "default key"},
        };
        for (const auto& [member, name] : members)
            if (member->GetSafeWidget() == focus)
                return name;
        for (size_t i = 0; i < sheet.Encryption.keyEdits.size(); ++i)
            if (sheet.Encryption.keyEdits[i].GetSafeWidget() == focus)
                return "key " + std::to_string(i / 5 + 1) + " byte " + std::to_string(i % 5 + 1);
        return "unknown " + std::string(focus->metaObject()->className());
    }

    // The focus, Tab after Tab (or Shift+Tab after Shift+Tab), from the tab strip round to it
    // again (at most 40 presses).
    std::vector<std::string> TabRound(nSheet& sheet, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        sheetdriver::FindTabBar(sheet.GetSafeWidget())->setFocus(Qt::TabFocusReason);
        std::vector<std::string> order{Focused(sheet)};
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            order.push_back(Focused(sheet));
            if (order.back() == "tabs" || order.back() == "nothing")
                break;
        }
        return order;
    }
};

TEST_F(SheetKeyboardTest, TabGoesFromTheTabsThroughThePageInTemplateOrderToOkAndCancel)
{
    // 64-bit WEP, so the key grid takes the focus; Peer-to-Peer, so the channel list does.
    static_cast<WlanSettings&>(theApp) = WlanSettings{};
    theApp.WepReq = 2;
    theApp.NetworkType = 0;
    nSheet sheet(u"Setup", nullptr, 0);
    std::vector<std::vector<std::string>> rounds;
    WhenShown when(
        [&](fw::PropertySheet& shown) {
            for (int page = 0; page < 4; ++page) {
                ASSERT_TRUE(shown.SetActivePage(page));
                QCoreApplication::processEvents();
                rounds.push_back(TabRound(sheet));
            }
        },
        CloseBy::Ok);
    sheet.DoModal();
    using V = std::vector<std::string>;
    ASSERT_EQ(rounds.size(), 4u);
    EXPECT_EQ(rounds[0], (V{"tabs", "link state", "channel", "tx rate", "link quality", "signal strength", "OK",
                            "Cancel", "tabs"}));
    EXPECT_EQ(rounds[1], (V{"tabs", "network name", "network type", "tx rate", "ps mode", "channel", "Apply", "OK",
                            "Cancel", "tabs"}));
    V encryption{"tabs", "wep", "passphrase"};
    for (int key = 1; key <= 4; ++key)
        for (int byte = 1; byte <= 5; ++byte)
            encryption.push_back("key " + std::to_string(key) + " byte " + std::to_string(byte));
    encryption.insert(encryption.end(), {"default key", "Apply", "OK", "Cancel", "tabs"});
    EXPECT_EQ(rounds[2], encryption);
    EXPECT_EQ(rounds[3], (V{"tabs", "OK", "Cancel", "tabs"}));
}

// Each control that Tab reaches looks different with the focus than without it; OK, the
// default button either way, included.
TEST_F(SheetKeyboardTest, EveryControlShowsWhenItHasTheFocus)
{
    static_cast<WlanSettings&>(theApp) = WlanSettings{};
    theApp.WepReq = 2;
    nSheet sheet(u"Setup", nullptr, 0);
    int compared = 0;
    WhenShown when(
        [&](fw::PropertySheet& shown) {
            QTabBar* tabs = sheetdriver::FindTabBar(shown.GetSafeWidget());
            for (int page = 0; page < 4; ++page) {
                ASSERT_TRUE(shown.SetActivePage(page));
                std::vector<QWidget*> reached;
                tabs->setFocus(Qt::TabFocusReason);
                for (int i = 0; i < 40; ++i) {
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                    if (QApplication::focusWidget() == tabs)
                        break;
                    reached.push_back(QApplication::focusWidget());
                }
                reached.push_back(tabs);
                for (QWidget* control : reached) {
                    SCOPED_TRACE(std::to_string(page) + " " + Focused(sheet));
                    QWidget* elsewhere = control == tabs ? reached.front() : tabs;
                    elsewhere->setFocus(Qt::TabFocusReason);
                    const QImage without = control->grab().toImage();
                    control->setFocus(Qt::TabFocusReason);
                    ASSERT_EQ(QApplication::focusWidget(), control);
                    EXPECT_NE(control->grab().toImage(), without) << "the focus does not show";
                    ++compared;
                }
            }
        },
        CloseBy::Ok);
    sheet.DoModal();
    EXPECT_EQ(compared, 8 + 9 + 27 + 3);
}

TEST_F(SheetKeyboardTest, ShiftTabGoesTheSameWayBack)
{
    static_cast<WlanSettings&>(theApp) = WlanSettings{};  // Peer-to-Peer: the channel list takes part
    nSheet sheet(u"Setup", nullptr, 1);
    std::vector<std::string> round;
    WhenShown when([&](fw::PropertySheet&) { round = TabRound(sheet, Qt::ShiftModifier); }, CloseBy::Ok);
    sheet.DoModal();
    EXPECT_EQ(round, (std::vector<std::string>{"tabs", "Cancel", "OK", "Apply", "channel", "ps mode", "tx rate",
                                               "network type", "network name", "tabs"}));
}

// Ctrl+Tab and Ctrl+Shift+Tab turn the pages wherever the focus is; a focus on the page left
// behind moves to the first control of the new page, a focus on OK stays there.
TEST_F(SheetKeyboardTest, CtrlTabTurnsThePagesFromAnywhereInTheSheet)
{
    nSheet sheet(u"Setup", nullptr, 0);
    std::vector<std::pair<int, std::string>> seen;
    WhenShown when(
        [&](fw::PropertySheet& shown) {
            const auto press = [&](Qt::KeyboardModifiers modifiers) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
                seen.emplace_back(shown.GetActiveIndex(), Focused(sheet));
            };
            sheetdriver::FindButton(shown.GetSafeWidget(), QStringLiteral("OK"))->setFocus(Qt::TabFocusReason);
            press(Qt::ControlModifier);
            press(Qt::ControlModifier);
            sheet.Encryption.wepModeCombo.GetSafeWidget()->setFocus(Qt::TabFocusReason);
            press(Qt::ControlModifier | Qt::ShiftModifier);
            press(Qt::ControlModifier);
            press(Qt::ControlModifier);  // About has no control: the tab strip takes the focus
            press(Qt::ControlModifier);
        },
        CloseBy::Ok);
    sheet.DoModal();
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{
                        {1, "OK"}, {2, "OK"}, {1, "network name"}, {2, "wep"}, {3, "tabs"}, {0, "tabs"}}));
}
