// The main dialog "Wireless LAN Utility": it runs the sheet while it initialises, owns it,
// and is never displayed; its modal run ends as soon as the sheet has closed.
#include "ui/nDlg.h"

#include "app/nApp.h"
#include "link/ConnectBlock.h"
#include "support/TestEnvironment.h"
#include "ui/AppIcon.h"
#include "ui/SheetDriver.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using sheetdriver::CloseBy;
using sheetdriver::WhenShown;

constexpr const char* kMainCaption = "Wireless LAN Utility";

// Notes the caption of every window that is shown, whichever widget it is.
class ShowWatch : public QObject {
public:
    ShowWatch() { qApp->installEventFilter(this); }
    ~ShowWatch() override { qApp->removeEventFilter(this); }

    std::vector<std::string> shown;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->isWindow())
                shown.push_back(widget->windowTitle().toStdString());
        return false;
    }
};

// Pixels of `shown` that differ from the icon image's palette colours (any fully transparent
// pixel matches the transparent background).
int CountDifferences(const QImage& shown, const fw::IconImage& image)
{
    if (shown.size() != QSize(image.size, image.size))
        return image.size * image.size;
    int differences = 0;
    for (int y = 0; y < image.size; ++y)
        for (int x = 0; x < image.size; ++x) {
            const QRgb want = image.palette[image.pixels[static_cast<size_t>(y * image.size + x)]];
            const QRgb got = shown.pixel(x, y);
            const bool same = qAlpha(want) == 0 ? qAlpha(got) == 0 : got == want;
            differences += same ? 0 : 1;
        }
    return differences;
}

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousView_ = theApp.connectView;
        theApp.connectView = &block_;
        watchdog_.setSingleShot(true);
        QObject::connect(&watchdog_, &QTimer::timeout, [] {
            ADD_FAILURE() << "the sheet was still open after the deadline";
            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
        });
        watchdog_.start(20000);
    }

    void TearDown() override
    {
        theApp.connectView = previousView_;
        theApp.m_pMainWnd = nullptr;
    }

    ConnectBlock block_{};
    testenv::TempDir dir_;
    testenv::ScopedEnv registry_{"WLAN_REGISTRY_FILE", (dir_ / "registry.reg").string()};

private:
    ConnectBlock* previousView_ = nullptr;
    QTimer watchdog_;
};

class MainDialogCloseTest : public MainDialogTest, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(MainDialogCloseTest, RunsTheSheetAndEndsWithItNeverShown)
{
    ShowWatch watch;
    QPointer<QWidget> dialogWindow;
    QPointer<QWidget> sheetWindow;
    bool dialogVisible = true;
    {
        nDlg dlg(nullptr);
        theApp.m_pMainWnd = &dlg;
        WhenShown when(
            [&](fw::PropertySheet& sheet) {
                dialogWindow = dlg.GetSafeWidget();
                sheetWindow = sheet.GetSafeWidget();
                dialogVisible = dialogWindow && dialogWindow->isVisible();
            },
            GetParam());
        dlg.DoModal();

        EXPECT_EQ(when.Shows(), 1);
        EXPECT_TRUE(when.ClosedAsAsked());
        // Its window was destroyed when the sheet returned, which ended its own run.
        EXPECT_FALSE(dlg.HasWindow());
        theApp.m_pMainWnd = nullptr;
    }
    EXPECT_FALSE(dialogVisible);
    EXPECT_TRUE(dialogWindow.isNull());
    EXPECT_TRUE(sheetWindow.isNull());
    EXPECT_EQ(watch.shown, std::vector<std::string>{"Setup"});
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << "left on screen: " << w->windowTitle().toStdString();
}

INSTANTIATE_TEST_SUITE_P(EachClosingControl, MainDialogCloseTest,
                         ::testing::Values(CloseBy::Ok, CloseBy::Cancel, CloseBy::Window),
                         [](const auto& info) { return std::string(info.param == CloseBy::Ok       ? "OK"
                                                                   : info.param == CloseBy::Cancel ? "Cancel"
                                                                                                   : "Window"); });

TEST_F(MainDialogTest, OwnsTheSheetAndCarriesTheIconCentredOnTheScreen)
{
    nDlg dlg(nullptr);
    theApp.m_pMainWnd = &dlg;
    bool checked = false;
    WhenShown when(
        [&](fw::PropertySheet& sheet) {
            QWidget* dialog = dlg.GetSafeWidget();
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle().toStdString(), kMainCaption);
            // Created without a parent, the sheet is owned by the application's main window.
            EXPECT_EQ(sheet.GetSafeWidget()->parentWidget(), dialog);

            const QList<QSize> sizes = dialog->windowIcon().availableSizes();
            EXPECT_TRUE(sizes.contains(QSize(16, 16)));
            EXPECT_TRUE(sizes.contains(QSize(32, 32)));
            // The icon shows as drawn, and the sheet, the one window on screen, carries it too.
            for (const fw::IconImage& image : kAppIcon.images) {
                const QImage shown = dialog->windowIcon().pixmap(image.size, image.size).toImage();
                ASSERT_EQ(shown.size(), QSize(image.size, image.size));
                EXPECT_EQ(CountDifferences(shown, image), 0) << image.size << " x " << image.size;
                const QImage onSheet = sheet.GetSafeWidget()->windowIcon().pixmap(image.size, image.size).toImage();
                EXPECT_EQ(CountDifferences(onSheet, image), 0) << "on the sheet, " << image.size;
            }

            const QRect screen = dialog->screen()->availableGeometry();
            const QPoint offset = dialog->geometry().center() - screen.center();
            EXPECT_LE(offset.manhattanLength(), 2) << "centre off by (" << offset.x() << "," << offset.y() << ")";
            checked = true;
        },
        CloseBy::Ok);
    dlg.DoModal();
    theApp.m_pMainWnd = nullptr;
    EXPECT_TRUE(checked);
}

TEST_F(MainDialogTest, LoadsIconAtConstructionAndCarriesItsRecord)
{
    nDlg dlg(nullptr);
    EXPECT_FALSE(dlg.appIcon.IsNull());
    EXPECT_FALSE(dlg.HasWindow());
    EXPECT_EQ(dlg.GetTemplate().id, 102);
    EXPECT_EQ(nDlg::runtimeClass.className, "nDlg");
    EXPECT_TRUE(dlg.IsKindOf(&fw::Dialog::runtimeClass));
}

} // namespace
