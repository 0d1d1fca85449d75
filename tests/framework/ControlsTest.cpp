// The classic control semantics the pages rely on, against the real Qt widgets: a page is
// created on its own (no sheet), its controls bound, and the user's actions simulated with
// QTest on the widgets the wrappers are bound to.
#include "framework/TestDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace fwtest {
namespace {

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(page.Create());
        log.clear();
    }

    std::vector<Event> Only(const std::string& what) const
    {
        std::vector<Event> out;
        for (const Event& e : log)
            if (e.what == what)
                out.push_back(e);
        return out;
    }

    QLineEdit* Line(fw::Control& c) { return qobject_cast<QLineEdit*>(c.GetSafeWidget()); }
    QComboBox* Combo(fw::Control& c) { return qobject_cast<QComboBox*>(c.GetSafeWidget()); }

    std::vector<Event> log;
    TestPage page{kPageA, "A", &log};
};

// 1. The program's text notifies synchronously and every time; typing once per change.
TEST_F(ControlsTest, SetWindowTextNotifiesEveryTimeEvenWithEqualText)
{
    page.editA.SetWindowText(u"abc");
    ASSERT_EQ(log.size(), 1u);  // before SetWindowText returned
    page.editA.SetWindowText(u"abc");
    page.editA.SetWindowText(u"");
    page.editA.SetWindowText(u"");
    EXPECT_EQ(Only("EN_CHANGE"), std::vector<Event>(4, Event{"EN_CHANGE", kEditA, 0, "A"}));
    EXPECT_EQ(page.editA.GetWindowText(), u"");
}

TEST_F(ControlsTest, TypingNotifiesOncePerChangeAndKeysThatChangeNothingNotNotAtAll)
{
    QLineEdit* edit = Line(page.editA);
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, "ab");
    EXPECT_EQ(Only("EN_CHANGE").size(), 2u);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(Only("EN_CHANGE").size(), 3u);
    QTest::keyClick(edit, Qt::Key_Left);  // moves the cursor only
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Backspace);  // nothing before the cursor
    EXPECT_EQ(Only("EN_CHANGE").size(), 3u);
    EXPECT_EQ(page.editA.GetWindowText(), u"a");
}

TEST_F(ControlsTest, NotificationsOfOtherEditsCarryTheirOwnIds)
{
    QTest::keyClicks(Line(page.editB), "x");
    page.limited.SetWindowText(u"y");
    EXPECT_EQ(log, (std::vector<Event>{{"EN_CHANGE", kEditB, 0, "A"}, {"EN_CHANGE", kLimited, 0, "A"}}));
}

// Nested notifications: editA's handler sets editB's text, which notifies synchronously,
// and afterwards still finds its own id in the current message.
TEST_F(ControlsTest, CurrentMessageStaysRightWhenNotificationsNest)
{
    page.onEditAChange = [](TestPage& p) { p.editB.SetWindowText(u"inner"); };
    page.editA.SetWindowText(u"outer");
    EXPECT_EQ(log, (std::vector<Event>{{"EN_CHANGE", kEditB, 0, "A"}, {"EN_CHANGE", kEditA, 0, "A"}}));
    EXPECT_EQ(fw::Wnd::GetCurrentMessage(), nullptr);
}

// A handler that rewrites the text the user typed (as a key field shows it in capitals) is
// notified of its own text too; the user's next change is a change like any other.
TEST_F(ControlsTest, HandlerRewritingTypedTextKeepsCountingChanges)
{
    page.onEditAChange = [](TestPage& p) {
        const std::u16string text = p.editA.GetWindowText();
        if (text == u"a")
            p.editA.SetWindowText(u"A");
    };
    QLineEdit* edit = Line(page.editA);
    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_EQ(page.editA.GetWindowText(), u"A");
    EXPECT_EQ(Only("EN_CHANGE").size(), 2u);  // the typed "a", then the program's "A"
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_A);  // "A" becomes "a" again: a change, rewritten again
    EXPECT_EQ(page.editA.GetWindowText(), u"A");
    EXPECT_EQ(Only("EN_CHANGE").size(), 4u);
}

// 2. and 3. Program selection notifies nothing; -1 and past the end select nothing.
TEST_F(ControlsTest, ProgramSelectionNotifiesNothingAndOutOfRangeClearsIt)
{
    EXPECT_EQ(page.list.GetCount(), 14);
    EXPECT_EQ(page.list.GetCurSel(), -1);  // filled, none selected
    EXPECT_EQ(page.list.SetCurSel(13), 13);
    EXPECT_EQ(page.list.GetLBText(page.list.GetCurSel()), u"14");
    EXPECT_EQ(page.list.SetCurSel(14), fw::ComboBox::CB_ERR);
    EXPECT_EQ(page.list.GetCurSel(), -1);
    EXPECT_EQ(page.list.SetCurSel(2), 2);
    EXPECT_EQ(page.list.SetCurSel(-1), fw::ComboBox::CB_ERR);
    EXPECT_EQ(page.list.GetCurSel(), -1);
    EXPECT_EQ(page.list.SetCurSel(-7), fw::ComboBox::CB_ERR);
    EXPECT_EQ(page.list.GetWindowText(), u"");
    EXPECT_TRUE(log.empty());
}

