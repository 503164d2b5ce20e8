#include "CompanionCore/music/MusicAccess.hpp"

#include <stdexcept>

namespace kavrel {

namespace {

// The music app layer's error vocabulary: the description is the machine code itself.
class MusicCodeError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

} // namespace

void MusicAccess::requestAuthorization() {}

JSONObject MusicAccess::favoriteDiagnostics() {
    return JSONObject{{"stage", "not_observed"}};
}

std::optional<JSONObject> MusicAccess::artworkSnapshot() {
    return std::nullopt;
}

bool MusicAccess::favorite(const std::string& trackRef, const Admission& admission) {
    // No admission at all means nothing can withdraw the read.
    const auto admitted = [&admission] {
        return !admission || admission();
    };
    if (!admitted()) {
        throwExpired();
    }
    const bool value = favorite(trackRef);
    if (!admitted()) {
        throwExpired();
    }
    return value;
}

void MusicAccess::throwExpired() {
    throw MusicCodeError("native_command_expired");
}

} // namespace kavrel
