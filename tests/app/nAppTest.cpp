// Start-up and lifetime: the settings loaded before the sheet, the block mapped while it runs
// and released after it has ended (the view before the handle), nothing written to the
// registry, and the program ending with the sheet whichever control closes it. The last
// group runs the utility as a real process.
#include "app/nApp.h"

#include "link/ConnectBlock.h"
#include "platform/RegistryKey.h"
#include "platform/SharedMemory.h"
#include "support/TestEnvironment.h"
#include "ui/SheetDriver.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using sheetdriver::CloseBy;
using sheetdriver::WhenShown;

// How many times the block is mapped into this process.
int MappingsOf(const std::string& blockName)
{
    std::ifstream maps("/proc/self/maps");
    const std::string file = "/dev/shm" + blockName;
    int count = 0;
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0)
            ++count;
    return count;
}

void WriteDriverKey(uint32_t networkType, uint32_t channel, std::u16string_view ssid)
{
    auto key = platform::RegistryKey::Create(kDriverParmsKey);
    ASSERT_TRUE(key);
    key->SetValue(u"NetworkType", platform::REG_DWORD, &networkType, sizeof networkType);
    key->SetValue(u"DSChannel", platform::REG_DWORD, &channel, sizeof channel);
    key->SetValue(u"SSID", platform::REG_SZ, ssid.data(), static_cast<uint32_t>((ssid.size() + 1) * 2));
    ASSERT_EQ(key->Close(), platform::ERROR_SUCCESS);
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        watchdog_.setSingleShot(true);
        QObject::connect(&watchdog_, &QTimer::timeout, [] {
            ADD_FAILURE() << "the sheet was still open after the deadline";
            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
        });
        watchdog_.start(20000);
        static_cast<WlanSettings&>(theApp) = WlanSettings{};
    }

    void TearDown() override { theApp.releaseObserver = {}; }

    // The connection service's side: it has created the block already and holds it open.
    void ServiceHoldsBlock()
    {
        service_ = platform::SharedMemory::CreateOrOpen(blockName_, sizeof(ConnectBlock));
        serviceView_ = platform::MappedView::Map(service_);
        ASSERT_FALSE(service_.IsPrivate());
        for (size_t i = 0; i < block::kSize; ++i)
            ServiceBytes()[i] = static_cast<uint8_t>(0xA0 + i);
    }
    uint8_t* ServiceBytes() const { return static_cast<uint8_t*>(serviceView_.Data()); }

    testenv::TempDir dir_;
    const std::filesystem::path registryFile_ = dir_ / "registry.reg";
    testenv::ScopedEnv registry_{"WLAN_REGISTRY_FILE", registryFile_.string()};
    const std::string blockName_ = testenv::UniqueBlockName();
    testenv::ScopedEnv block_{"WLAN_CONNECT_BLOCK", blockName_};
    platform::SharedMemory service_;
    platform::MappedView serviceView_;

private:
    QTimer watchdog_;
};

TEST_F(StartupTest, ReleasesTheViewThenTheHandleOnlyAfterTheSheetHasEnded)
{
    ServiceHoldsBlock();
    struct Step {
        std::string what;
        bool sheetGone, mainDialogGone, mappingOpen;
        int mappings;
    };
    std::vector<Step> steps;
    QPointer<QWidget> sheetWindow, mainWindow;
    bool sameMemory = false;

    WhenShown when(
        [&](fw::PropertySheet& sheet) {
            sheetWindow = sheet.GetSafeWidget();
            ASSERT_NE(theApp.m_pMainWnd, nullptr);
            mainWindow = theApp.m_pMainWnd->GetSafeWidget();
            steps.push_back({"shown", false, false, theApp.connectMapping.IsOpen(), MappingsOf(blockName_)});
            // The utility works on the service's block, not on a copy.
            ASSERT_NE(theApp.connectView, nullptr);
            ServiceBytes()[63] = 0x5A;
            sameMemory = reinterpret_cast<const uint8_t*>(theApp.connectView)[63] == 0x5A;
            ServiceBytes()[63] = 0xA0 + 63;
        },
        CloseBy::Ok);
    theApp.releaseObserver = [&](nApp::Release step) {
        steps.push_back({step == nApp::Release::ViewUnmapped ? "view unmapped" : "mapping closed", sheetWindow.isNull(),
                         mainWindow.isNull(), theApp.connectMapping.IsOpen(), MappingsOf(blockName_)});
    };

    EXPECT_FALSE(theApp.InitInstance());

    EXPECT_TRUE(sameMemory);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].what, "shown");
    EXPECT_TRUE(steps[0].mappingOpen);
    EXPECT_EQ(steps[0].mappings, 2);  // the service's view and the utility's
    EXPECT_EQ(steps[1].what, "view unmapped");
    EXPECT_TRUE(steps[1].sheetGone);
    EXPECT_TRUE(steps[1].mainDialogGone);
    EXPECT_TRUE(steps[1].mappingOpen);
    EXPECT_EQ(steps[1].mappings, 1);
    EXPECT_EQ(steps[2].what, "mapping closed");
    EXPECT_FALSE(steps[2].mappingOpen);
    EXPECT_EQ(steps[2].mappings, 1);

    // Nothing refers to the destroyed main dialog, and nothing is left on screen.
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << "left on screen: " << w->windowTitle().toStdString();

    // Only the mapping was released: what the service wrote outside the link request the
    // Status page made is still there, byte for byte.
    for (size_t i = 4; i < block::kSize; ++i) {
        if (i >= block::kLinkBssid && i < block::kLinkInfoEnd)
            continue;
        EXPECT_EQ(ServiceBytes()[i], static_cast<uint8_t>(0xA0 + i)) << "byte " << i;
    }
}

