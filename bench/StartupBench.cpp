// Start-up cost of the utility against a bare Qt dialog with one tab widget of four tabs,
// built and closed the same way. Each is run as a child process of this program, several
// times in turn; the figures are the medians of the wall time from spawning the child to its
// first frame (the window mapped, its first paint done and handed to the display), of the
// processor time the child spent up to then (user and system; less swayed than the wall time
// when other programs load the machine), and of the child's peak resident set, reported as
// ratios.
//
//   bench_startup [--runs N]      (offscreen unless QT_QPA_PLATFORM or a display says otherwise)

#include "framework/WinApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QMetaObject>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWindow>
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

// The pipe to the parent, in the child.
int shownFd = -1;

// Watches every window of the child, the same way for both: at the first expose of a window
// that is on screen the child tells the parent, once, after that expose has painted and
// flushed the window, and then closes the window as a person would. What it tells is the
// processor time it has used so far, in microseconds.
class FirstFrameWatcher : public QObject {
protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* window = qobject_cast<QWindow*>(object);
        if (told_ || event->type() != QEvent::Expose || !window || !window->isExposed())
            return false;
        told_ = true;
        QMetaObject::invokeMethod(
            window,
            [window] {
                rusage usage{};
                getrusage(RUSAGE_SELF, &usage);
                const int64_t cpuUs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * int64_t{1000000} +
                                      usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
                (void)!write(shownFd, &cpuUs, sizeof cpuUs);
                close(shownFd);
                window->close();
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    bool told_ = false;
};

// Runs in the constructor of the child's application object, before any window exists.
void WatchFirstFrame()
{
    if (shownFd >= 0)
        qApp->installEventFilter(new FirstFrameWatcher);
}
Q_COREAPP_STARTUP_FUNCTION(WatchFirstFrame)

int RunUtility(char* program)
{
    // AppMain runs the application object, which the whole-archive link keeps in (see
    // CMakeLists.txt): nothing here refers to it, and an optimised build drops a reference
    // whose result goes unused.
    char* args[] = {program, nullptr};
    return fw::AppMain(1, args);
}

int RunBare(char* program)
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
    dialog.exec();
    return 0;
}

// ---- The parent -----------------------------------------------------------------------------

struct Sample {
    double ms = 0;
    double cpuMs = 0;
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
    int64_t cpuUs = 0;
    if (poll(&readable, 1, 30000) == 1 && read(pipeFds[0], &cpuUs, sizeof cpuUs) == sizeof cpuUs) {
        sample.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        sample.cpuMs = static_cast<double>(cpuUs) / 1000.0;
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

struct Figures {
    double ms = 0;
    double cpuMs = 0;
    double mb = 0;
};

// The samples of one kind of child.
class Series {
public:
    void Add(const Sample& s)
    {
        ms_.push_back(s.ms);
        cpuMs_.push_back(s.cpuMs);
        mb_.push_back(s.mb);
    }
    Figures Medians() const { return {Median(ms_), Median(cpuMs_), Median(mb_)}; }

private:
    std::vector<double> ms_, cpuMs_, mb_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "--utility") == 0 || std::strcmp(argv[1], "--bare") == 0)) {
        shownFd = std::atoi(argv[2]);
        return argv[1][2] == 'u' ? RunUtility(argv[0]) : RunBare(argv[0]);
    }

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

    Series bare, utility;
    Measure(self, "--bare");  // warm the file cache once for both
    Measure(self, "--utility");
    // Each round runs both, in turns of which goes first, so that neither is always the one
    // that follows the other.
    for (int i = 0; i < runs; ++i) {
        const bool bareFirst = i % 2 == 0;
        for (const char* kind : {bareFirst ? "--bare" : "--utility", bareFirst ? "--utility" : "--bare"}) {
            const Sample s = Measure(self, kind);
            if (!s.ok) {
                std::fprintf(stderr, "bench_startup: the %s child did not show its first frame\n", kind + 2);
                rmdir(dir);
                return 1;
            }
            (kind[2] == 'b' ? bare : utility).Add(s);
        }
    }
    rmdir(dir);

    const Figures b = bare.Medians(), u = utility.Medians();
    const double timeRatio = u.ms / b.ms, cpuRatio = u.cpuMs / b.cpuMs, memoryRatio = u.mb / b.mb;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const std::string where = platform ? std::string(platform) + " platform"
                                       : std::string("display ") + (display ? display : "(Wayland)");
    std::printf("Start-up to first frame, %s, median of %d runs each\n", where.c_str(), runs);
    std::printf("  %-32s %10s %10s %12s\n", "", "time", "CPU", "peak RSS");
    std::printf("  %-32s %7.1f ms %7.1f ms %9.1f MB\n", "bare Qt dialog, four tabs", b.ms, b.cpuMs, b.mb);
    std::printf("  %-32s %7.1f ms %7.1f ms %9.1f MB\n", "wlan-utility", u.ms, u.cpuMs, u.mb);
    std::printf("  %-32s %8.2f x %8.2f x %10.2f x   target 1.15 x: %s\n", "ratio", timeRatio, cpuRatio, memoryRatio,
                timeRatio <= 1.15 && memoryRatio <= 1.15 ? "met" : "NOT MET");
    return 0;
}
