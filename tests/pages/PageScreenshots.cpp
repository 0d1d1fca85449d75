// Takes the README's pictures of the Status and Configuration pages with live data from the
// simulated card: <folder>/status.png and <folder>/configuration.png. Run it under a display:
//
//   xvfb-run -a -s "-screen 0 800x600x24" build/tests/pages/page_screenshots docs
//
// It runs the real start-up on a private registry file and a private block served by
// wlan-cardsim (from $WLAN_CARDSIM, else the one built with it) in the ETSI domain, with the
// driver set to join the "Workbench" peer-to-peer cell on channel 3. The Status page is taken
// once it shows that cell; the Configuration page once the card's channel list has arrived,
// with the Channel list open to show it. Nothing of the user's set-up is read or written.
#include "app/nApp.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"
#include "pages/nPConfig.h"
#include "pages/nPLinkInfo.h"
#include "support/CardsimProcess.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace {

using namespace std::chrono_literals;

std::filesystem::path folder;
bool saved = true;

// The driver set to join the simulator's "Workbench" cell on channel 3.
constexpr char kWorkbenchRegistry[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                                      "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n"
                                      "\"NetworkType\"=dword:00000000\r\n"
                                      "\"SSID\"=\"Workbench\"\r\n"
                                      "\"TxRate\"=dword:0000000f\r\n"
                                      "\"PSMode\"=dword:00000002\r\n"
                                      "\"DSChannel\"=dword:00000003\r\n"
                                      "\"WepReq\"=dword:00000000\r\n"
                                      "\"DefaultKeys\"=\"\"\r\n"
                                      "\"DefaultKeyId\"=dword:00000001\r\n"
                                      "\r\n";

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `condition` holds or ten seconds have passed.
bool WaitFor(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < end)
        Wait(50);
    return condition();
}

void Save(const QPixmap& picture, const char* name)
{
    const std::string file = (folder / name).string();
    saved = picture.save(QString::fromStdString(file)) && saved;
    std::printf("%s\n", file.c_str());
}

// The screen's pixels under the sheet's frame and, when open, the Channel list's popup, on a
// transparent ground: nothing of the empty screen around them.
QPixmap GrabWithPopup(QWidget* window, QComboBox* combo)
{
    std::vector<QRect> parts{window->frameGeometry()};
    if (QWidget* popup = combo ? combo->view()->window() : nullptr; popup && popup->isVisible())
        parts.push_back(popup->frameGeometry());
    QRect area;
    for (const QRect& part : parts)
        area = area.united(part);
    QPixmap picture(area.size());
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    for (const QRect& part : parts)
        painter.drawPixmap(part.topLeft() - area.topLeft(),
                           window->screen()->grabWindow(0, part.x(), part.y(), part.width(), part.height()));
    return picture;
}

void TakePictures(fw::PropertySheet& sheet)
{
    QWidget* window = sheet.GetSafeWidget();
    auto* status = static_cast<nPLinkInfo*>(sheet.GetPage(0));
    auto* config = static_cast<nPConfig*>(sheet.GetPage(1));

    sheet.SetActivePage(0);
    if (!WaitFor([&] { return status->linkStateEdit.GetWindowText().starts_with(u"BSSID = "); }))
        std::fprintf(stderr, "page_screenshots: no link shown on the Status page\n");
    Wait(600);  // one more tick, so the bars have moved with the signal
    Save(window->grab(), "status.png");

    sheet.SetActivePage(1);
    if (!WaitFor([&] { return config->channelCount > 0; }))
        std::fprintf(stderr, "page_screenshots: no channel list arrived\n");
    auto* channels = qobject_cast<QComboBox*>(config->channelCombo.GetSafeWidget());
    if (channels)
        channels->showPopup();
    Wait(400);
    Save(GrabWithPopup(window, channels), "configuration.png");
    if (channels)
        channels->hidePopup();
    window->close();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);

    // A private registry file, block and socket folder, served by the simulator in the ETSI
    // domain.
    const testenv::CardsimProcess simulator({"--domain", "etsi", "--seed", "11"}, kWorkbenchRegistry);
    if (!simulator.Block()) {
        std::fprintf(stderr, "page_screenshots: the simulator does not answer\n%s", simulator.Log().c_str());
        return 1;
    }

    fw::PropertySheet::SetShownHook([](fw::PropertySheet& sheet) {
        QTimer::singleShot(0, sheet.GetSafeWidget(), [&sheet] { TakePictures(sheet); });
    });
    (void)theApp.GetRuntimeClass();
    char* args[] = {argv[0], nullptr};
    fw::AppMain(1, args);

    return saved ? 0 : 1;
}
