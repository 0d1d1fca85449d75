#pragma once
// SIGINT and SIGTERM ask the loops to end; they interrupt a wait but are never lost.

namespace service {

class StopSignal {
public:
    // Installs the handlers (without SA_RESTART, so waits return early) and ignores SIGPIPE.
    static void Install();
    static bool Requested();
};

} // namespace service
