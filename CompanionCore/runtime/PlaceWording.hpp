#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavrel::PlaceWording {

// The user texts that name a place or facility of the computer the companion runs on, worded for a
// Linux desktop. They are kept together so that a port to another desktop changes one table; every
// other user text names only the service and is used as written wherever it is shown.

inline constexpr std::string_view keyringUnavailable =
    "Keyring or private storage is unavailable. Unlock your keyring and reconnect.";
inline constexpr std::string_view loginItemFailed =
    "Couldn’t change the login item. Check that your autostart folder is writable and try again.";

inline constexpr std::string_view cloudWaiting =
    "Waiting for a cloud connection. Pending plays remain on this computer.";
inline constexpr std::string_view scrobblingWaiting =
    "Scrobbling is waiting for a connection. Pending plays remain on this computer.";

inline constexpr std::string_view discoveryIdle =
    "Find a Roon Server on this computer’s local network. Cloud pairing is not required to search.";
inline constexpr std::string_view discoveryFound =
    "Roon Server found. Discovery does not authorize the extension. Pair with Kavrel below before this "
    "computer’s extension appears in Roon.";
inline constexpr std::string_view discoveryNetworkDenied =
    "Allow Kavrel through your firewall on the local network, then try Find Roon Server again.";

inline constexpr std::string_view pairingHelp =
    "Create a companion pairing code in Kavrel Settings, enter it here, and choose Pair. Then enable your "
    "sources in Kavrel. For Roon, also approve this computer in Roon → Settings → Extensions.";

inline constexpr std::string_view musicGroup = "Music sharing · beta";
inline constexpr std::string_view musicSharingOff = "Music sharing off";
inline constexpr std::string_view musicSwitch = "Share what’s playing on this computer";
inline constexpr std::string_view musicExplanation =
    "Shows what your music player is playing in Kavrel. Songs in players that keep favourites (MPD, "
    "Rhythmbox, Quod Libet) can be favorited there. Choose Apple Music, Last.fm, or Both as the heart "
    "destination in Kavrel Settings. Optional Last.fm scrobbling is configured in Kavrel Settings.";
inline constexpr std::string_view musicPairingHint =
    "Pair this companion and enable Apple Music in Kavrel Settings.";

inline constexpr std::string_view computerGroup = "On this computer";
// Where a closed window leaves the companion depends on whether the desktop shows a tray right now.
inline constexpr std::string_view closingWithTray =
    "Off by default. Closing this window keeps the companion in your system tray. Choose Quit Kavrel to "
    "stop it.";
inline constexpr std::string_view closingWithoutTray =
    "Off by default. Closing this window keeps the companion running. Choose Quit Kavrel below to stop it.";

inline constexpr std::string_view platformLine = "Beta · Linux";

// "Check access to <directory>. …", with the home directory written as "~" so the path stays short.
std::string privateDirectoryAccess(const std::filesystem::path& directory, const std::filesystem::path& home);

} // namespace kavrel::PlaceWording
