#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <string>

namespace kavrel {

// The settings window's line about uploads to the service, from the connector status's "cloud"
// member (nullptr when the status has none or it is not an object). Empty: show no line.
namespace CloudStatus {
std::string message(const JSONObject* cloud);
} // namespace CloudStatus

// The line about Last.fm scrobbling, from the status's "scrobbling" member (nullptr likewise).
namespace ScrobblingStatus {
std::string message(const JSONObject* scrobbling);
} // namespace ScrobblingStatus

// The member of a status object under that key when it is an object, else nullptr.
const JSONObject* statusMember(const JSONObject& status, std::string_view key);

} // namespace kavrel
