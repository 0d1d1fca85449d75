#pragma once
// The texts of wpa_supplicant's control interface, read and written. Replies come from another
// process and may be cut short, empty, or from a driver that knows less than a radio does:
// every reader answers nothing or leaves a field absent rather than guess. Every command built
// here carries values from the block only as hexadecimal digits or numbers checked first.

#include "CardTypes.h"
#include "RegulatoryDomain.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace connectd {

struct SupplicantStatus {
    std::string wpaState;                  // "COMPLETED", "DISCONNECTED", ...
    std::optional<service::Bssid> bssid;
    int freq = 0;                          // MHz; 0 when the reply has none
    std::string mode;                      // "station", "IBSS", ...; empty when absent
    std::string ssid;                      // as the supplicant prints it (non-printable bytes escaped)
};

struct SignalPoll {
    // dBm. Absent when the driver reports 0: it has no measurement (a peer-to-peer cell).
    std::optional<int> rssi;
    int linkSpeed = 0;                     // whole Mbps: 5.5 shows as 5; 0 when unknown
    std::optional<int> noise;              // dBm; absent when missing or the "unknown" 9999
    int frequency = 0;                     // MHz
};

enum class EventKind { Connected, Disconnected, Terminating, StateChange, TempDisabled, ScanResults, Other };

struct SupplicantEvent {
    EventKind kind = EventKind::Other;
    std::string state;    // StateChange: the new state's name ("COMPLETED"), or its number if unknown
    std::string ssid;     // TempDisabled: as quoted by the supplicant
    std::string reason;   // TempDisabled: "CONN_FAILED", "WRONG_KEY", ...
    std::string text;     // the event as received, priority prefix removed
};

std::optional<SupplicantStatus> ParseStatus(std::string_view reply);
// Nothing for "FAIL" (not associated) or a reply without RSSI and LINKSPEED.
std::optional<SignalPoll> ParseSignalPoll(std::string_view reply);
std::optional<uint8_t> ChannelFromFrequency(int mhz);

// The highest 802.11b rate the link reaches: 11 Mbps and faster -> 8, 5 up to 10 -> 4 (5.5),
// 2 up to 4 -> 2, 1 -> 1, 0 (unknown) -> 0.
uint16_t RateCode(int linkSpeedMbps);
// 0..15, linear from -90 dBm (0) to -35 dBm (15), clamped.
uint8_t Strength(int rssiDbm);
// The noise floor assumed when the driver does not report one.
inline constexpr int kAssumedNoiseDbm = -95;
// 0..15, linear in the signal-to-noise ratio from 0 dB (0) to 40 dB (15), clamped.
uint8_t Quality(int rssiDbm, std::optional<int> noiseDbm);

// Bit i set: channel i + 1 may be used, from the reply to GET_CAPABILITY channels: the
// Mode[B] line, or Mode[G] when there is no B line with a channel. Nothing when neither lists
// a channel from 1 to 14 (the wired driver answers FAIL or nothing at all).
std::optional<uint16_t> ChannelMask(std::string_view reply);

SupplicantEvent ParseEvent(std::string_view text);

// The one log line saying why these settings cannot be given to the supplicant; nothing when
// they can.
std::optional<std::string> Refusal(const service::StationConfig& config, const service::WepSettings& wep);
// The SET_NETWORK commands that build network `id` from the settings; none when Refusal has
// a reason.
std::vector<std::string> NetworkCommands(int id, const service::StationConfig& config,
                                         const service::WepSettings& wep);
// psMode 2 (enabled) -> "SET ps 1"; anything else -> "SET ps 0".
std::string PowerSaveCommand(uint16_t psMode);
std::string CountryCommand(const service::RegulatoryDomain& domain);

} // namespace connectd
