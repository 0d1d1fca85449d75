// Start-up cost of the utility against a bare Qt dialog with one tab widget of four tabs,
// built and closed the same way. Each is run as a child process of this program, several
// times in turn; the figures are the medians of the wall time from spawning the child to the
// first show of its window, and of the child's peak resident set, reported as ratios.
//
//   bench_startup [--runs N]      (offscreen unless QT_QPA_PLATFORM or a display says otherwise)

#include "app/nApp.h"
#include "framework/PropertySheet.h"
#include "framework/WinApp.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QMetaObject>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// ---- The children ---------------------------------------------------------------------------

// Tells the parent, once, that the window is on screen.
void SignalShown(int fd)
{
    static bool told = false;
    if (told)
        return;
    told = true;
    const char byte = 1;
    (void)!write(fd, &byte, 1);
    close(fd);
}

int RunUtility(int fd, char* program)
{
    fw::PropertySheet::SetShownHook([fd](fw::PropertySheet& sheet) {
        SignalShown(fd);
        QMetaObject::invokeMethod(sheet.GetSafeWidget(), &QWidget::close, Qt::QueuedConnection);
    });
    // The application object is what AppMain runs; naming it keeps it in the link.
    (void)theApp.GetRuntimeClass();
    char* args[] = {program, nullptr};
    return fw::AppMain(1, args);
}

class ShowFilter : public QObject {
public:
    explicit ShowFilter(int fd) : fd_(fd) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            SignalShown(fd_);
            QMetaObject::invokeMethod(static_cast<QWidget*>(object), &QWidget::close, Qt::QueuedConnection);
        }
        return false;
    }

private:
    int fd_;
};

int RunBare(int fd, char* program)
{
    int argc = 1;
    char* args[] = {program, nullptr};
    QApplication app(argc, args);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Setup"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* tabs = new QTabWidget;
    for (const char* caption : {"Status", "Configuration", "Encryption", "About"})
        tabs->addTab(new QWidget, QString::fromLatin1(caption));
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    ShowFilter filter(fd);
    dialog.installEventFilter(&filter);
    dialog.exec();
    return 0;
}

// ---- The parent -----------------------------------------------------------------------------

struct Sample {
    double ms = 0;
    double mb = 0;
    bool ok = false;
};

Sample Measure(const char* self, const char* kind)
{
    Sample sample;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return sample;
    const std::string fd = std::to_string(pipeFds[1]);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(kind), const_cast<char*>(fd.c_str()), nullptr};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return sample;
    }
    close(pipeFds[1]);
    pollfd readable{pipeFds[0], POLLIN, 0};
    char byte = 0;
    if (poll(&readable, 1, 30000) == 1 && read(pipeFds[0], &byte, 1) == 1) {
        sample.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        sample.ok = true;
    } else {
        kill(pid, SIGKILL);
    }
    close(pipeFds[0]);

    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    sample.mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    sample.ok = sample.ok && WIFEXITED(status);
    return sample;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--utility") == 0)
        return RunUtility(std::atoi(argv[2]), argv[0]);
    if (argc == 3 && std::strcmp(argv[1], "--bare") == 0)
        return RunBare(std::atoi(argv[2]), argv[0]);

    int runs = 9;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));

    // A private registry file that does not exist and a private block, so the bench neither
    // reads nor disturbs a real set-up.
    char dir[] = "/tmp/wlan-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv("WLAN_REGISTRY_FILE", (std::string(dir) + "/registry.reg").c_str(), 1);
    setenv("WLAN_CONNECT_BLOCK", ("/wlan-bench-" + std::to_string(getpid())).c_str(), 1);
    // Offscreen unless asked otherwise or a display is there (xvfb-run, a desktop).
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0)
        return 1;
    self[len] = '\0';

    std::vector<double> bareMs, bareMb, utilityMs, utilityMb;
    Measure(self, "--bare");  // warm the file cache once for both
    Measure(self, "--utility");
    for (int i = 0; i < runs; ++i) {
        for (const char* kind : {"--bare", "--utility"}) {
            const Sample s = Measure(self, kind);
            if (!s.ok) {
                std::fprintf(stderr, "bench_startup: the %s child did not show its window\n", kind + 2);
                rmdir(dir);
                return 1;
            }
            (kind[2] == 'b' ? bareMs : utilityMs).push_back(s.ms);
            (kind[2] == 'b' ? bareMb : utilityMb).push_back(s.mb);
        }
    }
    rmdir(dir);

    const double bt = Median(bareMs), bm = Median(bareMb), ut = Median(utilityMs), um = Median(utilityMb);
    const double timeRatio = ut / bt, memoryRatio = um / bm;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const std::string where = platform ? std::string(platform) + " platform"
                                       : std::string("display ") + (display ? display : "(Wayland)");
    std::printf("Start-up to first show, %s, median of %d runs each\n", where.c_str(), runs);
    std::printf("  %-32s %10s %12s\n", "", "time", "peak RSS");
    std::printf("  %-32s %7.1f ms %9.1f MB\n", "bare Qt dialog, four tabs", bt, bm);
    std::printf("  %-32s %7.1f ms %9.1f MB\n", "wlan-utility", ut, um);
    std::printf("  %-32s %8.2f x %10.2f x   target 1.30 x: %s\n", "ratio", timeRatio, memoryRatio,
                timeRatio <= 1.3 && memoryRatio <= 1.3 ? "met" : "NOT MET");
    return 0;
}
