// Takes a picture of the "Setup" sheet with its Encryption page shown, as the utility starts
// with the settings of $WLAN_REGISTRY_FILE, into the PNG file named on the command line. Run
// it under a display with a private registry file and block, for example:
//
//   WLAN_REGISTRY_FILE=/tmp/x/registry.reg WLAN_CONNECT_BLOCK=/wlan-shot
//     xvfb-run -a -s "-screen 0 800x600x24" build/tests/pages/encryption_screenshot docs/encryption-64.png
#include "app/nApp.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"

#include <QEventLoop>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <string>

namespace {

constexpr int kEncryptionTab = 2;

std::string target;
bool saved = false;

void TakePicture(fw::PropertySheet& sheet)
{
    sheet.SetActivePage(kEncryptionTab);
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    QWidget* window = sheet.GetSafeWidget();
    saved = window->grab().save(QString::fromStdString(target));
    window->close();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
        return 2;
    }
    target = argv[1];
    fw::PropertySheet::SetShownHook([](fw::PropertySheet& sheet) {
        QTimer::singleShot(0, sheet.GetSafeWidget(), [&sheet] { TakePicture(sheet); });
    });
    (void)theApp.GetRuntimeClass();
    char* args[] = {argv[0], nullptr};
    fw::AppMain(1, args);
    return saved ? 0 : 1;
}
