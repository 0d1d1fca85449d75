// The framework's main routine with a registered application object. Each case builds and
// ends its own QApplication, so this executable has no Qt test main.
#include "framework/Dialog.h"
#include "framework/WinApp.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr fw::DialogTemplate kMain{1, u"Main", 50, 40, u"System", 8, {}, {}};

enum class Ending { ReturnFalse, ReturnTrueWithoutWindow, ReturnTrueWithWindow };

class ProbeApp : public fw::WinApp {
public:
    bool InitInstance() override
    {
        ++calls;
        hadApplication = qApp != nullptr;
        if (ending != Ending::ReturnTrueWithWindow)
            return ending == Ending::ReturnTrueWithoutWindow;
        // The main window exists, a loop runs, and destroying the window ends it.
        mainDialog = std::make_unique<fw::Dialog>(kMain);
        mainDialog->Create();
        m_pMainWnd = mainDialog.get();
        QTimer::singleShot(0, [this] { mainDialog->DestroyWindow(); });
        return true;
    }

    Ending ending = Ending::ReturnFalse;
    int calls = 0;
    bool hadApplication = false;
    std::unique_ptr<fw::Dialog> mainDialog;
};

ProbeApp theProbe;  // registered during static initialisation, as the application's is

int RunAppMain()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char name[] = "test";
    char* argv[] = {name, nullptr};
    return fw::AppMain(1, argv);
}

TEST(AppMain, CallsTheRegisteredObjectAndEndsWhenItReturnsFalse)
{
    ASSERT_EQ(fw::WinApp::Instance(), &theProbe);
    theProbe.calls = 0;
    theProbe.ending = Ending::ReturnFalse;
    EXPECT_EQ(RunAppMain(), 0);
    EXPECT_EQ(theProbe.calls, 1);
    EXPECT_TRUE(theProbe.hadApplication);
    EXPECT_EQ(qApp, nullptr);  // the application is gone when the routine returns
}

TEST(AppMain, RunsNoLoopWithoutAMainWindow)
{
    theProbe.ending = Ending::ReturnTrueWithoutWindow;
    EXPECT_EQ(RunAppMain(), 0);
}

TEST(AppMain, RunsTheLoopUntilTheMainWindowIsDestroyed)
{
    theProbe.ending = Ending::ReturnTrueWithWindow;
    EXPECT_EQ(RunAppMain(), 0);
    EXPECT_EQ(theProbe.m_pMainWnd, nullptr);
    theProbe.mainDialog.reset();
}

} // namespace
