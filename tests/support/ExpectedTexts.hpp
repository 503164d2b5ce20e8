#pragma once

// Every user text the tests expect, written out once, byte for byte as the product must show it. The
// product's own constants are never used here: a test that compared a text with itself would guard nothing.

namespace kavrel::expected {

// ---- Connector health and connector failure descriptions ----

// ---- end of connector texts ----

// ---- Model: notices, status lines, discovery, music sharing ----

// ---- end of model texts ----

// ---- Storage and platform ----

// ---- end of storage and platform texts ----

// ---- Application shell: menu, settings window, about panel ----

// The texts that name a place, as a Linux desktop reads them.
inline constexpr const char* keyringUnavailable =
    "Keyring or private storage is unavailable. Unlock your keyring and reconnect.";
inline constexpr const char* privateDirectoryAccessHome =
    "Check access to ~/data/KavrelCompanion. The companion will not use an insecure state directory.";
inline constexpr const char* loginItemFailed =
    "Couldn’t change the login item. Check that your autostart folder is writable and try again.";
inline constexpr const char* closingWithTray =
    "Off by default. Closing this window keeps the companion in your system tray. Choose Quit Kavrel to "
    "stop it.";
inline constexpr const char* closingWithoutTray =
    "Off by default. Closing this window keeps the companion running. Choose Quit Kavrel below to stop it.";
inline constexpr const char* pairingHelp =
    "Create a companion pairing code in Kavrel Settings, enter it here, and choose Pair. Then enable your "
    "sources in Kavrel. For Roon, also approve this computer in Roon → Settings → Extensions.";
inline constexpr const char* musicGroup = "Music sharing · beta";
inline constexpr const char* musicSwitch = "Share what’s playing on this computer";
inline constexpr const char* musicExplanation =
    "Shows what your music player is playing in Kavrel. Songs in players that keep favourites (MPD, "
    "Rhythmbox, Quod Libet) can be favorited there. Choose Apple Music, Last.fm, or Both as the heart "
    "destination in Kavrel Settings. Optional Last.fm scrobbling is configured in Kavrel Settings.";
inline constexpr const char* musicPairingHint =
    "Pair this companion and enable Apple Music in Kavrel Settings.";
inline constexpr const char* computerGroup = "On this computer";
inline constexpr const char* platformLine = "Beta · Linux";
inline constexpr const char* quit = "Quit Kavrel";

// ---- end of shell texts ----

} // namespace kavrel::expected
