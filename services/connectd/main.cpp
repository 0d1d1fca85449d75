// wlan-connectd: the connection service of the WLAN utility for a real wireless card on Linux,
// driven through NetworkManager or through the wpa_supplicant that runs on its interface.

#include "Connectd.h"
#include "Privileges.h"

#include <CLI/CLI.hpp>

#include <clocale>
#include <cstdio>

using namespace connectd;

namespace {

constexpr const char* kFooter =
    "Environment:\n"
    "  WLAN_CONNECT_BLOCK   name of the shared block (default /connect01)\n"
    "  WLAN_REGISTRY_FILE   the registry file holding the card's settings\n"
    "Exit status: 0 stopped by SIGINT, SIGTERM or SIGHUP, 2 wrong command line, 4 the block cannot be served.";

} // namespace

int main(int argc, char** argv)
{
    // Network names reach the block in the locale's code page; read them the same way.
    std::setlocale(LC_ALL, "");

    CLI::App app{"wlan-connectd: the connection service of the WLAN utility for a real wireless card.\n"
                 "Serves the block in the foreground until SIGINT, SIGTERM or SIGHUP, driving the card through\n"
                 "NetworkManager or through the wpa_supplicant that runs on the interface."};
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("wlan-connectd ") + WLAN_VERSION);
    // Capabilities are per thread: out of the effective set before any thread starts.
    DropEffectiveCapabilities();
    ServeOptions serve;
    CardOptions& options = serve.card;
    const std::string defaultCtrlDir = options.ctrlDir.string();
    std::string ctrlDir = defaultCtrlDir;
    std::string domain;
    std::string backend = "auto";
    bool verbose = false;
    app.add_option("--interface", options.interface, "the wireless interface, e.g. wlan0")->required();
    app.add_option("--ctrl-dir", ctrlDir, "the supplicant's control folder")->capture_default_str();
    app.add_option("--domain", domain,
                   "regulatory domain set as the country at start: fcc (US), etsi (DE), japan (JP); "
                   "also the channels reported when the supplicant lists none");
    app.add_option("--backend", backend,
                   "who drives the card: networkmanager, supplicant, or auto (NetworkManager when it runs "
                   "and manages the interface, else the supplicant)")
        ->check(CLI::IsMember({"auto", "networkmanager", "supplicant"}))
        ->capture_default_str();
    app.add_flag("-v,--verbose", verbose, "log every command decoded and every supplicant event");
    // Looking at the block every N ms and taking no wakes, as the service once did: for the
    // benchmark that compares the two ways, not for use.
    int fixedPoll = 0;
    app.add_option("--fixed-poll", fixedPoll)->check(CLI::Range(1, 1000))->group("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : ToInt(ExitCode::Usage);
    }
    if (options.interface.empty() || options.interface.size() >= 16 ||
        options.interface.find('/') != std::string::npos || options.interface == "." || options.interface == "..") {
        std::fprintf(stderr, "wlan-connectd: \"%s\" is not an interface name\n", options.interface.c_str());
        return ToInt(ExitCode::Usage);
    }
    if (!domain.empty()) {
        options.domain = RegulatoryDomain::FromName(domain);
        if (!options.domain) {
            std::fprintf(stderr, "wlan-connectd: unknown domain \"%s\" (known: %s)\n", domain.c_str(),
                         std::string(RegulatoryDomain::kNames).c_str());
            return ToInt(ExitCode::Usage);
        }
    }
    // Started with more privilege than its user has (a file capability), the program serves
    // the system's supplicant only: a folder of the user's choosing could hold a fake one
    // that makes the service throttle a real interface.
    if (RunsRaised()) {
        if (ctrlDir != defaultCtrlDir) {
            std::fprintf(stderr, "wlan-connectd: with raised privileges only the system's control folder %s is served\n",
                         defaultCtrlDir.c_str());
            return ToInt(ExitCode::Usage);
        }
        options.owner = WpaControl::Owner::System;
    }
    options.ctrlDir = ctrlDir;
    serve.backend = ParseBackend(backend).value_or(Backend::Auto);
    serve.verbosity = verbose ? Verbosity::Verbose : Verbosity::Normal;
    if (fixedPoll > 0)
        serve.fixedPoll = Millis(fixedPoll);
    return ToInt(Connectd::Serve(std::move(serve)));
}
