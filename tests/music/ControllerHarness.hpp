#pragma once

#include "CompanionCore/music/MusicAccess.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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

inline double epochMs(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
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

// A controller on manual queues and a virtual wall clock; what it publishes and answers is recorded
// in one log, in order.
class ControllerTest : public ::testing::Test {
protected:
    std::string startRun() {
        return controller->start([this](const JSONObject& snapshot) { log.emplace_back(snapshot); });
    }

    template <class T> std::vector<T> logged() const {
        std::vector<T> found;
        for (const auto& entry : log) {
            if (const auto* item = std::get_if<T>(&entry)) {
                found.push_back(*item);
            }
        }
        return found;
    }
    std::vector<JSONObject> snapshots() const { return logged<JSONObject>(); }
    std::vector<Envelope> replies() const { return logged<Envelope>(); }

    // A getFavorite of track "REF-1" in the given run, expiring in ten seconds.
    JSONObject commandPayload(const std::string& run) const {
        return JSONObject{{"generation", run},
                          {"expiresAt", epochMs(clock) + 10'000},
                          {"action", "getFavorite"},
                          {"trackRef", "REF-1"},
                          {"nativeGeneration", "N-7"}};
    }
    void send(JSONObject payload, std::string type = "nativeCommand") {
        controller->command(Envelope("cmd-" + std::to_string(++sent), std::move(type), std::move(payload)),
                            [this](Envelope reply) { log.emplace_back(std::move(reply)); });
    }
    static std::string codeOf(const Envelope& reply) { return *reply.payload.at("code").string(); }

    ManualQueue queue{std::string(NativeMusicController::queueLabel)};
    ManualQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    std::shared_ptr<FakeMusicAccess> access = std::make_shared<FakeMusicAccess>();
    std::chrono::system_clock::time_point clock{std::chrono::milliseconds(1'700'000'000'000)};
    std::shared_ptr<NativeMusicController> controller = NativeMusicController::create(
        access, [this] { return clock; }, queue, artworkQueue);
    std::vector<std::variant<JSONObject, Envelope>> log;
    int sent = 0;
};

} // namespace kavrel
