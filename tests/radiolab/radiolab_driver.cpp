// The radio lab's scenario driver. It runs inside the guest, next to hostapd's access points
// and the station's wpa_supplicant, plays the utility against wlan-connectd through the
// project's own ConnectChannel (posting exactly as the pages post), and checks every scenario
// on both sides: what the block says, and what hostapd, the supplicant or nl80211 say. One
// line per scenario goes to the console, which the host turns into test results:
//
//   RADIOLAB <scenario> PASS|FAIL <seconds>s [first failed check]
//
// Without --connectd only the "supplicant" scenario runs: the supplicant driven directly,
// which proves the guest's networks. With --backend networkmanager the guest runs
// NetworkManager (guest-networkmanager.sh) and the nm_ scenarios run, with the service on
// that backend as a desktop user.

#include "ChildProcess.h"
#include "CtrlSocket.h"
#include "LabService.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Generous limits: the guest is an emulated processor on a shared machine. A limit only ends
// a scenario that will not pass, so that the next one still runs.
constexpr auto kJoinLimit = 60s;
constexpr auto kAckLimit = 15s;

using Bssid = std::array<uint8_t, 6>;

struct Network {
    const char* name;
    Bssid bssid;
    uint8_t channel;
    const char* apInterface;  // the hostapd radio; empty for the peer cell
};

// The demo networks, as the README lists them.
const Network kCafeNet{"CafeNet", {0x02, 0x43, 0x4E, 0x00, 0x00, 0x01}, 6, "wlan1"};
const Network kHarbour{"Harbour", {0x02, 0x48, 0x42, 0x00, 0x00, 0x02}, 1, "wlan2"};
const Network kLighthouse{"Lighthouse", {0x02, 0x4C, 0x48, 0x00, 0x00, 0x04}, 11, "wlan3"};
// The peer-to-peer cell: its BSSID is whatever its starter picks.
const Network kWorkbench{"Workbench", {}, 3, ""};

// The keys of the passphrases "harbour" (four 64-bit keys) and "lighthouse keeper" (128-bit).
const std::vector<uint8_t> kHarbourKeys{0x8d, 0x2f, 0xdd, 0xc6, 0x1e, 0x0d, 0xcd, 0x93, 0x1d, 0x1d,
                                        0xb2, 0xe8, 0x56, 0x0f, 0x4a, 0x18, 0x1b, 0xf7, 0x27, 0x00};
const std::vector<uint8_t> kLighthouseKey{0x47, 0xe1, 0x72, 0xe9, 0x94, 0xb0, 0x7e,
                                          0xc8, 0x9e, 0x7b, 0x0f, 0x71, 0x27};

// Block codes of the configuration and WEP payloads.
constexpr uint16_t kPeerToPeer = 0;
constexpr uint16_t kAccessPoint = 1;
constexpr uint16_t kRates1 = 1;
constexpr uint16_t kRates2 = 2;
constexpr uint16_t kRatesAutomatic = 15;
constexpr uint16_t kPsOff = 1;
constexpr uint16_t kPsOn = 2;
constexpr uint8_t kWepOff = 0;
constexpr uint8_t kWep64 = 2;
constexpr uint8_t kWep128 = 6;

std::string Trim(const std::string& text)
{
    const char* blank = " \t\r\n";
    const size_t first = text.find_first_not_of(blank);
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(blank) - first + 1);
}

std::string BssidText(const Bssid& bssid)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bssid[0], bssid[1], bssid[2], bssid[3],
                  bssid[4], bssid[5]);
    return text;
}

// Runs a lab command (fixed text, never from the block) and answers its output.
std::string Shell(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[512];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

std::string ReadLine(const std::string& path)
{
    std::string line;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, file))
            line = Trim(buffer);
        std::fclose(file);
    }
    return line;
}

// A file's text from `offset` on.
std::string ReadFrom(const std::string& path, uintmax_t offset)
{
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        std::fseek(file, static_cast<long>(offset), SEEK_SET);
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, file))
            text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

