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
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
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

class SheetPageTest : public SheetTest, public ::testing::WithParamInterface<int> {};

TEST_P(SheetPageTest, ShowsEveryTextInsideItsControlWithNothingOverlapping)
{
    nSheet sheet(u"Setup", nullptr, 0);
    bool checked = false;
    WhenShown when(
        [&](fw::PropertySheet& shown) {
            ASSERT_TRUE(shown.SetActivePage(GetParam()));
            QCoreApplication::processEvents();
            QWidget* page = shown.GetPage(GetParam())->GetSafeWidget();
            ASSERT_NE(page, nullptr);
            ASSERT_TRUE(page->isVisible());
            ExpectReadable(page);
            checked = true;
        },
        CloseBy::Ok);
    sheet.DoModal();
    EXPECT_TRUE(checked);
}

std::string TabName(const ::testing::TestParamInfo<int>& info)
{
    static const char* const names[] = {"Status", "Configuration", "Encryption", "About"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EachTab, SheetPageTest, ::testing::Range(0, 4), TabName);

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
