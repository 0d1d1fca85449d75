#include "framework/SignalCloser.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fw {

namespace {

constexpr std::array<int, 3> kClosingSignals{SIGTERM, SIGHUP, SIGINT};

// The write end of the pipe, for the handler; -1 while no closer is installed.
volatile sig_atomic_t signalPipe = -1;

extern "C" void OnClosingSignal(int)
{
    // Only async-signal-safe calls here: one byte into a non-blocking pipe. A full pipe
    // already holds a byte that wakes the reader.
    const int savedErrno = errno;
    const char byte = 1;
    if (signalPipe >= 0)
        (void)!write(signalPipe, &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalCloser::SignalCloser()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // the signals keep their default effect
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalCloser::Drain);
    signalPipe = writeEnd_;

    struct sigaction action {};
    action.sa_handler = OnClosingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kClosingSignals.size(); ++i)
        sigaction(kClosingSignals[i], &action, &previous_[i]);
}

SignalCloser::~SignalCloser()
{
    if (readEnd_ < 0)
        return;
    for (size_t i = 0; i < kClosingSignals.size(); ++i)
        sigaction(kClosingSignals[i], &previous_[i], nullptr);
    signalPipe = -1;
    close(writeEnd_);
    close(readEnd_);
}

void SignalCloser::Drain()
{
    char bytes[64];
    while (read(readEnd_, bytes, sizeof bytes) > 0) {
    }
    CloseInnermost();
}

void SignalCloser::CloseInnermost()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) {
        // No window to close: a main loop, if one runs, ends instead.
        QCoreApplication::quit();
        return;
    }
    modal->close();
    // The window behind it next, once the closed one's own loop has returned. A window that
    // refused to close stops the chain instead of spinning.
    if (QApplication::activeModalWidget() != modal)
        QTimer::singleShot(0, this, &SignalCloser::CloseInnermost);
}

} // namespace fw