bool WaitFor(const std::function<bool()>& condition, Clock::duration limit)
{
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// One scenario's checks; the first failure is its verdict's reason.
class Scenario {
public:
    explicit Scenario(std::string name) : name_(std::move(name)) {}
    bool Check(bool ok, const std::string& what)
    {
        std::printf("RADIOLAB-CHECK %s %s %.1fs %s\n", name_.c_str(), ok ? "ok" : "FAILED", Elapsed(), what.c_str());
        if (!ok && failure_.empty())
            failure_ = what;
        return ok;
    }
    void Note(const std::string& what)
    {
        std::printf("RADIOLAB-NOTE %s %.1fs %s\n", name_.c_str(), Elapsed(), what.c_str());
    }
    // Seconds since the scenario began.
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }
    bool Passed() const { return failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    std::string failure_;
    Clock::time_point started_ = Clock::now();
};

struct Options {
    std::string ctrlDir = "/run/wpa_supplicant";
    std::string hostapdDir = "/run/hostapd";
    std::string out = "/tmp";
    std::string connectd;
    std::string utility;
    std::string scenarios;
    std::string backend;  // empty: the station's supplicant runs on its own
};

class Lab {
public:
    explicit Lab(const Options& options) : options_(options)
    {
        for (const char* ap : {"wlan1", "wlan2", "wlan3"}) {
            auto socket = CtrlSocket::Open(options_.hostapdDir + "/" + ap);
            if (socket && socket->Attach())
                accessPoints_.emplace(ap, std::make_unique<CtrlSocket>(std::move(*socket)));
        }
        stationAddress_ = ReadLine("/sys/class/net/wlan0/address");
        if (!options_.connectd.empty() && UnderNetworkManager()) {
            service_ = std::make_unique<LabService>(options_.connectd, options_.ctrlDir, options_.out + "/connectd.log",
                                                    Account::DesktopUser);
            service_->SetBackend(options_.backend);
        } else if (!options_.connectd.empty()) {
            service_ = std::make_unique<LabService>(options_.connectd, options_.ctrlDir, options_.out + "/connectd.log");
        }
    }

    // A guest that runs NetworkManager; NetworkManagerRuns() until the lab stops it.
    bool UnderNetworkManager() const { return options_.backend == "networkmanager"; }
    bool NetworkManagerRuns() const { return UnderNetworkManager() && !networkManagerStopped_; }

    // Stops NetworkManager and the supplicant it started, then starts a plain supplicant on
    // wlan0 whose control socket the group netdev may use, as on a machine without
    // NetworkManager. Answers whether that supplicant answers.
    bool ReplaceNetworkManagerWithSupplicant()
    {
        networkManagerStopped_ = true;
        for (const std::string& pid : {ReadLine("/run/NetworkManager.pid"), Trim(Shell("pidof wpa_supplicant"))}) {
            Shell("kill " + pid);
            WaitFor([&] { return ProcessEnded(pid); }, kJoinLimit);
        }
        Shell("rm -rf " + options_.ctrlDir + "; wpa_supplicant -B -Dnl80211 -iwlan0 -C 'DIR=" + options_.ctrlDir +
              " GROUP=netdev' -P /run/wpa_supplicant.pid -f " + options_.out + "/wpa_supplicant.log");
        return WaitFor([&] { return Supplicant("PING") == "PONG"; }, kJoinLimit);
    }

    const std::string& StationAddress() const { return stationAddress_; }
    const Options& Settings() const { return options_; }
    LabService* Service() { return service_.get(); }

    // A fresh connection each time: the supplicant's socket goes away with the interface.
    std::string Supplicant(const std::string& command)
    {
        auto socket = CtrlSocket::Open(options_.ctrlDir + "/wlan0");
        return socket ? Trim(socket->Request(command)) : "(no supplicant)";
    }
    std::optional<CtrlSocket> SupplicantMonitor()
    {
        auto socket = CtrlSocket::Open(options_.ctrlDir + "/wlan0");
        if (socket && !socket->Attach())
            return std::nullopt;
        return socket;
    }
    CtrlSocket* AccessPoint(const std::string& ap)
    {
        auto found = accessPoints_.find(ap);
        return found == accessPoints_.end() ? nullptr : found->second.get();
    }
    void ForgetAccessPointEvents()
    {
        for (auto& [name, socket] : accessPoints_)
            socket->Events();
    }
    // The supplicant's one network (the service owns it): its id, or "" when there is none.
    std::string NetworkId()
    {
        std::istringstream lines(Supplicant("LIST_NETWORKS"));
        std::string line;
        std::getline(lines, line);  // the heading
        if (!std::getline(lines, line))
            return {};
        return line.substr(0, line.find('\t'));
    }

private:
    Options options_;
    std::map<std::string, std::unique_ptr<CtrlSocket>> accessPoints_;
    std::string stationAddress_;
    std::unique_ptr<LabService> service_;
    bool networkManagerStopped_ = false;

    // Gone, or a zombie its parent has not waited for yet.
    static bool ProcessEnded(const std::string& pid)
    {
        const std::string stat = ReadLine("/proc/" + pid + "/stat");
        const size_t state = stat.rfind(") ");
        return stat.empty() || (state != std::string::npos && stat.compare(state + 2, 1, "Z") == 0);
    }
};

// --- the utility's side: posting as the pages post ---------------------------------------

// The Configuration page's Apply, then the Encryption page's, each waiting for the service to
// take its command; then the Status page's standing request.
bool Apply(Scenario& s, Lab& lab, const ConfigPayload& config, uint8_t wepReq, uint8_t defaultKeyId,
           const std::vector<uint8_t>& keys)
{
    ConnectChannel channel = lab.Service()->Channel();
    channel.PostConfig(config);
    const bool configTaken = WaitFor([&] { return (channel.CommandWord() >> 24) != CMD_SET_CONFIG; }, kAckLimit);
    channel.PostWep(wepReq, defaultKeyId, keys);
    const bool wepTaken = WaitFor([&] { return (channel.CommandWord() >> 24) != CMD_SET_WEP; }, kAckLimit);
    channel.PostLinkInfo();
    return s.Check(configTaken && wepTaken, "the service took SET_CONFIG and SET_WEP");
}

ConfigPayload Config(uint16_t type, const std::u16string& name, uint16_t channel = 6,
                     uint16_t rates = kRatesAutomatic, uint16_t ps = kPsOff)
{
    static std::vector<std::u16string> names;  // the payload holds a view
    names.push_back(name);
    return {type, rates, ps, channel, names.back()};
}

Bssid BlockBssid(const ConnectChannel& channel)
{
    Bssid bssid{};
    for (size_t i = 0; i < bssid.size(); ++i)
        bssid[i] = channel.ReadU8(block::kLinkBssid + i);
    return bssid;
}

bool ValidRateCode(uint16_t code)
{
    return code == 1 || code == 2 || code == 4 || code == 8;
}

// In a peer-to-peer cell the supplicant has no link speed to give, so a rate code is only
// required of a link to an access point.
enum class RateCode { Required, Any };

// Waits until the block shows a link to `network` with a strength (and a rate code).
bool WaitBlockLink(Scenario& s, Lab& lab, const Network& network, RateCode rate = RateCode::Required)
{
    const ConnectChannel channel = lab.Service()->Channel();
    const bool linked = WaitFor(
        [&] {
            return channel.Poll(STAT_LINK_INFO) && BlockBssid(channel) == network.bssid &&
                   channel.ReadU8(block::kLinkChannel) == network.channel &&
                   (rate == RateCode::Any || ValidRateCode(channel.ReadU16(block::kLinkRate))) &&
                   channel.ReadU8(block::kLinkStrength) > 0;
        },
        kJoinLimit);
    char detail[160];
    std::snprintf(detail, sizeof detail, "block: %s channel %u rate code %u quality %u strength %u (want %s channel %u)",
                  BssidText(BlockBssid(channel)).c_str(), channel.ReadU8(block::kLinkChannel),
                  channel.ReadU16(block::kLinkRate), channel.ReadU8(block::kLinkQuality),
                  channel.ReadU8(block::kLinkStrength), BssidText(network.bssid).c_str(), network.channel);
    return s.Check(linked, detail);
}

// The access point's side: it saw the station associate since the events were last
// forgotten, and holds it authorized (the service may rebuild its network once per command,
// so the state is waited for, not read once).
bool CheckAccessPointJoined(Scenario& s, Lab& lab, const Network& network)
{
    CtrlSocket* ap = lab.AccessPoint(network.apInterface);
    const bool connected =
        ap && ap->WaitForEvent("AP-STA-CONNECTED " + lab.StationAddress(), kJoinLimit).has_value();
    s.Check(connected, std::string("hostapd ") + network.name + ": AP-STA-CONNECTED " + lab.StationAddress());
    std::string flags;
    const bool authorized = ap && WaitFor(
                                      [&] {
                                          flags = CtrlSocket::Field(ap->Request("STA " + lab.StationAddress()), "flags");
                                          return flags.find("[AUTHORIZED]") != std::string::npos;
                                      },
                                      kJoinLimit);
    return s.Check(authorized, std::string("hostapd ") + network.name + ": station authorized (" + flags + ")");
}

// --- NetworkManager's side ------------------------------------------------------------------

// The profile the lab makes itself, as a person would in the desktop's network menu.
constexpr const char* kLabProfile = "lab-cafenet";

// The value of a "NAME:value" line of nmcli's terse output ("" when absent).
std::string NmField(const std::string& text, const std::string& name)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(name + ":", 0) == 0)
            return Trim(line.substr(name.size() + 1));
    return {};
}

