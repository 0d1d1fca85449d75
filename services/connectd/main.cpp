// wlan-connectd: the connection service of the WLAN utility for a real wireless card on Linux,
// driven through NetworkManager or through the wpa_supplicant that runs on its interface.

#include "Connectd.h"

#include <CLI/CLI.hpp>

#include <clocale>
#include <cstdio>

using namespace connectd;

namespace {

constexpr const char* kFooter =
    "Environment:\n"
    "  WLAN_CONNECT_BLOCK   name of the shared block (default /connect01)\n"
    "  WLAN_REGISTRY_FILE   the registry file holding the card's settings\n"
    "Exit status: 0 stopped by SIGINT or SIGTERM, 2 wrong command line, 4 the block cannot be served.";

} // namespace

int main(int argc, char** argv)
{
    // Network names reach the block in the locale's code page; read them the same way.
    std::setlocale(LC_ALL, "");

    CLI::App app{"wlan-connectd: the connection service of the WLAN utility for a real wireless card.\n"
                 "Serves the block in the foreground until SIGINT or SIGTERM, driving the card through\n"
                 "NetworkManager or through the wpa_supplicant that runs on the interface."};
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("wlan-connectd ") + WLAN_VERSION);
    CardOptions options;
    std::string ctrlDir = options.ctrlDir.string();
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
    options.ctrlDir = ctrlDir;
    return ToInt(Connectd::Serve(std::move(options), ParseBackend(backend).value_or(Backend::Auto),
                                 verbose ? Verbosity::Verbose : Verbosity::Normal));
}
