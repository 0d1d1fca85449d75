// Takes a picture of each of the four pages of the "Setup" sheet, as the utility shows them,
// into <folder>/sheet-status.png, sheet-configuration.png, sheet-encryption.png and
// sheet-about.png (also about.png). Run it under a display, for example:
//
//   xvfb-run -a -s "-screen 0 800x600x24" build/tests/ui/sheet_screenshots docs
//
// --suffix S names the pictures sheet-status<S>.png and so on (and leaves about.png alone);
// --large-font gives the desktop a font twice its usual size, as a person who needs large
// text sets it. A dense screen is Qt's own setting:
//
//   xvfb-run -a -s "-screen 0 1600x1200x24" env QT_SCALE_FACTOR=2 build/tests/ui/sheet_screenshots docs --suffix -scale2
//   xvfb-run -a -s "-screen 0 1600x1200x24" build/tests/ui/sheet_screenshots docs --suffix -large-font --large-font
//
// It runs the real start-up on a private registry file holding an example configuration and a
// private block, served by the simulated card (wlan-cardsim, from $WLAN_CARDSIM, else the one
// built with it) so that the Status page shows a live link. Nothing of the user's set-up is
// read or written.
#include "app/nApp.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"
#include "support/CardsimProcess.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QEventLoop>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// The simulator's "Harbour" network: an access point on channel 1 with the 64-bit WEP keys
// made from the passphrase "harbour", key 1 the default.
constexpr char kHarbourRegistry[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                                    "\"NetworkType\"=dword:00000001\r\n"
                                    "\"SSID\"=\"Harbour\"\r\n"
                                    "\"TxRate\"=dword:0000000f\r\n"
                                    "\"PSMode\"=dword:00000001\r\n"
                                    "\"DSChannel\"=dword:00000001\r\n"
                                    "\"WepReq\"=dword:00000002\r\n"
                                    "\"DefaultKeys\"=\"8d2fddc61e0dcd931d1db2e8560f4a181bf72700\"\r\n"
                                    "\"DefaultKeyId\"=dword:00000001\r\n"
                                    "\r\n";

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::filesystem::path folder;
std::string suffix;
bool saved = true;

void TakePictures(fw::PropertySheet& sheet)
{
    static const char* const names[] = {"status", "configuration", "encryption", "about"};
    QWidget* window = sheet.GetSafeWidget();
    for (int i = 0; i < sheet.GetPageCount() && i < 4; ++i) {
        sheet.SetActivePage(i);
        // The Status page shows what the service answers at its next ticks.
        Wait(i == 0 ? 1500 : 200);
        const QPixmap picture = window->grab();
        const std::string file = (folder / (std::string("sheet-") + names[i] + suffix + ".png")).string();
        saved = picture.save(QString::fromStdString(file)) && saved;
        if (i == 3 && suffix.empty())
            saved = picture.save(QString::fromStdString((folder / "about.png").string())) && saved;
        std::printf("%s\n", file.c_str());
    }
    window->close();
}


} // namespace

int main(int argc, char** argv)
{
    bool largeFont = false;
    int arg = 1;
    if (arg < argc)
        folder = argv[arg++];
    for (; arg < argc; ++arg) {
        const std::string option = argv[arg];
        if (option == "--large-font")
            largeFont = true;
        else if (option == "--suffix" && arg + 1 < argc)
            suffix = argv[++arg];
        else
            folder.clear();
    }
    if (folder.empty()) {
        std::fprintf(stderr, "usage: %s <folder> [--suffix S] [--large-font]\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(folder);
    if (largeFont) {
        // The desktop's font, before the application reads it: twice Qt's usual 9 points.
        QFont font(QStringLiteral("Sans Serif"));
        font.setPointSize(18);
        QApplication::setFont(font);
    }

    // A private registry file, block and socket folder, served by the simulator.
    const testenv::CardsimProcess simulator({}, kHarbourRegistry);
    if (!simulator.Block())
        std::fprintf(stderr, "sheet_screenshots: the simulator does not answer; the Status page will be empty\n");

    fw::PropertySheet::SetShownHook([](fw::PropertySheet& sheet) {
        QTimer::singleShot(0, sheet.GetSafeWidget(), [&sheet] { TakePictures(sheet); });
    });
    (void)theApp.GetRuntimeClass();
    char* args[] = {argv[0], nullptr};
    fw::AppMain(1, args);

    return saved ? 0 : 1;
}