std::string NmDevice()
{
    return Shell("nmcli -t -f GENERAL.STATE,GENERAL.CONNECTION,GENERAL.CON-UUID,IP4.ADDRESS device show wlan0");
}

bool NmConnected(const std::string& device)
{
    return NmField(device, "GENERAL.STATE").rfind("100", 0) == 0;
}

// The UUIDs of the Wi-Fi profiles in NetworkManager that the lab did not make: the service's.
std::vector<std::string> ServiceProfiles()
{
    const std::string wifi = ":802-11-wireless:";
    std::vector<std::string> uuids;
    std::istringstream lines(Shell("nmcli -t -f UUID,TYPE,NAME connection show"));
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 36 + wifi.size() && line.compare(36, wifi.size(), wifi) == 0 &&
            line.substr(36 + wifi.size()) != kLabProfile)
            uuids.push_back(line.substr(0, 36));
    return uuids;
}

// NetworkManager's side of a join: the device connected with the service's one profile, which
// belongs to the service's user and interface, and an address from the access point's DHCP
// server (192.168.7N.x for the radio wlanN).
void CheckNetworkManagerJoined(Scenario& s, Lab& lab, const Network& network)
{
    std::string device;
    const std::string ap = network.apInterface;
    const std::string subnet = ap.size() > 4 ? "192.168.7" + ap.substr(4) + "." : "";
    const bool connected = WaitFor(
        [&] {
            device = NmDevice();
            return NmConnected(device) && NmField(device, "IP4.ADDRESS[1]").rfind(subnet, 0) == 0;
        },
        kJoinLimit);
    s.Check(connected, "nmcli: wlan0 " + NmField(device, "GENERAL.STATE") + " with '" +
                           NmField(device, "GENERAL.CONNECTION") + "', address " + NmField(device, "IP4.ADDRESS[1]"));
    const std::vector<std::string> profiles = ServiceProfiles();
    const std::string active = NmField(device, "GENERAL.CON-UUID");
    s.Check(profiles.size() == 1 && profiles[0] == active,
            "nmcli: the active profile " + active + " is the service's one profile (" + std::to_string(profiles.size()) +
                " not the lab's)");
    const std::string owner = Shell("nmcli -t -f connection.permissions,connection.interface-name connection show " + active);
    const std::string permissions = NmField(owner, "connection.permissions");
    const std::string interface = NmField(owner, "connection.interface-name");
    s.Check(permissions == "user:" + lab.Service()->UserName() && interface == "wlan0",
            "nmcli: the profile is for " + permissions + " on " + interface);
}

void CheckSupplicantJoined(Scenario& s, Lab& lab, const Network& network, const std::string& cipher)
{
    std::string status;
    const bool joined = WaitFor(
        [&] {
            status = lab.Supplicant("STATUS");
            return CtrlSocket::Field(status, "wpa_state") == "COMPLETED" &&
                   CtrlSocket::Field(status, "ssid") == network.name &&
                   CtrlSocket::Field(status, "bssid") == BssidText(network.bssid);
        },
        kJoinLimit);
    s.Check(joined, "supplicant: COMPLETED with " + CtrlSocket::Field(status, "ssid") + " " +
                        CtrlSocket::Field(status, "bssid"));
    s.Check(CtrlSocket::Field(status, "pairwise_cipher") == cipher,
            "supplicant: pairwise cipher " + CtrlSocket::Field(status, "pairwise_cipher") + " (want " + cipher + ")");
    if (lab.NetworkManagerRuns())
        CheckNetworkManagerJoined(s, lab, network);
}

// --- scenarios -----------------------------------------------------------------------------

void JoinAccessPoints(Scenario& s, Lab& lab)
{
    lab.ForgetAccessPointEvents();
    if (!Apply(s, lab, Config(kAccessPoint, u"CafeNet"), kWepOff, 1, {}))
        return;
    WaitBlockLink(s, lab, kCafeNet);
    CheckAccessPointJoined(s, lab, kCafeNet);
    CheckSupplicantJoined(s, lab, kCafeNet, "NONE");

    for (uint8_t key = 1; key <= 4; ++key) {
        s.Note("Harbour with default key " + std::to_string(key));
        lab.ForgetAccessPointEvents();
        if (!Apply(s, lab, Config(kAccessPoint, u"Harbour"), kWep64, key, kHarbourKeys))
            return;
        CheckAccessPointJoined(s, lab, kHarbour);
        WaitBlockLink(s, lab, kHarbour);
        CheckSupplicantJoined(s, lab, kHarbour, "WEP-40");
        std::string index;
        const bool keyed = WaitFor(
            [&] { return (index = lab.Supplicant("GET_NETWORK " + lab.NetworkId() + " wep_tx_keyidx")) == std::to_string(key - 1); },
            kJoinLimit);
        s.Check(keyed, "supplicant: transmit key index " + index + " (want " + std::to_string(key - 1) + ")");
    }

    lab.ForgetAccessPointEvents();
    if (!Apply(s, lab, Config(kAccessPoint, u"Lighthouse"), kWep128, 1, kLighthouseKey))
        return;
    CheckAccessPointJoined(s, lab, kLighthouse);
    WaitBlockLink(s, lab, kLighthouse);
    CheckSupplicantJoined(s, lab, kLighthouse, "WEP-104");
}

