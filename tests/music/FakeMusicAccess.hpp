#pragma once

#include "CompanionCore/music/MusicAccess.hpp"

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace kavrel {

// A playing track as the bridge reports it.
inline JSONObject playingSnapshot(const std::string& name, const std::string& trackRef = "REF-1") {
    return JSONObject{{"provider", "applemusic"},
                      {"state", "playing"},
                      {"updatedAt", 1.7e12},
                      {"positionMs", 12'000},
                      {"durationMs", 180'000},
                      {"track", JSONObject{{"trackRef", trackRef},
                                           {"name", name},
                                           {"artist", "Artist"},
                                           {"album", "Album"},
                                           {"favorited", false},
                                           {"favoriteWritable", true}}}};
}

inline JSONObject withArtwork(JSONObject snapshot, const std::string& artwork) {
    snapshot["track"].object()->insert_or_assign("artworkBase64", artwork);
    return snapshot;
}

// Scripted through its hooks, which are set before the controller runs; the counters may be read
// from any thread.
class FakeMusicAccess final : public MusicAccess {
public:
    std::function<JSONObject()> onSnapshot = [] {
        return playingSnapshot("Song");
    };
    std::function<std::optional<JSONObject>()> onArtwork = [] {
        return std::nullopt;
    };
    std::function<bool(const std::string&, const Admission&)> onFavorite = [](auto&, auto&) {
        return true;
    };
    std::function<bool(bool, const Admission&)> onSetFavorite = [](bool desired, auto&) {
        return desired;
    };
    std::function<void()> onAuthorization = [] {
    };
    std::function<JSONObject()> onDiagnostics = [] {
        return JSONObject{{"stage", "ready"}};
    };

    std::atomic<int> snapshotReads{0};
    std::atomic<int> artworkReads{0};
    std::atomic<int> favoriteCalls{0};

    void requestAuthorization() override { onAuthorization(); }
    JSONObject snapshot() override {
        ++snapshotReads;
        return onSnapshot();
    }
    JSONObject favoriteDiagnostics() override { return onDiagnostics(); }
    std::optional<JSONObject> artworkSnapshot() override {
        ++artworkReads;
        return onArtwork();
    }
    bool favorite(const std::string& trackRef) override { return favorite(trackRef, Admission()); }
    bool favorite(const std::string& trackRef, const Admission& admission) override {
        ++favoriteCalls;
        return onFavorite(trackRef, admission);
    }
    bool setFavorite(const std::string&, bool desired, const Admission& admission) override {
        ++favoriteCalls;
        return onSetFavorite(desired, admission);
    }
};

} // namespace kavrel
