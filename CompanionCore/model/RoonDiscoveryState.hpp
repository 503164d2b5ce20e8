#pragma once

#include <string_view>

namespace kavrel {

// Where the search for a Roon Server on the local network stands.
enum class RoonDiscoveryState { idle, searching, found, notFound, networkDenied, unavailable };

// The sentence the settings window shows for the state.
std::string_view message(RoonDiscoveryState state);
// The outcome's label in the discovery log line.
std::string_view outcomeLabel(RoonDiscoveryState state);

} // namespace kavrel
