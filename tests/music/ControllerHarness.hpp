#pragma once

#include "CompanionCore/music/MusicAccess.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavrel {

// A playing track as the bridge reports it.
inline JSONObject playingSnapshot(const std::string& name, const std::string& trackRef = "REF-1") {
    auto snapshot = *JSONValue::parse(R"({"provider":"applemusic","state":"playing","updatedAt":1.7e12,
        "positionMs":12000,"durationMs":180000,"track":{"artist":"Artist","album":"Album","favorited":false,
        "favoriteWritable":true}})")
                         .object();
    snapshot["track"].object()->insert_or_assign("trackRef", trackRef);
    snapshot["track"].object()->insert_or_assign("name", name);
    return snapshot;
}

// A hook that always gives the same answer.
template <class T> std::function<T()> returning(T value) {
    return [value] {
        return value;
    };
}

// Scripted through its hooks, which are set before the controller runs; the counters may be read
// from any thread.
class FakeMusicAccess final : public MusicAccess {
public:
    std::function<JSONObject()> onSnapshot = returning(playingSnapshot("Song"));
    std::function<std::optional<JSONObject>()> onArtwork = returning(std::optional<JSONObject>());
    std::function<bool(bool setting, const Admission&)> onFavorite = [](bool, auto&) {
        return true;
    };
    std::function<void()> onAuthorization = [] {
    };
    std::function<JSONObject()> onDiagnostics = returning(JSONObject{{"stage", "ready"}});
    std::atomic<int> snapshotReads{0}, artworkReads{0}, favoriteCalls{0};

    void requestAuthorization() override { onAuthorization(); }
    JSONObject snapshot() override { return ++snapshotReads, onSnapshot(); }
    JSONObject favoriteDiagnostics() override { return onDiagnostics(); }
    std::optional<JSONObject> artworkSnapshot() override { return ++artworkReads, onArtwork(); }
    bool favorite(const std::string& trackRef) override { return favorite(trackRef, Admission()); }
    bool favorite(const std::string&, const Admission& admission) override {
        return ++favoriteCalls, onFavorite(false, admission);
    }
    bool setFavorite(const std::string&, bool desired, const Admission& admission) override {
        return ++favoriteCalls, onFavorite(true, admission) && desired;
    }
};

} // namespace kavrel
