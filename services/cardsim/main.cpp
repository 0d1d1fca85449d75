// wlan-cardsim: the simulated card driver and connection service for the WLAN utility.

#include "BlockMonitor.h"
#include "ControlClient.h"
#include "ControlSocket.h"
#include "EnvironmentFile.h"
#include "ExitCode.h"
#include "Simulator.h"
#include "platform/SharedMemory.h"

#include <CLI/CLI.hpp>

#include <clocale>
#include <cstdio>
#include <iostream>

using namespace cardsim;

namespace {

constexpr const char* kFooter = R"(Commands of a running simulator (over its control socket, mode 0600, in
$XDG_RUNTIME_DIR or /tmp/wlan-cardsim-<uid>, named after the block):
  wlan-cardsim ctl card out|in
  wlan-cardsim ctl signal N [NAME|BSSID]     fix a signal strength at N (0..15)
  wlan-cardsim ctl signal auto [NAME|BSSID]  let a fixed signal wander again
  wlan-cardsim ctl ap add '{"name":"Guest","bssid":"02:11:22:33:44:55","channel":6}'
  wlan-cardsim ctl ap remove NAME|BSSID
  wlan-cardsim ctl status

Demo networks (when no --environment is given):
  CafeNet     02:43:4E:00:00:01  access point, channel 6, open
  Harbour     02:48:42:00:00:02  access point, channel 1, 64-bit WEP, default key 1
              passphrase "harbour": 8d2fddc61e 0dcd931d1d b2e8560f4a 181bf72700
  Lighthouse  02:4C:48:00:00:04  access point, channel 11, 128-bit WEP
              passphrase "lighthouse keeper": 47e172e994b07ec89e7b0f7127
  Workbench   02:57:42:00:00:03  peer-to-peer cell, channel 3, open

The block is $WLAN_CONNECT_BLOCK (default /connect01); the driver's settings are read from
the registry file $WLAN_REGISTRY_FILE (default ~/.config/wlan-utility/registry.reg).
Exit status: 0 ok, 2 bad command line, 3 bad environment file, 4 cannot serve (block or
socket taken, or the block shrunk by another process), 5 no simulator of this user answers
(dump: nobody holds the block), 6 the simulator refused the command.)";

ExitCode RunControl(const std::vector<std::string>& words)
{
    std::string error;
    const auto path = ControlSocket::PathFor(platform::DefaultBlockName(), error);
    const auto reply = path ? ControlClient::Send(*path, words, error) : std::nullopt;
    if (!reply) {
        std::fprintf(stderr, "wlan-cardsim: %s\n", error.c_str());
        return ExitCode::NoSimulator;
    }
    if (!reply->ok) {
        std::fprintf(stderr, "wlan-cardsim: %s", reply->text.c_str());
        return ExitCode::Refused;
    }
    std::fputs(reply->text.c_str(), stdout);
    return ExitCode::Ok;
}

ExitCode RunServe(const std::string& environmentFile, const std::string& domainName, uint32_t seed,
                  bool verbose, int fixedPoll)
{
    const auto domain = RegulatoryDomain::FromName(domainName);
    if (!domain) {
        std::fprintf(stderr, "wlan-cardsim: unknown domain \"%s\" (known: %s)\n", domainName.c_str(),
                     std::string(RegulatoryDomain::kNames).c_str());
        return ExitCode::Usage;
    }
    std::optional<RadioEnvironment> environment = RadioEnvironment::Demo();
    if (!environmentFile.empty()) {
        auto loaded = EnvironmentFile::Load(environmentFile);
        if (!loaded.environment) {
            std::fprintf(stderr, "wlan-cardsim: %s\n", loaded.error.c_str());
            return ExitCode::BadEnvironment;
        }
        environment = std::move(loaded.environment);
    }
    return Simulator::Serve({std::move(*environment), *domain, seed,
                             verbose ? Verbosity::Verbose : Verbosity::Normal,
                             fixedPoll > 0 ? std::optional<Millis>(fixedPoll) : std::nullopt});
}

} // namespace

int main(int argc, char** argv)
{
    // Network names reach the block in the locale's code page; read them the same way.
    std::setlocale(LC_ALL, "");

    CLI::App app{"wlan-cardsim: the simulated card driver and connection service of the WLAN utility.\n"
                 "Without a command it serves the block in the foreground until SIGINT or SIGTERM."};
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("wlan-cardsim ") + WLAN_VERSION);
    std::string environmentFile;
    std::string domain = "fcc";
    uint32_t seed = 1;
    bool verbose = false;
    // The file is checked by its loader, so a missing one is a bad environment file (3) too.
    app.add_option("--environment", environmentFile, "JSON file of networks instead of the demo ones");
    app.add_option("--domain", domain, "regulatory domain: fcc (channels 1-11), etsi (1-13), japan (1-14)")
        ->capture_default_str();
    app.add_option("--seed", seed, "seed of the signals' random walk and of the join delays")
        ->capture_default_str();
    app.add_flag("-v,--verbose", verbose, "log every command decoded");
    // Looking at the block every N ms and taking no wakes, as the simulator once did: for the
    // benchmark that compares the two ways, not for use.
    int fixedPoll = 0;
    app.add_option("--fixed-poll", fixedPoll)->check(CLI::Range(1, 1000))->group("");

    std::vector<std::string> words;
    CLI::App* ctl = app.add_subcommand("ctl", "send a command to the running simulator");
    ctl->add_option("command", words, "card in|out, signal N|auto [NAME|BSSID], ap add JSON, ap remove NAME|BSSID, status")
        ->required();
    CLI::App* dump = app.add_subcommand("dump", "print the block decoded, once");
    CLI::App* watch = app.add_subcommand("watch", "print the block decoded whenever it changes");
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : ToInt(ExitCode::Usage);
    }
    if (*ctl)
        return ToInt(RunControl(words));
    if (*dump)
        return ToInt(BlockMonitor::Dump());
    if (*watch)
        return ToInt(BlockMonitor::Watch());
    return ToInt(RunServe(environmentFile, domain, seed, verbose, fixedPoll));
}
