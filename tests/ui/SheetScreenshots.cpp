// Takes a picture of each of the four pages of the "Setup" sheet, as the utility shows them,
// into <folder>/sheet-status.png, sheet-configuration.png, sheet-encryption.png and
// sheet-about.png (also about.png). Run it under a display, for example:
//
//   xvfb-run -a -s "-screen 0 800x600x24" build/tests/ui/sheet_screenshots docs
//
// It runs the real start-up. Without WLAN_REGISTRY_FILE it uses a private registry file with
// an example configuration; without WLAN_CONNECT_BLOCK a private block, so the Status page
// shows live values only when a connection service serves the block named in the environment.
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
#include <unistd.h>

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
    dword(u"NetworkType", 1);
    text(u"SSID", u"Office");
    dword(u"TxRate", 15);
    dword(u"PSMode", 0);
    dword(u"DSChannel", 6);
    dword(u"WepReq", 1);
    text(u"DefaultKeys", u"0102030405060708090a0b0c0d0e0f1011121314");
    dword(u"DefaultKeyId", 0);
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
    const bool ownRegistry = !std::getenv("WLAN_REGISTRY_FILE");
    if (ownRegistry) {
        if (!mkdtemp(privateDir))
            return 1;
        setenv("WLAN_REGISTRY_FILE", (std::string(privateDir) + "/registry.reg").c_str(), 1);
        WriteExampleSettings();
    }
    if (!std::getenv("WLAN_CONNECT_BLOCK"))
        setenv("WLAN_CONNECT_BLOCK", ("/wlan-shots-" + std::to_string(getpid())).c_str(), 1);

    fw::PropertySheet::SetShownHook([](fw::PropertySheet& sheet) {
        QTimer::singleShot(0, sheet.GetSafeWidget(), [&sheet] { TakePictures(sheet); });
    });
    (void)theApp.GetRuntimeClass();
    char* args[] = {argv[0], nullptr};
    fw::AppMain(1, args);

    if (ownRegistry)
        std::filesystem::remove_all(privateDir);
    return saved ? 0 : 1;
}
