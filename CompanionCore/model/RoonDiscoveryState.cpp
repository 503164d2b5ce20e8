#include "CompanionCore/model/RoonDiscoveryState.hpp"

#include "CompanionCore/runtime/PlaceWording.hpp"

namespace kavrel {

std::string_view message(RoonDiscoveryState state) {
    switch (state) {
    case RoonDiscoveryState::idle:
        return PlaceWording::discoveryIdle;
    case RoonDiscoveryState::searching:
        return "Searching your local network for a Roon Server…";
    case RoonDiscoveryState::found:
        return PlaceWording::discoveryFound;
    case RoonDiscoveryState::notFound:
        return "No Roon Server found. Check that it is running on the same network, then try Find Roon "
               "Server "
               "again. You can also enter its host:port above.";
    case RoonDiscoveryState::networkDenied:
        return PlaceWording::discoveryNetworkDenied;
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
