#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <string>
#include <string_view>

// The privacy-safe report the user copies when music sharing misbehaves. It is built by an
// allow-list: only known keys with values of the expected kind survive, so no song name, artist,
// album or track identifier can ever reach the clipboard, whatever the bridge put in its diagnostics.
namespace kavrel::MusicDiagnosticsReport {

inline constexpr std::string_view unavailableText = "Music diagnostics unavailable";

// Only this many entries of the reference chain are reported.
inline constexpr std::size_t maxChainEntries = 8;

// Pretty-printed JSON (two-space indentation, keys sorted) with "schemaVersion" 1 and the allowed
// entries of `diagnostics`; unavailableText in the unlikely case that it cannot be written.
std::string diagnosticReport(const JSONObject& diagnostics);

} // namespace kavrel::MusicDiagnosticsReport
