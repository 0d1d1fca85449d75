#pragma once
// Ends the program on SIGTERM (a desktop logging out), SIGHUP and SIGINT the way its user
// would: the open modal windows are closed, innermost first, as their window's close does,
// so the application's own shut-down runs after them. The handler only writes a byte to a
// pipe; the closing happens on the user-interface thread when the pipe is read. Private to
// the framework.

#include <QObject>

#include <array>
#include <csignal>

class QSocketNotifier;

namespace fw {

class SignalCloser : public QObject {
public:
    SignalCloser();
    ~SignalCloser() override;
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

private:
    void Drain();
    void CloseInnermost();

    int readEnd_ = -1;
    int writeEnd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::array<struct sigaction, 3> previous_{};
};

} // namespace fw