void WrongKey(Scenario& s, Lab& lab)
{
    std::vector<uint8_t> wrong = kHarbourKeys;
    for (uint8_t& byte : wrong)
        byte ^= 0x5a;
    auto monitor = lab.SupplicantMonitor();
    const std::string nmLog = lab.Settings().out + "/networkmanager.log";
    std::error_code none;
    const uintmax_t nmLogStart = lab.NetworkManagerRuns() ? std::filesystem::file_size(nmLog, none) : 0;
    lab.ForgetAccessPointEvents();
    if (!Apply(s, lab, Config(kAccessPoint, u"Harbour"), kWep64, 1, wrong))
        return;
    // The service rebuilds its network: wait until it stands again.
    std::string auth;
    WaitFor(
        [&] {
            const std::string id = lab.NetworkId();
            auth = id.empty() ? "" : lab.Supplicant("GET_NETWORK " + id + " auth_alg");
            return !auth.empty() && auth != "FAIL";
        },
        kJoinLimit);
    s.Note("the service chose authentication '" + auth + "'");
    const ConnectChannel channel = lab.Service()->Channel();
    if (auth == "SHARED") {
        // Shared-key authentication encrypts the access point's challenge with the key: a wrong
        // key fails there, and the supplicant gives up on the network for a while. NetworkManager
        // gives up on the activation before that: its log says so.
        if (lab.NetworkManagerRuns()) {
            const bool failed = WaitFor(
                [&] { return ReadFrom(nmLog, nmLogStart).find("Activation: failed for connection") != std::string::npos; },
                kJoinLimit);
            s.Check(failed, "NetworkManager: 'Activation: failed for connection' after failed authentication with Harbour");
        } else {
            const bool refused = monitor && monitor->WaitForEvent("CTRL-EVENT-SSID-TEMP-DISABLED", kJoinLimit).has_value();
            s.Check(refused, "supplicant: Harbour temporarily disabled after failed authentication");
        }
        s.Check(WaitFor([&] { return channel.Poll(STAT_LINK_INFO) && channel.IsNotAssociated(); }, kJoinLimit),
                "block: not associated (six 0x44)");
        CtrlSocket* ap = lab.AccessPoint(kHarbour.apInterface);
        bool connected = false;
        for (const std::string& event : ap ? ap->Events() : std::vector<std::string>{})
            connected = connected || event.find("AP-STA-CONNECTED") != std::string::npos;
        s.Check(!connected, "hostapd Harbour: no AP-STA-CONNECTED");
        s.Check(ap && ap->Request("STA " + lab.StationAddress()).find("[AUTHORIZED]") == std::string::npos,
                "hostapd Harbour: the station is not authorized");
        if (lab.UnderNetworkManager()) {
            const std::string device = NmDevice();
            s.Check(!NmConnected(device), "nmcli: wlan0 not connected (" + NmField(device, "GENERAL.STATE") + ")");
        }
    } else if (s.Check(auth.find("OPEN") != std::string::npos, "the network's authentication is known: " + auth)) {
        // Open-system authentication does not prove the key: the station associates, and only
        // its frames are undecryptable.
        CheckAccessPointJoined(s, lab, kHarbour);
        WaitBlockLink(s, lab, kHarbour);
        s.Note("open system: associated with a wrong key, as the README states");
    }
}

// The station starts the cell Workbench alone, then the peer's radio joins it. (The
// other order is not dependable: a service that rebuilds its network leaves the cell, and
// the kernel forgets a cell it left, so the station may start a cell of its own beside it.)
void PeerToPeer(Scenario& s, Lab& lab)
{
    Shell("iw dev wlan4 ibss leave");
    if (!Apply(s, lab, Config(kPeerToPeer, u"Workbench", kWorkbench.channel), kWepOff, 1, {}))
        return;
    const ConnectChannel channel = lab.Service()->Channel();
    // The block and the supplicant agree on the cell once the service has settled.
    std::string status;
    const bool alone = WaitFor(
        [&] {
            status = lab.Supplicant("STATUS");
            return channel.Poll(STAT_LINK_INFO) && !channel.IsNotAssociated() &&
                   channel.ReadU8(block::kLinkChannel) == kWorkbench.channel &&
                   CtrlSocket::Field(status, "bssid") == BssidText(BlockBssid(channel));
        },
        kJoinLimit);
    const Bssid own = BlockBssid(channel);
    s.Check(alone && (own[0] & 0x02) != 0, "block alone: a cell of our own, locally administered BSSID " + BssidText(own));
    s.Check(channel.ReadU8(block::kLinkStrength) == 0,
            "block alone: strength 0 (quality " + std::to_string(channel.ReadU8(block::kLinkQuality)) + ")");
    s.Check(CtrlSocket::Field(status, "mode") == "IBSS" && CtrlSocket::Field(status, "freq") == "2422",
            "supplicant alone: IBSS on " + CtrlSocket::Field(status, "freq") + " MHz, BSSID " +
                CtrlSocket::Field(status, "bssid"));

    // The peer listens until it hears the cell, then joins that very cell, as the supplicant
    // does; the kernel's own search by name gives up after a few seconds and starts a cell.
    Shell("iw dev wlan4 set type ibss; ip link set wlan4 up");
    const bool heard = WaitFor(
        [&] { return Shell("timeout 15 iw dev wlan4 scan freq 2422").find("BSS " + BssidText(own)) != std::string::npos; },
        kJoinLimit);
    s.Check(heard, "peer wlan4: hears the station's cell in a scan");
    const std::string started =
        Shell("iw dev wlan4 ibss join Workbench 2422 fixed-freq " + BssidText(own) + " && echo started");
    s.Check(started.find("started") != std::string::npos, "peer wlan4 joins Workbench: " + Trim(started));
    const std::string joinedText = "Joined IBSS ";
    std::string peerLink;
    WaitFor([&] { return (peerLink = Shell("iw dev wlan4 link")).find(joinedText) != std::string::npos; }, kJoinLimit);
    const size_t at = peerLink.find(joinedText);
    const std::string cell = at == std::string::npos ? "" : peerLink.substr(at + joinedText.size(), 17);
    s.Check(cell == BssidText(own), "peer wlan4: joined the station's cell " + cell);
    Network withPeer{kWorkbench.name, {}, kWorkbench.channel, ""};
    for (size_t i = 0; i < withPeer.bssid.size() && cell.size() == 17; ++i)
        withPeer.bssid[i] = static_cast<uint8_t>(std::stoul(cell.substr(3 * i, 2), nullptr, 16));
    WaitBlockLink(s, lab, withPeer, RateCode::Any);
    status = lab.Supplicant("STATUS");
    s.Check(CtrlSocket::Field(status, "mode") == "IBSS" && CtrlSocket::Field(status, "bssid") == cell,
            "supplicant: IBSS " + CtrlSocket::Field(status, "bssid"));
    s.Check(WaitFor([&] { return Shell("iw dev wlan4 station dump").find(lab.StationAddress()) != std::string::npos; },
                    kJoinLimit),
            "peer wlan4: the station is its neighbour");
    if (lab.UnderNetworkManager()) {
        std::string device;
        const bool connected = WaitFor([&] { return NmConnected(device = NmDevice()); }, kJoinLimit);
        s.Check(connected, "nmcli: wlan0 " + NmField(device, "GENERAL.STATE") + " in the cell, address " +
                               NmField(device, "IP4.ADDRESS[1]"));
    }
    Shell("iw dev wlan4 ibss leave");
}

