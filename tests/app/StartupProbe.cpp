// The utility as a process, with a hook that closes its sheet once it is shown, by the
// control named on the command line (ok, cancel or window), or leaves it open ("wait") for a
// signal to end it ("wait-box": with a failed save's box open over it). It writes what it sees, a line
// per event, to stdout for the start-up test: every window shown, the sheet's tabs, the close,
// each release step of the block with the state around it, and the end.
#include "app/nApp.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"
#include "ui/SheetDriver.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTabBar>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class ShowWatch : public QObject {
public:
    explicit ShowWatch(QObject* parent) : QObject(parent) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->isWindow())
                Say("show " + widget->windowTitle().toStdString());
        return false;
    }
};

// Installed as the application object of Qt is built, before the utility creates any window.
void WatchShows()
{
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new ShowWatch(app));
}
Q_COREAPP_STARTUP_FUNCTION(WatchShows)

QPointer<QWidget> sheetWindow;
QPointer<QWidget> mainWindow;

std::string Gone(const char* what, const QPointer<QWidget>& window)
{
    return std::string(what) + (window.isNull() ? " gone" : " alive");
}

void SayReleaseSteps()
{
    theApp.releaseObserver = [](nApp::Release step) {
        const std::string mapping = theApp.connectMapping.IsOpen() ? "mapping open" : "mapping closed";
        Say(std::string(step == nApp::Release::ViewUnmapped ? "view unmapped" : "mapping closed") + ": " +
            Gone("sheet", sheetWindow) + ", " + Gone("main dialog", mainWindow) + ", " + mapping);
    };
}

enum class FailedSave { None, BoxOpen };

int RunUntilSignalled(char* program, FailedSave failedSave)
{
    static FailedSave before;
    before = failedSave;
    fw::PropertySheet::SetShownHook([](fw::PropertySheet& sheet) {
        sheetWindow = sheet.GetSafeWidget();
        if (theApp.m_pMainWnd)
            mainWindow = theApp.m_pMainWnd->GetSafeWidget();
        if (before == FailedSave::None) {
            Say("waiting");
            return;
        }
        // As an Apply over a registry file the store refuses: the failed save's box shows
        // over the sheet once control is back in the loop, and the signal comes while it is open.
        theApp.SaveSettings();
        QTimer::singleShot(0, [] {
            const bool open = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
            Say(open ? "box open" : "no box");
            Say("waiting");
        });
    });
    SayReleaseSteps();
    char* args[] = {program, nullptr};
    const int status = fw::AppMain(1, args);
    Say("ended");
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    using sheetdriver::CloseBy;
    if (argc > 1 && std::strcmp(argv[1], "wait") == 0)
        return RunUntilSignalled(argv[0], FailedSave::None);
    if (argc > 1 && std::strcmp(argv[1], "wait-box") == 0)
        return RunUntilSignalled(argv[0], FailedSave::BoxOpen);
    CloseBy how = CloseBy::Ok;
    if (argc > 1 && std::strcmp(argv[1], "cancel") == 0)
        how = CloseBy::Cancel;
    else if (argc > 1 && std::strcmp(argv[1], "window") == 0)
        how = CloseBy::Window;

    sheetdriver::WhenShown when(
        [how](fw::PropertySheet& sheet) {
            sheetWindow = sheet.GetSafeWidget();
            if (theApp.m_pMainWnd)
                mainWindow = theApp.m_pMainWnd->GetSafeWidget();
            std::string tabs = "tabs";
            if (QTabBar* bar = sheetdriver::FindTabBar(sheet.GetSafeWidget())) {
                for (int i = 0; i < bar->count(); ++i)
                    tabs += " " + bar->tabText(i).toStdString();
                tabs += ", current " + std::to_string(bar->currentIndex());
            }
            Say(tabs);
            Say(std::string("settings NetworkType ") + std::to_string(theApp.NetworkType) + " DSChannel " +
                std::to_string(theApp.DSChannel));
            Say(std::string("closing by ") + sheetdriver::Name(how));
        },
        how);

    SayReleaseSteps();

    // The utility takes no command line.
    char* args[] = {argv[0], nullptr};
    const int status = fw::AppMain(1, args);
    Say("ended");
    return status;
}
