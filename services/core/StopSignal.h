#pragma once
// SIGINT, SIGTERM and SIGHUP (the terminal closed, the session ended) ask the loops to end;
// they interrupt a wait but are never lost: the handler also makes a descriptor readable,
// so a loop asleep in poll() over it wakes at once, however long it meant to sleep.

namespace service {

class StopSignal {
public:
    // Installs the handlers (without SA_RESTART, so waits return early) and ignores SIGPIPE.
    static void Install();
    static bool Requested();
    // Readable once a stop was asked for; -1 before Install.
    static int Fd();
};

} // namespace service
