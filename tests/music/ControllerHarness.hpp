#pragma once

#include "CompanionCore/music/NativeMusicController.hpp"
#include "music/FakeMusicAccess.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace kavrel {

// A controller on manual queues and a virtual wall clock; what it publishes and answers is recorded
// in one log, in order.
class ControllerTest : public ::testing::Test {
protected:
    std::string startRun() {
        return controller->start([this](const JSONObject& snapshot) { log.emplace_back(snapshot); });
    }

    double nowMs() const {
        return std::chrono::duration<double, std::milli>(clock.time_since_epoch()).count();
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
                          {"expiresAt", nowMs() + 10'000},
                          {"action", "getFavorite"},
                          {"trackRef", "REF-1"},
                          {"nativeGeneration", "N-7"}};
    }

    void send(JSONObject payload, std::string type = "nativeCommand") {
        controller->command(Envelope("cmd-" + std::to_string(++sent), std::move(type), std::move(payload)),
                            [this](Envelope reply) { log.emplace_back(std::move(reply)); });
    }

    // Runs both queues until neither has work left.
    void settle() {
        while (queue.drain() + artworkQueue.drain() > 0) {
        }
    }

    static std::string codeOf(const Envelope& reply) {
        const auto found = reply.payload.find("code");
        return found != reply.payload.end() && found->second.string() ? *found->second.string() : "";
    }

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