TEST_F(ControlsTest, KeyboardChoiceSendsExactlyOneSelectionChange)
{
    page.list.SetCurSel(4);
    QTest::keyClick(Combo(page.list), Qt::Key_Down);
    EXPECT_EQ(Only("CBN_SELCHANGE"), (std::vector<Event>{{"CBN_SELCHANGE", kList, 0, "A"}}));
    EXPECT_EQ(page.list.GetCurSel(), 5);
}

TEST_F(ControlsTest, MouseChoiceFromTheDropDownSendsExactlyOneSelectionChange)
{
    QComboBox* combo = Combo(page.list);
    page.GetSafeWidget()->show();
    // The drop-down ignores a release within a double-click time of opening; a person is
    // never that fast, a test is.
    const int doubleClick = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(0);
    combo->showPopup();
    QTest::qWait(20);  // lets the drop-down's release guard (zero now) run out
    QAbstractItemView* view = combo->view();
    ASSERT_TRUE(view->isVisible());
    const QRect item = view->visualRect(view->model()->index(6, 0));
    const QPointF at(view->viewport()->width() / 2, item.center().y());
    const QPointF global = view->viewport()->mapToGlobal(at);
    QMouseEvent move(QEvent::MouseMove, at, global, Qt::NoButton, Qt::NoButton, {});
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(view->viewport(), &move);
    QApplication::sendEvent(view->viewport(), &press);
    QApplication::sendEvent(view->viewport(), &release);
    QApplication::setDoubleClickInterval(doubleClick);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(Only("CBN_SELCHANGE"), (std::vector<Event>{{"CBN_SELCHANGE", kList, 0, "A"}}));
    EXPECT_EQ(page.list.GetCurSel(), 6);
}

TEST_F(ControlsTest, ResetAndAddKeepNoSelectionAndRespectSorting)
{
    page.list.ResetContent();
    EXPECT_EQ(page.list.GetCount(), 0);
    EXPECT_EQ(page.list.AddString(u"b"), 0);
    EXPECT_EQ(page.list.AddString(u"a"), 1);  // unsorted list appends
    EXPECT_EQ(page.list.GetCurSel(), -1);
    // The sorted combo was filled "3", "1", "4", "2" and keeps them in order.
    ASSERT_EQ(page.combo.GetCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page.combo.GetLBText(i), std::u16string(1, static_cast<char16_t>(u'1' + i)));
    EXPECT_EQ(page.combo.AddString(u"10"), 1);
    EXPECT_EQ(page.combo.GetLBText(5), u"");
    EXPECT_EQ(page.combo.GetLBText(-1), u"");
    EXPECT_TRUE(log.empty());
}

// 5. Typing into the editable combo adds no entry and changes no selection, neither with
// Enter nor when the focus leaves.
TEST_F(ControlsTest, EditableComboNeverGainsEntriesFromTyping)
{
    page.GetSafeWidget()->show();
    page.combo.SetCurSel(1);
    QComboBox* combo = Combo(page.combo);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "3");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "new");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Enter);
    page.editA.GetSafeWidget()->setFocus();
    combo->lineEdit()->clearFocus();
    EXPECT_EQ(page.combo.GetCount(), 4);
    EXPECT_EQ(page.combo.GetCurSel(), 1);
    EXPECT_EQ(page.combo.GetWindowText(), u"new");
    EXPECT_TRUE(Only("CBN_SELCHANGE").empty());
    // A choice by the user is a selection like any other.
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(page.combo.GetCurSel(), 2);
    EXPECT_EQ(Only("CBN_SELCHANGE").size(), 1u);
}

// 4. The limit holds what the user types or pastes, never what the program sets.
TEST_F(ControlsTest, LimitTextLimitsTypingAndPastingNotTheProgram)
{
    page.limited.LimitText(2);
    QLineEdit* edit = Line(page.limited);
    QTest::keyClicks(edit, "abcd");
    EXPECT_EQ(page.limited.GetWindowText(), u"ab");
    EXPECT_EQ(Only("EN_CHANGE").size(), 2u);  // the refused keys notified nothing

    QApplication::clipboard()->setText(QStringLiteral("XYZ"));
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_Backspace);  // "b"
    edit->paste();
    EXPECT_EQ(page.limited.GetWindowText(), u"Xb");  // the paste cut to the room left
    EXPECT_EQ(Only("EN_CHANGE").size(), 4u);

    page.limited.SetWindowText(u"longer than two");
    EXPECT_EQ(page.limited.GetWindowText(), u"longer than two");
    edit->end(false);
    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_EQ(page.limited.GetWindowText(), u"longer than two");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(page.limited.GetWindowText(), u"longer than tw");
    EXPECT_EQ(Only("EN_CHANGE").size(), 6u);
}