TEST_F(StartupTest, LoadsTheSettingsBeforeTheSheetAndWritesNothingBack)
{
    WriteDriverKey(1, 6, u"Office");
    const std::string before = testenv::ReadFile(registryFile_);
    const auto stamp = std::filesystem::last_write_time(registryFile_);

    uint32_t networkType = 0, channel = 0;
    std::u16string ssid;
    WhenShown when(
        [&](fw::PropertySheet&) {
            networkType = theApp.NetworkType;
            channel = theApp.DSChannel;
            ssid = theApp.SSID;
        },
        CloseBy::Cancel);
    EXPECT_FALSE(theApp.InitInstance());

    EXPECT_EQ(networkType, 1u);
    EXPECT_EQ(channel, 6u);
    EXPECT_EQ(ssid, u"Office");
    EXPECT_EQ(testenv::ReadFile(registryFile_), before);
    EXPECT_EQ(std::filesystem::last_write_time(registryFile_), stamp);
}

TEST_F(StartupTest, WithoutARegistryRunsOnZerosAndCreatesNoFile)
{
    WhenShown when({}, CloseBy::Window);
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(when.Shows(), 1);

    EXPECT_FALSE(std::filesystem::exists(registryFile_));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
    EXPECT_EQ(theApp.NetworkType, 0u);
    EXPECT_EQ(theApp.DSChannel, 0u);
    EXPECT_TRUE(theApp.SSID.empty());
    EXPECT_TRUE(theApp.DefaultKeys.empty());
}

TEST(AppRuntimeClass, NamesTheApplication)
{
    EXPECT_EQ(theApp.GetRuntimeClass(), &nApp::runtimeClass);
    EXPECT_EQ(nApp::runtimeClass.className, "nApp");
    EXPECT_TRUE(theApp.IsKindOf(&fw::WinApp::runtimeClass));
    EXPECT_EQ(fw::WinApp::Instance(), &theApp);
}

// ---- The utility as a process -------------------------------------------------------------

struct ProbeRun {
    int status = -1;
    std::vector<std::string> lines;
};

// Runs the probe with `how` and collects its lines; a probe still running after the deadline
// is killed, and the run fails. With a signal, the probe gets it once it says "waiting".
ProbeRun RunProbe(const char* how, int signalWhenWaiting = 0)
{
    ProbeRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(STARTUP_PROBE), const_cast<char*>(how), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, STARTUP_PROBE, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return run;
    }

    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool killed = false;
    for (;;) {
        pollfd fd{out[0], POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            char buffer[512];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
            if (signalWhenWaiting != 0 && text.find("waiting\n") != std::string::npos) {
                kill(pid, signalWhenWaiting);
                signalWhenWaiting = 0;
            }
        }
        if (!killed && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
    }
    close(out[0]);
    waitpid(pid, &run.status, 0);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        run.lines.push_back(text.substr(start, end - start));
    return run;
}

class UtilityProcessTest : public ::testing::TestWithParam<CloseBy> {
protected:
    testenv::TempDir dir_;
    const std::filesystem::path registryFile_ = dir_ / "registry.reg";
    testenv::ScopedEnv registry_{"WLAN_REGISTRY_FILE", registryFile_.string()};
    testenv::ScopedEnv block_{"WLAN_CONNECT_BLOCK", testenv::UniqueBlockName()};
    testenv::ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
};

const char* ProbeArgument(CloseBy how)
{
    return how == CloseBy::Ok ? "ok" : how == CloseBy::Cancel ? "cancel" : "window";
}

