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
    "Keychain or private storage is unavailable. Unlock your Mac and reconnect.";
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

// ---- end of model texts ----

// ---- Storage and platform ----

// ---- end of storage and platform texts ----

// ---- Application shell: menu, settings window, about panel ----

// ---- end of shell texts ----

} // namespace kavrel::expected
