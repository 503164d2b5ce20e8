#include "CompanionCore/model/RoonDiscoveryState.hpp"

namespace kavrel {

std::string_view message(RoonDiscoveryState state) {
    switch (state) {
    case RoonDiscoveryState::idle:
        return "Find a Roon Server on this Mac’s local network. Cloud pairing is not required to search.";
    case RoonDiscoveryState::searching:
        return "Searching your local network for a Roon Server…";
    case RoonDiscoveryState::found:
        return "Roon Server found. Discovery does not authorize the extension. Pair with Kavrel below before "
               "this Mac’s extension appears in Roon.";
    case RoonDiscoveryState::notFound:
        return "No Roon Server found. Check that it is running on the same network, then try Find Roon "
               "Server "
               "again. You can also enter its host:port above.";
    case RoonDiscoveryState::networkDenied:
        return "Allow Kavrel in System Settings → Privacy & Security → Local Network, then try Find Roon "
               "Server again.";
    case RoonDiscoveryState::unavailable:
        break;
    }
    return "Local discovery is unavailable. Reconnect the companion, then try Find Roon Server again.";
}

std::string_view outcomeLabel(RoonDiscoveryState state) {
    switch (state) {
    case RoonDiscoveryState::found:
        return "found";
    case RoonDiscoveryState::notFound:
        return "not_found";
    case RoonDiscoveryState::networkDenied:
        return "permission_denied";
    default:
        return "unavailable";
    }
}

} // namespace kavrel