TEST_F(ControlsTest, UnlimitedEditTakesLongProgramText)
{
    const std::u16string text(40000, u'x');
    page.editA.SetWindowText(text);
    EXPECT_EQ(page.editA.GetWindowText(), text);
}

// 6. A position outside the range shows clamped and reads back as set.
// The first and last rows of `image` that hold a pixel other than its top-right corner's.
std::pair<int, int> InkRows(const QImage& image)
{
    const QRgb background = image.pixel(image.width() - 1, 0);
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) {
                first = first < 0 ? y : first;
                last = y;
                break;
            }
    return {first, last};
}

// A borderless edit (the Status page's percentages) looks like the label beside it: the
// dialog's own background, and its text on the rows a label's text takes.
TEST_F(ControlsTest, ABorderlessEditIsDrawnLikeALabel)
{
    page.label.SetWindowText(u"- 40%");
    page.editB.SetWindowText(u"- 40%");
    const QImage label = page.label.GetSafeWidget()->grab().toImage();
    const QImage edit = page.editB.GetSafeWidget()->grab().toImage();
    EXPECT_EQ(edit.pixel(edit.width() - 1, 0), label.pixel(label.width() - 1, 0)) << "background";
    EXPECT_EQ(edit.pixel(edit.width() - 1, edit.height() - 1), label.pixel(label.width() - 1, 0)) << "background";
    const auto [labelTop, labelBottom] = InkRows(label);
    ASSERT_GE(labelTop, 0);
    EXPECT_EQ(InkRows(edit), std::make_pair(labelTop, labelBottom)) << "text rows";
}

TEST_F(ControlsTest, ProgressBarShowsOutOfRangePositionsClamped)
{
    auto* bar = qobject_cast<QProgressBar*>(page.bar.GetSafeWidget());
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isTextVisible());
    page.bar.SetRange(0, 15);
    page.bar.SetPos(16);
    EXPECT_EQ(bar->value(), 15);
    EXPECT_EQ(page.bar.GetPos(), 16);
    page.bar.SetPos(255);
    EXPECT_EQ(bar->value(), 15);
    page.bar.SetPos(-3);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(page.bar.GetPos(), -3);
    page.bar.SetPos(7);
    EXPECT_EQ(bar->value(), 7);
    page.bar.SetRange(0, 5);
    EXPECT_EQ(bar->value(), 5);
    EXPECT_EQ(page.bar.GetRangeLower(), 0);
    EXPECT_EQ(page.bar.GetRangeUpper(), 5);
}

TEST_F(ControlsTest, ButtonClicksRouteAndDisabledButtonsStaySilent)
{
    page.apply.Click();
    EXPECT_EQ(log, (std::vector<Event>{{"BN_CLICKED", kApply, 0, "A"}}));
    page.apply.EnableWindow(fw::Enable::Off);
    EXPECT_FALSE(page.apply.IsWindowEnabled());
    page.apply.Click();
    QTest::mouseClick(page.apply.GetSafeWidget(), Qt::LeftButton);
    EXPECT_EQ(log.size(), 1u);
    auto* button = qobject_cast<QPushButton*>(page.apply.GetSafeWidget());
    EXPECT_FALSE(button->autoDefault());
}

TEST_F(ControlsTest, ShowAndHideAreTheProgramsNotTheWindows)
{
    // The page itself is not on screen, yet its controls count as shown.
    EXPECT_TRUE(page.editA.IsWindowVisible());
    page.editA.ShowWindow(fw::Show::Hide);
    EXPECT_FALSE(page.editA.IsWindowVisible());
    page.editA.ShowWindow(fw::Show::Normal);
    EXPECT_TRUE(page.editA.IsWindowVisible());
    EXPECT_EQ(page.label.GetWindowText(), u"Network Name");
}

TEST_F(ControlsTest, WrappersLetGoWhenTheWindowGoes)
{
    page.DestroyWindow();
    EXPECT_FALSE(page.editA.IsAttached());
    EXPECT_EQ(page.editA.GetSafeWidget(), nullptr);
    page.editA.SetWindowText(u"ignored");
    EXPECT_EQ(page.list.SetCurSel(1), fw::ComboBox::CB_ERR);
    EXPECT_EQ(page.list.GetCurSel(), -1);
    EXPECT_TRUE(Only("EN_CHANGE").empty());
}

TEST(UnattachedControls, AnswerEmptyValues)
{
    fw::Edit edit;
    fw::ComboBox combo;
    fw::ProgressBar bar;
    edit.SetWindowText(u"x");
    edit.LimitText(3);
    EXPECT_EQ(edit.GetWindowText(), u"");
    EXPECT_FALSE(edit.IsWindowVisible());
    EXPECT_EQ(combo.AddString(u"a"), fw::ComboBox::CB_ERR);
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(combo.GetCount(), 0);
    bar.SetPos(4);
    EXPECT_EQ(bar.GetPos(), 0);
}

} // namespace
} // namespace fwtest
