#include "CompanionCore/music/ScriptingMusicAccess.hpp"

#include "CompanionCore/ipc/JSONError.hpp"

#include <cmath>

namespace kavrel {
namespace {

JSONValue toJSONValue(const KVValue& value) {
    if (const auto* flag = value.boolean()) {
        return *flag;
    }
    if (const auto* number = value.number()) {
        if (!std::isfinite(*number)) {
            throw JSONError("a music value is not a finite number");
        }
        return *number;
    }
    if (const auto* text = value.string()) {
        return *text;
    }
    if (const auto* array = value.array()) {
        JSONArray elements;
        elements.reserve(array->size());
        for (const auto& element : *array) {
            elements.push_back(toJSONValue(element));
        }
        return elements;
    }
    if (const auto* dictionary = value.dictionary()) {
        return ScriptingMusicAccess::toJSON(*dictionary);
    }
    return nullptr;
}

} // namespace

ScriptingMusicAccess::ScriptingMusicAccess(std::unique_ptr<KVMusicBridge> bridge,
                                           std::unique_ptr<KVMusicBridge> artworkBridge)
    : bridge(std::move(bridge)), artworkBridge(std::move(artworkBridge)) {}

KVMusicBridge::ArtworkEncoder ScriptingMusicAccess::artworkEncoder(const ImageThumbnailer& thumbnailer) {
    return [&thumbnailer](const std::vector<std::uint8_t>& raw) {
        return thumbnailer.thumbnailBase64(
            std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
    };
}

JSONObject ScriptingMusicAccess::toJSON(const KVDictionary& dictionary) {
    JSONObject object;
    for (const auto& [key, value] : dictionary) {
        object.insert_or_assign(key, toJSONValue(value));
    }
    return object;
}

void ScriptingMusicAccess::requestAuthorization() {
    bridge->requestPermission();
}

JSONObject ScriptingMusicAccess::snapshot() {
    return toJSON(bridge->readSnapshot());
}

JSONObject ScriptingMusicAccess::favoriteDiagnostics() {
    return toJSON(bridge->favoriteDiagnostics());
}

std::optional<JSONObject> ScriptingMusicAccess::artworkSnapshot() {
    artworkBridge->readPlaybackSnapshot(); // refreshes the track whose artwork is wanted
    const KVDictionary withArtwork = artworkBridge->readArtworkSnapshot();
    if (withArtwork.empty()) {
        return std::nullopt;
    }
    return toJSON(withArtwork);
}

bool ScriptingMusicAccess::favorite(const std::string& trackRef) {
    return bridge->favoriteForTrackRef(trackRef);
}

bool ScriptingMusicAccess::favorite(const std::string& trackRef, const Admission& admission) {
    return bridge->favoriteForTrackRef(trackRef, admission);
}

bool ScriptingMusicAccess::setFavorite(const std::string& trackRef, bool desired,
                                       const Admission& admission) {
    return bridge->setFavorite(desired, trackRef, admission);
}

} // namespace kavrel
