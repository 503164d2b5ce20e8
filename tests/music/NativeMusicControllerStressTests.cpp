#include "CompanionCore/music/NativeMusicController.hpp"
#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "music/FakeMusicAccess.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Real queues and threads: commands arrive from one thread while the main thread starts and stops
// runs and a third one keeps reading. Every command must be answered exactly once and every
// admission slot given back; ThreadSanitizer checks the rest.
TEST(NativeMusicControllerStress, CommandsFromAnotherThreadWhileRunsStartAndStop) {
    constexpr int commandCount = 2000;
    constexpr int restarts = 500;

    std::mutex mutex;
    std::condition_variable answered;
    std::map<std::string, int> answers;
    std::string latestRun;

    auto access = std::make_shared<FakeMusicAccess>();
    access->onArtwork = [] {
        return withArtwork(playingSnapshot("Song"), "art");
    };
    {
        ThreadSerialQueue queue{std::string(NativeMusicController::queueLabel)};
        ThreadSerialQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
        auto controller = NativeMusicController::create(
            access, [] { return std::chrono::system_clock::now(); }, queue, artworkQueue);
        const auto onSnapshot = [controller = std::weak_ptr(controller)](const JSONObject& snapshot) {
            // What the model does on every snapshot: check it against the current run.
            if (const auto owner = controller.lock()) {
                owner->isCurrent(*snapshot.at("generation").string());
            }
        };

        const auto record = [&](Envelope reply) {
            std::lock_guard lock(mutex);
            ++answers[reply.id];
            answered.notify_all();
        };
        std::thread sender([&] {
            for (int index = 0; index < commandCount; ++index) {
                std::string run;
                {
                    std::lock_guard lock(mutex);
                    run = latestRun;
                }
                const double now = std::chrono::duration<double, std::milli>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
                controller->command(Envelope("cmd-" + std::to_string(index), "nativeCommand",
                                             JSONObject{{"generation", run},
                                                        {"expiresAt", now + 20'000},
                                                        {"action", index % 2 ? "setFavorite" : "getFavorite"},
                                                        {"desiredState", index % 3 == 0},
                                                        {"trackRef", "REF-1"}}),
                                    record);
            }
        });
        std::thread reader([&] {
            for (int index = 0; index < restarts; ++index) {
                controller->isCurrent("none");
            }
        });
        for (int index = 0; index < restarts; ++index) {
            const auto run = controller->start(onSnapshot);
            {
                std::lock_guard lock(mutex);
                latestRun = run;
            }
            if (index % 3 == 0) {
                controller->stop();
            }
        }
        sender.join();
        reader.join();
        {
            std::unique_lock lock(mutex);
            // A bound against a hang only, not a timing expectation.
            ASSERT_TRUE(answered.wait_for(lock, 60s, [&] { return answers.size() == commandCount; }));
        }

        // Every slot came back: eight fresh commands are admitted in the current run.
        const auto run = controller->start(onSnapshot);
        const double now =
            std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        for (int index = 0; index < NativeMusicController::maxCommands; ++index) {
            controller->command(Envelope("last-" + std::to_string(index), "nativeCommand",
                                         JSONObject{{"generation", run},
                                                    {"expiresAt", now + 20'000},
                                                    {"action", "getFavorite"},
                                                    {"trackRef", "REF-1"}}),
                                [&](Envelope reply) {
                                    std::lock_guard lock(mutex);
                                    answers[reply.id] += reply.payload.at("ok") == JSONValue(true) ? 1 : 100;
                                    answered.notify_all();
                                });
        }
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(answered.wait_for(lock, 60s, [&] {
                return answers.size() == commandCount + NativeMusicController::maxCommands;
            }));
        }
        controller->stop();
    }
    for (const auto& [id, count] : answers) {
        EXPECT_EQ(count, 1) << id;
    }
}

} // namespace
} // namespace kavrel
