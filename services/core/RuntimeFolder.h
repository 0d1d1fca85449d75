#pragma once
// The private folder where a connection service keeps what belongs to one user's session: the
// simulator's control socket, the lock that lets one service serve a block.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace service {

// $XDG_RUNTIME_DIR when it is a private folder of ours, else /tmp/wlan-cardsim-UID, made
// private if needed. Nothing, with the reason, when neither can be had. Every service and
// client of one user resolves it alike, with raised privileges or without.
inline constexpr const char* kFallbackBase = "/tmp";
std::optional<std::filesystem::path> RuntimeFolder(std::string& error,
                                                   const std::filesystem::path& fallbackBase = kFallbackBase);

// `prefix` + the block's name with anything but letters, digits, '-', '_' and '.' as '_'.
std::string FileNameFor(std::string_view prefix, std::string_view blockName, std::string_view suffix);

} // namespace service
