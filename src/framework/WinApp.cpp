#include "framework/WinApp.h"

#include "framework/SignalCloser.h"
#include "framework/Wnd.h"
#include "framework/WndImpl.h"

#include <QApplication>

namespace fw {

FW_IMPLEMENT_DYNAMIC(WinApp, Object)

namespace {

// Zero before any constructor runs (constant initialisation), so the one application object
// can register itself during static initialisation in whatever order it comes.
WinApp* theInstance = nullptr;
bool mainLoopRuns = false;

} // namespace

WinApp::WinApp()
{
    if (!theInstance)
        theInstance = this;
}

WinApp::~WinApp()
{
    if (theInstance == this)
        theInstance = nullptr;
}

bool WinApp::InitInstance()
{
    return true;
}

WinApp* WinApp::Instance()
{
    return theInstance;
}

int AppMain(int argc, char** argv)
{
    QApplication application(argc, argv);
    // From here on a closing signal ends the program through its windows, never mid-way.
    const SignalCloser closer;
    WinApp* app = WinApp::Instance();
    if (!app || !app->InitInstance())
        return 0;
    // A classic application runs its message loop while its main window lives; without one
    // there is nothing to run for.
    if (!app->m_pMainWnd || !app->m_pMainWnd->HasWindow())
        return 0;
    mainLoopRuns = true;
    const int status = QApplication::exec();
    mainLoopRuns = false;
    return status;
}

void MainWindowDestroyed()
{
    // As in a classic application, the end of the main window ends the message loop.
    if (mainLoopRuns)
        QCoreApplication::quit();
}

} // namespace fw