std::string StationTxBitrate()
{
    const std::string dump = Shell("iw dev wlan0 station dump");
    const size_t at = dump.find("tx bitrate:");
    return at == std::string::npos ? "" : Trim(dump.substr(at + 11, dump.find('\n', at) - at - 11));
}

// A rate set of one rate pins the station's transmit rate, which both ends then report. The
// sets include a basic rate of the access points (1 and 2 Mbps): the kernel refuses a mask
// without one while associated.
void PowerSaveAndRates(Scenario& s, Lab& lab)
{
    struct Case {
        uint16_t rates;
        uint16_t ps;
        const char* powerSave;
        const char* bitrate;
        const char* rateInfo;  // hostapd's, in 100 kbit/s
        uint16_t rateCode;
    };
    for (const Case c : {Case{kRates1, kPsOn, "Power save: on", "1.0 MBit/s", "10", 1},
                         Case{kRates2, kPsOff, "Power save: off", "2.0 MBit/s", "20", 2}}) {
        s.Note("rate set " + std::to_string(c.rates) + ", power-save mode " + std::to_string(c.ps));
        lab.ForgetAccessPointEvents();
        if (!Apply(s, lab, Config(kAccessPoint, u"CafeNet", 6, c.rates, c.ps), kWepOff, 1, {}))
            return;
        CheckAccessPointJoined(s, lab, kCafeNet);
        WaitBlockLink(s, lab, kCafeNet);
        const std::string ps = Trim(Shell("iw dev wlan0 get power_save"));
        s.Check(ps == c.powerSave, "nl80211: '" + ps + "' (want '" + c.powerSave + "')");
        std::string bitrate;
        const bool pinned = WaitFor([&] { return (bitrate = StationTxBitrate()).rfind(c.bitrate, 0) == 0; }, kJoinLimit);
        s.Check(pinned, "nl80211 station: tx bitrate " + bitrate + " (want " + c.bitrate + ")");
        CtrlSocket* ap = lab.AccessPoint(kCafeNet.apInterface);
        std::string rateInfo;
        const bool received = WaitFor(
            [&] {
                rateInfo = ap ? CtrlSocket::Field(ap->Request("STA " + lab.StationAddress()), "rx_rate_info") : "";
                return rateInfo == c.rateInfo;
            },
            kJoinLimit);
        s.Check(received, "hostapd CafeNet: receives from the station at " + rateInfo + "00 kbit/s (want " +
                              c.rateInfo + "00)");
        const ConnectChannel channel = lab.Service()->Channel();
        const bool coded =
            WaitFor([&] { return channel.Poll(STAT_LINK_INFO) && channel.ReadU16(block::kLinkRate) == c.rateCode; },
                    kJoinLimit);
        s.Check(coded, "block: rate code " + std::to_string(channel.ReadU16(block::kLinkRate)) + " (want " +
                           std::to_string(c.rateCode) + ")");
    }
}

void CardOutAndIn(Scenario& s, Lab& lab)
{
    lab.ForgetAccessPointEvents();
    if (!Apply(s, lab, Config(kAccessPoint, u"CafeNet"), kWepOff, 1, {}))
        return;
    CheckAccessPointJoined(s, lab, kCafeNet);
    WaitBlockLink(s, lab, kCafeNet);
    const std::string phy = ReadLine("/sys/class/net/wlan0/phy80211/name");
    const ConnectChannel channel = lab.Service()->Channel();

    const std::string removed = Shell("iw dev wlan0 del && echo removed");
    s.Check(removed.find("removed") != std::string::npos, "wlan0 removed from " + phy);
    s.Check(WaitFor([&] { return channel.Poll(STAT_CARD_OUT); }, kJoinLimit), "block: STAT_CARD_OUT");
    CtrlSocket* ap = lab.AccessPoint(kCafeNet.apInterface);
    s.Check(ap && ap->WaitForEvent("AP-STA-DISCONNECTED " + lab.StationAddress(), kJoinLimit).has_value(),
            "hostapd CafeNet: AP-STA-DISCONNECTED");

    const std::string added = Shell("iw phy " + phy + " interface add wlan0 type managed && echo added");
    s.Check(added.find("added") != std::string::npos, "wlan0 created again on " + phy);
    // STAT_CARD_IN stands for about a second: watch closely for it.
    const bool cardIn = WaitFor([&] { return channel.Poll(STAT_CARD_IN); }, kJoinLimit);
    s.Check(cardIn, "block: STAT_CARD_IN");
    CheckAccessPointJoined(s, lab, kCafeNet);
    WaitBlockLink(s, lab, kCafeNet);
}

void Domains(Scenario& s, Lab& lab)
{
    struct Domain {
        const char* option;
        const char* country;
        uint16_t mask;
        const char* channels;
    };
    for (const Domain d : {Domain{"fcc", "US", 0x07FF, "1 2 3 4 5 6 7 8 9 10 11"},
                           Domain{"etsi", "DE", 0x1FFF, "1 2 3 4 5 6 7 8 9 10 11 12 13"},
                           Domain{"japan", "JP", 0x3FFF, "1 2 3 4 5 6 7 8 9 10 11 12 13 14"}}) {
        ConnectChannel channel = lab.Service()->Channel();
        channel.Withdraw();
        lab.Service()->Stop();
        if (!s.Check(lab.Service()->Start(d.option), std::string("wlan-connectd --domain ") + d.option + " started"))
            return;
        // The block still shows the last service's answer until the new one starts with its
        // "card in" second; the Configuration page asks after that.
        s.Check(WaitFor([&] { return channel.Poll(STAT_CARD_IN); }, kJoinLimit), "block: STAT_CARD_IN at start");
        channel.PostChannelList();
        const bool listed = WaitFor([&] { return channel.Poll(STAT_CHANNEL_LIST); }, kJoinLimit);
        char detail[96];
        std::snprintf(detail, sizeof detail, "block %s: channel mask 0x%04X (want 0x%04X)", d.option,
                      channel.ChannelMask(), d.mask);
        s.Check(listed && channel.ChannelMask() == d.mask, detail);
        const std::string capability = lab.Supplicant("GET_CAPABILITY channels");
        const size_t at = capability.find("Mode[B] Channels: ");
        const std::string modeB = at == std::string::npos ? "" : Trim(capability.substr(at + 18, capability.find('\n', at) - at - 18));
        s.Check(modeB == d.channels, std::string("supplicant ") + d.country + ": 802.11b channels " + modeB);
        const std::string reg = Shell("iw reg get");
        s.Check(reg.find(std::string("country ") + d.country + ":") != std::string::npos,
                std::string("nl80211: regulatory domain ") + d.country);
    }
}

