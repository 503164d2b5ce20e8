#pragma once

#include "CompanionCore/music/ImageThumbnailer.hpp"
#include "CompanionCore/music/MusicAccess.hpp"
#include "MusicBridge/KVMusicBridge.hpp"

#include <memory>

namespace kavrel {

// MusicAccess over the music bridge: one bridge for the poll, permission, diagnostics and favourites,
// and an independent one for artwork, so each is used from its own queue only. The bridge's failures
// pass through unchanged (their what() is the machine code).
class ScriptingMusicAccess final : public MusicAccess {
public:
    ScriptingMusicAccess(std::unique_ptr<KVMusicBridge> bridge, std::unique_ptr<KVMusicBridge> artworkBridge);

    // The artwork encoder a bridge needs, over the thumbnailer (which must outlive the bridge).
    static KVMusicBridge::ArtworkEncoder artworkEncoder(const ImageThumbnailer& thumbnailer);

    // The bridge's values one to one: Booleans stay Booleans, numbers stay numbers. Throws JSONError
    // for a number JSON cannot carry.
    static JSONObject toJSON(const KVDictionary& dictionary);

    void requestAuthorization() override;
    JSONObject snapshot() override;
    JSONObject favoriteDiagnostics() override;
    std::optional<JSONObject> artworkSnapshot() override;
    bool favorite(const std::string& trackRef) override;
    bool favorite(const std::string& trackRef, const Admission& admission) override;
    bool setFavorite(const std::string& trackRef, bool desired, const Admission& admission) override;

private:
    std::unique_ptr<KVMusicBridge> bridge;
    std::unique_ptr<KVMusicBridge> artworkBridge;
};

} // namespace kavrel
