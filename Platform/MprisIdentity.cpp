#include "Platform/MprisIdentity.hpp"

#include <cstdio>
#include <limits>

namespace kavrel {
namespace {

constexpr std::string_view busNamePrefix = "org.mpris.MediaPlayer2.";

// FNV-1a: fixed by definition, unlike std::hash, so identifiers do not change between builds.
std::uint64_t fnv1a(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325ULL) {
    for (const char byte : text) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The tag keeps a track id from colliding with a URL of the same text.
MprisIdentity derive(std::string_view player, std::string_view tag, std::string_view key) {
    const std::uint64_t hash = fnv1a(key, fnv1a(tag, fnv1a(std::string(player) + '\n')));
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(hash));
    constexpr std::uint64_t largest = std::numeric_limits<std::int32_t>::max();
    return MprisIdentity{hex, static_cast<std::int64_t>((hash >> 32) % largest + 1)};
}

} // namespace

std::optional<MprisIdentity> MprisIdentity::of(std::string_view player, const MprisMetadata& metadata) {
    if (metadata.trackID) {
        return derive(player, "trackid\n", *metadata.trackID);
    }
    if (metadata.url) {
        return derive(player, "url\n", *metadata.url);
    }
    return std::nullopt;
}

MprisIdentity MprisIdentity::ofKey(std::string_view player, std::string_view key) {
    return derive(player, "key\n", key);
}

std::string MprisIdentity::playerOf(std::string_view busName) {
    if (busName.substr(0, busNamePrefix.size()) == busNamePrefix) {
        busName.remove_prefix(busNamePrefix.size());
    }
    return std::string(busName.substr(0, busName.find('.')));
}

} // namespace kavrel
