#pragma once

// Every user text the tests expect, written out once, byte for byte as the product must show it. The
// product's own constants are never used here: a test that compared a text with itself would guard nothing.

namespace kavrel::expected {

// ---- Connector health and connector failure descriptions ----

// The supervisor's state line.
inline constexpr const char* helperStarting = "Starting companion…";
inline constexpr const char* helperConnecting = "Connecting companion…";
inline constexpr const char* helperReady = "Local helper ready";
inline constexpr const char* helperKeychain =
    "Keyring or private storage is unavailable. Unlock your keyring and reconnect.";
inline constexpr const char* helperBundle =
    "The bundled connector could not start. Reinstall this companion build.";
inline constexpr const char* helperProtocolError = "Connector protocol error. Reconnecting…";
inline constexpr const char* helperUnresponsive = "Connector did not respond. Reconnecting…";
inline constexpr const char* helperStopped = "Connector stopped. Reconnecting…";

// What a connector failure code reads as.
inline constexpr const char* describeMigration =
    "This folder contains legacy connector settings. Use a fresh desktop state folder.";
inline constexpr const char* describeInvalidCode =
    "That pairing code is invalid or expired. Create a new code in Kavrel.";
inline constexpr const char* describeAlreadyPaired =
    "Already paired. Choose Replace pairing to change accounts.";
inline constexpr const char* describeGeneric =
    "The connector could not complete that request. Check your connection and try again.";

// ---- end of connector texts ----

// ---- Model: notices, status lines, discovery, music sharing ----

inline constexpr char originRefused[] = "Enter an HTTPS origin without a path, credentials, or query.";
inline constexpr char startFailed[] =
    "Pair this companion with Kavrel to connect. Your existing pairing is kept until replacement succeeds.";
inline constexpr char codeTooLong[] = "That pairing code is too long.";
inline constexpr char paired[] = "Paired. Enable your sources in Kavrel Settings.";
inline constexpr char paused[] = "Connector paused. Reconnect to resume.";
inline constexpr char roonReset[] = "Approve this extension again in Roon Settings \u2192 Extensions.";
inline constexpr char roonResetFailed[] =
    "Couldn\u2019t reset Roon authorization. Pause the connector and try again.";
inline constexpr char waitingForMusic[] = "Waiting for Music";
inline constexpr char sharingOff[] = "Music sharing off";
inline constexpr char allowMusicState[] =
    "Allow Music in System Settings \u2192 Privacy & Security \u2192 Automation.";
inline constexpr char permissionGranted[] = "Music permission granted.";
inline constexpr char permissionFailed[] =
    "Allow Music access in System Settings \u2192 Privacy & Security \u2192 Automation.";
inline constexpr char diagnosticsCopied[] =
    "Music diagnostics copied. No song names, track IDs or account details are included.";
// Roon discovery, in the order idle, searching, found, notFound, networkDenied, unavailable.
inline constexpr const char* discovery[] = {
    "Find a Roon Server on this computer\u2019s local network. Cloud pairing is not required to search.",
    "Searching your local network for a Roon Server\u2026",
    "Roon Server found. Discovery does not authorize the extension. Pair with Kavrel below before this "
    "computer\u2019s extension appears in Roon.",
    "No Roon Server found. Check that it is running on the same network, then try Find Roon Server again. "
    "You can also enter its host:port above.",
    "Allow Kavrel through your firewall on the local network, then try Find Roon Server again.",
    "Local discovery is unavailable. Reconnect the companion, then try Find Roon Server again."};
inline constexpr char cloudReauthorize[] =
    "Cloud uploads paused. Pair again using a new code from Kavrel Settings.";
inline constexpr char cloudTerms[] =
    "Cloud uploads paused. Open Kavrel to accept updated terms, then check the connection.";
inline constexpr char cloudWaiting[] =
    "Waiting for a cloud connection. Pending plays remain on this computer.";
inline constexpr char scrobblingUnknown[] = "Enable Apple Music scrobbling in Kavrel Settings.";
inline constexpr char scrobblingOff[] = "Scrobbling off. Enable Apple Music scrobbling in Kavrel Settings.";
inline constexpr char scrobblingRelogin[] = "Reconnect Last.fm in Kavrel Settings to resume scrobbling.";
inline constexpr char scrobblingStorage[] =
    "Scrobbling paused: local storage could not be saved. Restart the companion to retry.";
inline constexpr char scrobblingWaiting[] =
    "Scrobbling is waiting for a connection. Pending plays remain on this computer.";
inline constexpr char scrobblingOn[] = "Scrobbling to Last.fm";
// The clauses after a base text: each follows the separator and, but for "Checking ", a count.
inline constexpr char separator[] = " \u00B7 ";
inline constexpr char scrobblingPending[] = " pending";
inline constexpr char scrobblingChecking[] = "Checking ";
inline constexpr char scrobblingUncertain[] = " uncertain submissions";
inline constexpr char scrobblingIgnored[] = " plays not accepted by Last.fm";
inline constexpr char scrobblingDropped[] = " plays expired or exceeded queue capacity";

// ---- end of model texts ----

// ---- Storage and platform ----

// ---- end of storage and platform texts ----

// ---- Application shell: menu, settings window, about panel ----

// The texts that name a place, as a Linux desktop reads them.
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
// The tray item and its menu, as a StatusNotifierItem panel reads them.
inline constexpr const char* trayTitle = "Kavrel Companion";
inline constexpr const char* settingsWindowTitle = "Kavrel Companion";
inline constexpr const char* menuAbout = "About Kavrel Companion…";
inline constexpr const char* menuSettings = "Settings…";
inline constexpr const char* menuOpenKavrel = "Open Kavrel";
inline constexpr const char* menuCheckForUpdates = "Check for updates…";
inline constexpr const char* menuReconnect = "Reconnect";
inline constexpr const char* menuPauseConnector = "Pause connector";

// ---- end of shell texts ----

} // namespace kavrel::expected
