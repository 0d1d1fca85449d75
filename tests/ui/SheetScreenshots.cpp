// Takes a picture of each of the four pages of the "Setup" sheet, as the utility shows them,
// into <folder>/sheet-status.png, sheet-configuration.png, sheet-encryption.png and
// sheet-about.png (also about.png). Run it under a display, for example:
//
//   xvfb-run -a -s "-screen 0 800x600x24" build/tests/ui/sheet_screenshots docs
//
// It runs the real start-up on a private registry file holding an example configuration and a
// private block, served by the simulated card (wlan-cardsim, from $WLAN_CARDSIM or next to
// this tool in the build tree) so that the Status page shows a live link. Nothing of the
// user's set-up is read or written.
#include "app/nApp.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"
#include "platform/RegistryKey.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

void WriteExampleSettings()
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
    // The simulator's "Harbour" network: an access point on channel 1 with 64-bit WEP keys
    // made from the passphrase "harbour", key 1 the default.
    dword(u"NetworkType", 1);
    text(u"SSID", u"Harbour");
    dword(u"TxRate", 15);
    dword(u"PSMode", 1);
    dword(u"DSChannel", 1);
    dword(u"WepReq", 2);
    text(u"DefaultKeys", u"8d2fddc61e0dcd931d1db2e8560f4a181bf72700");
    dword(u"DefaultKeyId", 1);
    key->Close();
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::filesystem::path folder;
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
        const std::string file = (folder / (std::string("sheet-") + names[i] + ".png")).string();
        saved = picture.save(QString::fromStdString(file)) && saved;
        if (i == 3)
            saved = picture.save(QString::fromStdString((folder / "about.png").string())) && saved;
        std::printf("%s\n", file.c_str());
    }
    window->close();
}


// The simulated card, or empty when there is none to run.
std::string FindSimulator(const char* self)
{
    if (const char* given = std::getenv("WLAN_CARDSIM"))
        return given;
    std::error_code ignored;
    const auto beside = std::filesystem::canonical(self, ignored).parent_path() / "../../tools/cardsim/wlan-cardsim";
    return std::filesystem::exists(beside, ignored) ? std::filesystem::canonical(beside, ignored).string() : "";
}

// Runs a program with its output thrown away.
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
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    return spawned == 0 ? pid : -1;
}

// Starts the simulator and waits, up to a deadline, until it answers on its control socket.
pid_t StartSimulator(const std::string& simulator)
{
    const pid_t pid = Spawn({simulator});
    if (pid < 0)
        return pid;
    for (int attempt = 0; attempt < 50; ++attempt) {
        int status = 0;
        const pid_t ctl = Spawn({simulator, "ctl", "status"});
        if (ctl > 0 && waitpid(ctl, &status, 0) == ctl && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return pid;
        usleep(100 * 1000);
    }
    std::fprintf(stderr, "sheet_screenshots: the simulator does not answer; the Status page will be empty\n");
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

    char privateDir[] = "/tmp/wlan-shots-XXXXXX";
    if (!mkdtemp(privateDir))
        return 1;
    setenv("WLAN_REGISTRY_FILE", (std::string(privateDir) + "/registry.reg").c_str(), 1);
    setenv("WLAN_CONNECT_BLOCK", ("/wlan-shots-" + std::to_string(getpid())).c_str(), 1);
    WriteExampleSettings();

    pid_t simulator = -1;
    if (const std::string path = FindSimulator(argv[0]); !path.empty())
        simulator = StartSimulator(path);

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
    return saved ? 0 : 1;
}
