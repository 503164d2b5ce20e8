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

// The tray item and its menu, as a StatusNotifierItem panel reads them.
inline constexpr const char* trayTitle = "Kavrel Companion";
inline constexpr const char* settingsWindowTitle = "Kavrel Companion";
inline constexpr const char* statusLocalHelperReady = "Local helper ready";
inline constexpr const char* menuAbout = "About Kavrel Companion…";
inline constexpr const char* menuSettings = "Settings…";
inline constexpr const char* menuOpenKavrel = "Open Kavrel";
inline constexpr const char* menuCheckForUpdates = "Check for updates…";
inline constexpr const char* menuReconnect = "Reconnect";
inline constexpr const char* menuPauseConnector = "Pause connector";
inline constexpr const char* menuQuit = "Quit Kavrel";

// ---- end of shell texts ----

} // namespace kavrel::expected