// Without the service: the supplicant itself joins each access point, proving the networks.
void SupplicantDirect(Scenario& s, Lab& lab)
{
    struct Join {
        const Network& network;
        std::vector<std::string> settings;
        const char* cipher;
    };
    for (const Join& join : {Join{kCafeNet, {}, "NONE"},
                             Join{kHarbour, {"wep_key0 8d2fddc61e", "wep_key1 0dcd931d1d", "wep_key2 b2e8560f4a",
                                             "wep_key3 181bf72700", "wep_tx_keyidx 2", "auth_alg SHARED"}, "WEP-40"},
                             Join{kLighthouse, {"wep_key0 47e172e994b07ec89e7b0f7127", "wep_tx_keyidx 0",
                                                "auth_alg SHARED"}, "WEP-104"}}) {
        lab.ForgetAccessPointEvents();
        lab.Supplicant("REMOVE_NETWORK all");
        const std::string id = lab.Supplicant("ADD_NETWORK");
        std::string hexName;
        for (const char* c = join.network.name; *c; ++c) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(*c));
            hexName += pair;
        }
        std::vector<std::string> settings{"ssid " + hexName, "key_mgmt NONE"};
        settings.insert(settings.end(), join.settings.begin(), join.settings.end());
        bool accepted = true;
        for (const std::string& setting : settings)
            accepted = lab.Supplicant("SET_NETWORK " + id + " " + setting) == "OK" && accepted;
        s.Check(accepted && lab.Supplicant("SELECT_NETWORK " + id) == "OK",
                std::string("supplicant took the network ") + join.network.name);
        CheckAccessPointJoined(s, lab, join.network);
        s.Check(WaitFor([&] { return CtrlSocket::Field(lab.Supplicant("STATUS"), "wpa_state") == "COMPLETED"; }, kJoinLimit),
                "supplicant: COMPLETED");
        CheckSupplicantJoined(s, lab, join.network, join.cipher);
    }
    lab.Supplicant("REMOVE_NETWORK all");
}

// The real utility under Xvfb, used as a person uses it: the Configuration page's name typed
// and applied, 64-bit WEP picked and the passphrase typed and applied on the Encryption page,
// then the Status page. Points are in the window's own coordinates; the sheet has a fixed
// layout.
class Desktop {
public:
    std::string Xdo(const std::string& args) const { return Trim(Shell("DISPLAY=:7 xdotool " + args)); }
    std::string Window(const std::string& name) const { return Xdo("search --onlyvisible --name '^" + name + "$'"); }
    size_t VisibleWindows() const
    {
        const std::string list = Xdo("search --onlyvisible --name ''");
        return list.empty() ? 0 : 1 + static_cast<size_t>(std::count(list.begin(), list.end(), '\n'));
    }
    void Click(const std::string& window, int x, int y, int times = 1) const
    {
        Xdo("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) + " click --repeat " +
            std::to_string(times) + " 1");
    }
    void Type(const std::string& text) const { Xdo("type --delay 60 '" + text + "'"); }
};