std::vector<std::string> ExpectedRun(CloseBy how, const std::string& settings)
{
    return {"show Setup",
            "tabs Status Configuration Encryption About, current 0",
            settings,
            std::string("closing by ") + sheetdriver::Name(how),
            "view unmapped: sheet gone, main dialog gone, mapping open",
            "mapping closed: sheet gone, main dialog gone, mapping closed",
            "ended"};
}

// The main dialog is never shown, the sheet is the one window, and closing it ends the
// process after the release, with the registry file untouched.
TEST_P(UtilityProcessTest, ShowsOnlyTheSheetAndEndsWhenItCloses)
{
    WriteDriverKey(1, 11, u"Lab");
    const std::string before = testenv::ReadFile(registryFile_);
    const auto stamp = std::filesystem::last_write_time(registryFile_);

    const ProbeRun run = RunProbe(ProbeArgument(GetParam()));

    ASSERT_TRUE(WIFEXITED(run.status)) << "status " << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.lines, ExpectedRun(GetParam(), "settings NetworkType 1 DSChannel 11"));
    EXPECT_EQ(testenv::ReadFile(registryFile_), before);
    EXPECT_EQ(std::filesystem::last_write_time(registryFile_), stamp);
}

TEST_P(UtilityProcessTest, WithoutARegistryStartsOnZerosAndLeavesNoFile)
{
    const ProbeRun run = RunProbe(ProbeArgument(GetParam()));

    ASSERT_TRUE(WIFEXITED(run.status)) << "status " << run.status;
    EXPECT_EQ(run.lines, ExpectedRun(GetParam(), "settings NetworkType 0 DSChannel 0"));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

// A desktop logging out (SIGTERM), a closed terminal (SIGHUP) and Ctrl-C (SIGINT) close the
// sheet as its closing controls do: the same release after it, the block's name gone, the
// registry file untouched, a clean exit.
class UtilitySignalTest : public ::testing::TestWithParam<int> {
protected:
    testenv::TempDir dir_;
    const std::filesystem::path registryFile_ = dir_ / "registry.reg";
    testenv::ScopedEnv registry_{"WLAN_REGISTRY_FILE", registryFile_.string()};
    const std::string blockName_ = testenv::UniqueBlockName();
    testenv::ScopedEnv block_{"WLAN_CONNECT_BLOCK", blockName_};
    testenv::ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
};

TEST_P(UtilitySignalTest, ClosesTheSheetReleasesTheBlockAndSavesNothing)
{
    WriteDriverKey(1, 11, u"Lab");
    const std::string before = testenv::ReadFile(registryFile_);

    const ProbeRun run = RunProbe("wait", GetParam());

    ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << (WIFSIGNALED(run.status) ? WTERMSIG(run.status) : 0);
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"show Setup", "waiting",
                                                   "view unmapped: sheet gone, main dialog gone, mapping open",
                                                   "mapping closed: sheet gone, main dialog gone, mapping closed",
                                                   "ended"}));
    EXPECT_FALSE(std::filesystem::exists("/dev/shm" + blockName_));
    EXPECT_EQ(testenv::ReadFile(registryFile_), before);
}

// The same with a failed save's box open over the sheet: the box, then the sheet behind it.
TEST_P(UtilitySignalTest, ClosesAFailedSavesBoxAndTheSheetBehindIt)
{
    const std::string refused = "not a registry file\n";
    testenv::WriteFile(registryFile_, refused);

    const ProbeRun run = RunProbe("wait-box", GetParam());

    ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << (WIFSIGNALED(run.status) ? WTERMSIG(run.status) : 0);
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"show Setup", "show Setup", "box open", "waiting",
                                                   "view unmapped: sheet gone, main dialog gone, mapping open",
                                                   "mapping closed: sheet gone, main dialog gone, mapping closed",
                                                   "ended"}));
    EXPECT_EQ(testenv::ReadFile(registryFile_), refused);
}

INSTANTIATE_TEST_SUITE_P(EachClosingSignal, UtilitySignalTest, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const auto& info) { return std::string(info.param == SIGTERM  ? "SIGTERM"
                                                                   : info.param == SIGHUP ? "SIGHUP"
                                                                                          : "SIGINT"); });

INSTANTIATE_TEST_SUITE_P(EachClosingControl, UtilityProcessTest,
                         ::testing::Values(CloseBy::Ok, CloseBy::Cancel, CloseBy::Window),
                         [](const auto& info) { return std::string(info.param == CloseBy::Ok       ? "OK"
                                                                   : info.param == CloseBy::Cancel ? "Cancel"
                                                                                                   : "Window"); });

} // namespace
