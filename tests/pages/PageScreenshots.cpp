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
#include "platform/RegistryKey.h"

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
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::filesystem::path folder;
bool saved = true;

void WriteSettings()
{
    auto key = platform::RegistryKey::Create(kDriverParmsKey);
    if (!key)
        return;
    const auto dword = [&](std::u16string_view name, uint32_t value) {
        key->SetValue(name, platform::REG_DWORD, &value, sizeof value);
    };
    const auto text = [&](std::u16string_view name, std::u16string_view value) {
        key->SetValue(name, platform::REG_SZ, value.data(), static_cast<uint32_t>((value.size() + 1) * 2));
    };
    dword(u"NetworkType", 0);
    text(u"SSID", u"Workbench");
    dword(u"TxRate", 15);
    dword(u"PSMode", 2);
    dword(u"DSChannel", 3);
    dword(u"WepReq", 0);
    text(u"DefaultKeys", u"");
    dword(u"DefaultKeyId", 1);
    key->Close();
}

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

std::string FindSimulator(const char* self)
{
    if (const char* given = std::getenv("WLAN_CARDSIM"); given && *given)
        return given;
    std::error_code ignored;
    const auto beside = std::filesystem::canonical(self, ignored).parent_path() / "../../tools/cardsim/wlan-cardsim";
    return std::filesystem::exists(beside, ignored) ? std::filesystem::canonical(beside, ignored).string() : "";
}

pid_t Spawn(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    return failed == 0 ? pid : -1;
}

// Starts the simulator and waits, up to a deadline, until it answers on its control socket.
pid_t StartSimulator(const std::string& simulator)
{
    const pid_t pid = Spawn({simulator, "--domain", "etsi", "--seed", "11"});
    for (int attempt = 0; pid > 0 && attempt < 50; ++attempt) {
        int status = 0;
        const pid_t ctl = Spawn({simulator, "ctl", "status"});
        if (ctl > 0 && waitpid(ctl, &status, 0) == ctl && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return pid;
        usleep(100 * 1000);
    }
    std::fprintf(stderr, "page_screenshots: the simulator does not answer\n");
    return pid;
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

    char privateDir[] = "/tmp/wlan-page-shots-XXXXXX";
    if (!mkdtemp(privateDir))
        return 1;
    setenv("WLAN_REGISTRY_FILE", (std::string(privateDir) + "/registry.reg").c_str(), 1);
    setenv("WLAN_CONNECT_BLOCK", ("/wlan-page-shots-" + std::to_string(getpid())).c_str(), 1);
    setenv("XDG_RUNTIME_DIR", privateDir, 1);
    WriteSettings();

    const std::string simulatorPath = FindSimulator(argv[0]);
    const pid_t simulator = simulatorPath.empty() ? -1 : StartSimulator(simulatorPath);

    fw::PropertySheet::SetShownHook([](fw::PropertySheet& sheet) {
        QTimer::singleShot(0, sheet.GetSafeWidget(), [&sheet] { TakePictures(sheet); });
    });
    (void)theApp.GetRuntimeClass();
    char* args[] = {argv[0], nullptr};
    fw::AppMain(1, args);

    if (simulator > 0) {
        kill(simulator, SIGTERM);
        waitpid(simulator, nullptr, 0);
    }
    std::filesystem::remove_all(privateDir);
    return saved && simulator > 0 ? 0 : 1;
}