void RealUtility(Scenario& s, Lab& lab)
{
    const Options& options = lab.Settings();
    if (!s.Check(!options.utility.empty(), "the utility is given (--utility)"))
        return;
    const std::string runtime = lab.Service()->RuntimeDir();
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    ChildProcess xvfb;
    xvfb.Start({"/usr/bin/Xvfb", ":7", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, options.out + "/xvfb.log");
    if (!s.Check(WaitFor([] { return std::filesystem::exists("/tmp/.X11-unix/X7"); }, kJoinLimit), "Xvfb serves :7"))
        return;
    setenv("DISPLAY", ":7", 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ChildProcess utility;
    utility.Start(lab.Service()->AsServiceUser({options.utility}), options.out + "/utility.log");
    const Desktop desktop;
    std::string sheet;
    if (!s.Check(WaitFor([&] { return !(sheet = desktop.Window("Setup")).empty(); }, 2 * kJoinLimit),
                 "the utility shows its sheet \"Setup\""))
        return;
    sheet = sheet.substr(0, sheet.find('\n'));
    lab.ForgetAccessPointEvents();

    desktop.Click(sheet, 133, 24);     // the Configuration tab
    desktop.Click(sheet, 200, 62, 3);  // Network Name, its text selected
    desktop.Type("Harbour");
    desktop.Click(sheet, 232, 274);    // Apply
    // The page stores the name before it posts the command.
    const char* registry = std::getenv("WLAN_REGISTRY_FILE");
    s.Check(WaitFor([&] { return Shell(std::string("cat ") + registry).find("Harbour") != std::string::npos; }, kJoinLimit),
            "Configuration Apply stored the name Harbour");

    desktop.Click(sheet, 236, 25);     // the Encryption tab
    const size_t windowsBefore = desktop.VisibleWindows();
    desktop.Click(sheet, 220, 62);     // Encryption(WEP): its list opens
    // Its list is a window of its own, without a name to search for.
    s.Check(WaitFor([&] { return desktop.VisibleWindows() > windowsBefore; }, kJoinLimit), "the WEP list opened");
    desktop.Click(sheet, 184, 86);     // "64 Bit"
    desktop.Click(sheet, 200, 90);     // Passphrase
    desktop.Type("harbour");
    desktop.Click(sheet, 236, 274);    // Apply
    desktop.Click(sheet, 43, 25);      // the Status tab

    CheckAccessPointJoined(s, lab, kHarbour);
    WaitBlockLink(s, lab, kHarbour);
    CheckSupplicantJoined(s, lab, kHarbour, "WEP-40");
    // The Status page shows the block every half second: let it draw the link twice.
    std::this_thread::sleep_for(1500ms);
    const std::string picture = options.out + "/real-link.png";
    Shell("import -display :7 -window " + sheet + " " + picture);
    s.Check(std::filesystem::exists(picture), "screenshot " + picture);
    utility.Stop();
    xvfb.Stop();
}

// --- scenarios of the NetworkManager backend alone ------------------------------------------

// NetworkManager has no transmit-rate setting, so only power save reaches the card; the rate
// sets still go out as the utility sends them, and the service says once that it keeps them.
void PowerSaveOnly(Scenario& s, Lab& lab)
{
    struct Case {
        uint16_t rates;
        uint16_t ps;
        const char* powerSave;
    };
    for (const Case c : {Case{kRates1, kPsOn, "Power save: on"}, Case{kRates2, kPsOff, "Power save: off"}}) {
        s.Note("rate set " + std::to_string(c.rates) + ", power-save mode " + std::to_string(c.ps));
        lab.ForgetAccessPointEvents();
        if (!Apply(s, lab, Config(kAccessPoint, u"CafeNet", 6, c.rates, c.ps), kWepOff, 1, {}))
            return;
        CheckAccessPointJoined(s, lab, kCafeNet);
        WaitBlockLink(s, lab, kCafeNet);
        CheckSupplicantJoined(s, lab, kCafeNet, "NONE");
        std::string ps;
        WaitFor([&] { return (ps = Trim(Shell("iw dev wlan0 get power_save"))) == c.powerSave; }, kJoinLimit);
        s.Check(ps == c.powerSave, "nl80211: '" + ps + "' (want '" + c.powerSave + "')");
    }
    const std::string log = lab.Service()->LogSinceStart();
    size_t said = 0;
    for (size_t at = log.find("no transmit-rate setting"); at != std::string::npos;
         at = log.find("no transmit-rate setting", at + 1))
        ++said;
    s.Check(said == 1, "service log: 'no transmit-rate setting' said " + std::to_string(said) + " time(s) (want once)");
}

// The 2.4 GHz channels the kernel allows the station's radio now, as a channel mask.
uint16_t KernelChannelMask()
{
    const std::string phy = ReadLine("/sys/class/net/wlan0/phy80211/name");
    std::istringstream lines(Shell("iw phy " + phy + " info"));
    uint16_t mask = 0;
    for (std::string line; std::getline(lines, line);) {
        unsigned mhz = 0;
        unsigned channel = 0;
        if (std::sscanf(line.c_str(), " * %u MHz [%u]", &mhz, &channel) == 2 && mhz < 2500 && channel >= 1 &&
            channel <= 14 && line.find("disabled") == std::string::npos)
            mask = static_cast<uint16_t>(mask | (1u << (channel - 1)));
    }
    return mask;
}

// Under NetworkManager the service sets no country (it has no privilege to): the machine's
// regulatory domain, set here as root would set it, decides, and the block lists the channels
// the kernel allows in it.
void DomainsFromKernel(Scenario& s, Lab& lab)
{
    struct Domain {
        const char* country;
        uint16_t mask;
    };
    ConnectChannel channel = lab.Service()->Channel();
    for (const Domain d : {Domain{"US", 0x07FF}, Domain{"DE", 0x1FFF}, Domain{"JP", 0x3FFF}}) {
        Shell(std::string("iw reg set ") + d.country);
        uint16_t kernel = 0;
        const bool set = WaitFor([&] { return (kernel = KernelChannelMask()) == d.mask; }, kJoinLimit);
        char detail[96];
        std::snprintf(detail, sizeof detail, "nl80211 %s: channel mask 0x%04X (want 0x%04X)", d.country, kernel, d.mask);
        s.Check(set, detail);
        // The service may answer before the new domain reaches it: ask again until it agrees.
        channel.PostChannelList();
        const bool listed = WaitFor(
            [&] {
                if (!channel.Poll(STAT_CHANNEL_LIST))
                    return false;
                if (channel.ChannelMask() == kernel)
                    return true;
                channel.PostChannelList();
                return false;
            },
            kJoinLimit);
        std::snprintf(detail, sizeof detail, "block %s: channel mask 0x%04X (the kernel's 0x%04X)", d.country,
                      channel.ChannelMask(), kernel);
        s.Check(listed && channel.ChannelMask() == kernel, detail);
    }
}

// Events of an access point since last asked that contain `text` ("" when none).
std::string EventSeen(Lab& lab, const Network& network, const std::string& text)
{
    CtrlSocket* ap = lab.AccessPoint(network.apInterface);
    for (const std::string& event : ap ? ap->Events() : std::vector<std::string>{})
        if (event.find(text) != std::string::npos)
            return network.name + std::string(": ") + event;
    return {};
}

// Watches for `length` that the card stays with `stay`: the block shows its BSSID, the access
// point keeps the station, and `other` never sees it join. Answers what moved, or "".
std::string WatchStay(Lab& lab, const Network& stay, const Network& other, Clock::duration length)
{
    const ConnectChannel channel = lab.Service()->Channel();
    const auto end = Clock::now() + length;
    while (Clock::now() < end) {
        if (channel.Poll(STAT_LINK_INFO) && BlockBssid(channel) != stay.bssid)
            return "block showed " + BssidText(BlockBssid(channel));
        for (const std::string& moved : {EventSeen(lab, stay, "AP-STA-DISCONNECTED"), EventSeen(lab, other, "AP-STA-CONNECTED")})
            if (!moved.empty())
                return "hostapd " + moved;
        std::this_thread::sleep_for(500ms);
    }
    return {};
}

// A person's own auto-connecting profile for CafeNet beside the service's: the service's
// Apply holds, and the person's later choice in the desktop's menu holds too.
void Coexist(Scenario& s, Lab& lab)
{
    const std::string added = Shell(std::string("nmcli connection add type wifi ifname wlan0 con-name ") + kLabProfile +
                                    " ssid CafeNet connection.autoconnect yes");
    s.Check(added.find("successfully added") != std::string::npos,
            std::string("nmcli: an auto-connecting profile for CafeNet, ") + kLabProfile + ": " + Trim(added));
    lab.ForgetAccessPointEvents();
    if (!Apply(s, lab, Config(kAccessPoint, u"Harbour"), kWep64, 1, kHarbourKeys))
        return;
    CheckAccessPointJoined(s, lab, kHarbour);
    WaitBlockLink(s, lab, kHarbour);
    CheckSupplicantJoined(s, lab, kHarbour, "WEP-40");

    lab.ForgetAccessPointEvents();
    const std::string moved = WatchStay(lab, kHarbour, kCafeNet, 60s);
    s.Check(moved.empty(), "60 s on Harbour with no flip" + (moved.empty() ? "" : ": " + moved));
    const std::vector<std::string> profiles = ServiceProfiles();
    const std::string active = NmField(NmDevice(), "GENERAL.CON-UUID");
    s.Check(profiles.size() == 1 && active == profiles[0], "nmcli: the service's profile is still the active one " + active);

    // The person picks CafeNet in the desktop's menu; the lab watches the access point and the
    // block meanwhile, so that the delay between them is the service's own.
    ChildProcess menu;
    menu.Start(lab.Service()->AsServiceUser({"nmcli", "connection", "up", kLabProfile}), lab.Settings().out + "/nmcli.log");
    const ConnectChannel channel = lab.Service()->Channel();
    std::optional<Clock::time_point> associated;
    const bool shown = WaitFor(
        [&] {
            if (!associated && !EventSeen(lab, kCafeNet, "AP-STA-CONNECTED").empty())
                associated = Clock::now();
            return channel.Poll(STAT_LINK_INFO) && BlockBssid(channel) == kCafeNet.bssid;
        },
        kJoinLimit);
    s.Check(shown, "block: CafeNet's BSSID " + BssidText(BlockBssid(channel)));
    if (associated) {
        char detail[128];
        std::snprintf(detail, sizeof detail, "the block showed CafeNet %.1f s after its access point saw the station join",
                      std::chrono::duration<double>(Clock::now() - *associated).count());
        s.Note(detail);
    }
    s.Check(menu.Wait() == 0, std::string("nmcli connection up ") + kLabProfile + " as " + lab.Service()->UserName());

    lab.ForgetAccessPointEvents();
    const std::string back = WatchStay(lab, kCafeNet, kHarbour, 15s);
    s.Check(back.empty(), "15 s on CafeNet: the service leaves it be" + (back.empty() ? "" : ": " + back));
    const std::string device = NmDevice();
    s.Check(NmConnected(device) && NmField(device, "GENERAL.CONNECTION") == kLabProfile,
            "nmcli: wlan0 " + NmField(device, "GENERAL.STATE") + " with '" + NmField(device, "GENERAL.CONNECTION") + "'");
    Shell(std::string("nmcli connection delete ") + kLabProfile);
}

// The service's log line that names its backend.
std::string BackendLine(const std::string& log)
{
    const size_t at = log.find("backend: ");
    return at == std::string::npos ? "(none yet)" : log.substr(at, log.find('\n', at) - at);
}

// --backend auto picks NetworkManager while it runs and manages the card, and the supplicant's
// control socket on a machine where a plain supplicant runs instead. Last: it stops
// NetworkManager for good.
void AutoBackend(Scenario& s, Lab& lab)
{
    LabService& service = *lab.Service();
    ConnectChannel channel = service.Channel();
    for (const bool networkManager : {true, false}) {
        channel.Withdraw();
        service.Stop();
        if (!networkManager && !s.Check(lab.ReplaceNetworkManagerWithSupplicant(),
                                        "NetworkManager and its supplicant stopped, a plain supplicant started"))
            return;
        service.SetBackend("auto");
        if (!s.Check(service.Start(""), "wlan-connectd --backend auto started"))
            return;
        const std::string want = networkManager ? "backend: NetworkManager" : "backend: the supplicant";
        const bool named = WaitFor([&] { return service.LogSinceStart().find(want) != std::string::npos; }, kJoinLimit);
        s.Check(named, "service log: " + BackendLine(service.LogSinceStart()));
        lab.ForgetAccessPointEvents();
        if (!Apply(s, lab, Config(kAccessPoint, u"CafeNet"), kWepOff, 1, {}))
            return;
        CheckAccessPointJoined(s, lab, kCafeNet);
        WaitBlockLink(s, lab, kCafeNet);
        CheckSupplicantJoined(s, lab, kCafeNet, "NONE");
    }
}

enum class Backend { Supplicant, NetworkManager };

struct Entry {
    const char* name;
    void (*run)(Scenario&, Lab&);
    bool needsService;
    Backend backend = Backend::Supplicant;  // the guest it runs in
};
const Entry kScenarios[] = {
    {"supplicant", SupplicantDirect, false},
    {"join", JoinAccessPoints, true},
    {"wrong_key", WrongKey, true},
    {"peer", PeerToPeer, true},
    {"power_rate", PowerSaveAndRates, true},
    {"utility", RealUtility, true},
    {"card", CardOutAndIn, true},
    {"domains", Domains, true},
    // The same on NetworkManager, where it can do them, and what only NetworkManager has.
    {"nm_join", JoinAccessPoints, true, Backend::NetworkManager},
    {"nm_wrong_key", WrongKey, true, Backend::NetworkManager},
    {"nm_peer", PeerToPeer, true, Backend::NetworkManager},
    {"nm_power", PowerSaveOnly, true, Backend::NetworkManager},
    {"nm_utility", RealUtility, true, Backend::NetworkManager},
    {"nm_card", CardOutAndIn, true, Backend::NetworkManager},
    {"nm_domains", DomainsFromKernel, true, Backend::NetworkManager},
    {"nm_coexist", Coexist, true, Backend::NetworkManager},
    {"nm_auto", AutoBackend, true, Backend::NetworkManager},
};

bool Selected(const std::string& list, const std::string& name)
{
    return ("," + list + ",").find("," + name + ",") != std::string::npos;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--ctrl-dir")
            options.ctrlDir = value;
        else if (flag == "--hostapd-dir")
            options.hostapdDir = value;
        else if (flag == "--out")
            options.out = value;
        else if (flag == "--connectd")
            options.connectd = value;
        else if (flag == "--utility")
            options.utility = value;
        else if (flag == "--scenarios")
            options.scenarios = value;
        else if (flag == "--backend")
            options.backend = value;
        else {
            std::fprintf(stderr, "radiolab_driver: unknown option %s\n", flag.c_str());
            return 2;
        }
    }

    Lab lab(options);
    // On NetworkManager the service starts as the user unit starts it, with no country.
    if (lab.Service() && !lab.Service()->Start(lab.UnderNetworkManager() ? "" : "fcc")) {
        std::printf("RADIOLAB-SETUP-FAILED wlan-connectd did not start: %s\n", options.connectd.c_str());
        return 1;
    }
    bool allPassed = true;
    for (const Entry& entry : kScenarios) {
        const Backend guest = lab.UnderNetworkManager() ? Backend::NetworkManager : Backend::Supplicant;
        const bool wanted = entry.backend == guest && (options.scenarios.empty()
                                                           ? entry.needsService == (lab.Service() != nullptr)
                                                           : Selected(options.scenarios, entry.name));
        if (!wanted)
            continue;
        Scenario scenario(entry.name);
        if (entry.needsService && !lab.Service())
            scenario.Check(false, "needs wlan-connectd (--connectd)");
        else
            entry.run(scenario, lab);
        std::printf("RADIOLAB %s %s %.1fs%s%s\n", entry.name, scenario.Passed() ? "PASS" : "FAIL", scenario.Elapsed(),
                    scenario.Passed() ? "" : " ", scenario.Failure().c_str());
        allPassed = allPassed && scenario.Passed();
    }
    // The lab ran to its end; the verdicts above are the results.
    std::printf("RADIOLAB-DRIVER-END\n");
    return allPassed ? 0 : 1;
}
