#pragma once

#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "platform/ScratchDirectory.hpp"
#include "support/FakeProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/JSONPrinting.hpp"
#include "support/ManualLoop.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace kavrel {

inline JSONObject okPayload(JSONObject data = {}) {
    return JSONObject{{"ok", true}, {"data", std::move(data)}};
}

// A supervisor on a virtual clock, a fake connector and writer and keyring queues drained by the test.
class SupervisorTest : public ::testing::Test {
protected:
    SupervisorTest() { makeSupervisor(); }

    // Builds the supervisor; tests that need other settings call it again before launching.
    void makeSupervisor(
        std::filesystem::path executable = "/bin/true",
        HelperSupervisor::KeyProvider keys = [] { return std::string(64, 'a'); }) {
        auto queue = std::make_unique<ManualQueue>(std::string(HelperSupervisor::writerLabel));
        writer = queue.get();
        auto keyQueue = std::make_unique<ManualQueue>(std::string(HelperSupervisor::keyringLabel));
        keyring = keyQueue.get();
        supervisor =
            HelperSupervisor::create({loop, launcher, secrets, std::move(queue), std::move(keyQueue)},
                                     std::move(executable), directory, std::move(keys));
        supervisor->setOnUnavailable([this] { ++unavailableCalls; });
        messages.clear();
        messageSubscription =
            supervisor->message().observe([this](const std::string& text) { messages.push_back(text); });
    }
    // Performs queued writes and key lookups and runs the loop until idle.
    void flush() {
        do {
            loop.runUntilIdle();
        } while (writer->drain() + keyring->drain() > 0);
    }
    void advance(std::chrono::milliseconds duration) {
        loop.advance(duration);
        flush();
    }

    FakeChild& child() { return launcher.last(); }
    std::vector<Envelope> sent() { return child().envelopes(); }
    std::vector<std::string> sentTypes() {
        std::vector<std::string> types;
        std::ranges::transform(sent(), std::back_inserter(types), &Envelope::type);
        return types;
    }
    // The last command of that type written to the current child.
    Envelope lastSent(const std::string& type) {
        const auto envelopes = sent();
        const auto found = std::ranges::find(envelopes.rbegin(), envelopes.rend(), type, &Envelope::type);
        if (found == envelopes.rend()) {
            throw std::runtime_error("nothing of type " + type + " was sent");
        }
        return *found;
    }
    void answer(const std::string& type, JSONObject payload) {
        child().answer(lastSent(type), std::move(payload));
        flush();
    }
    // launch(), answer "initialize" with success and "status" with an empty status object.
    void launchReady() {
        supervisor->launch();
        flush();
        answer("initialize", okPayload());
        answer("status", okPayload());
    }
    // A completion that keeps every reply it is given in `replies`.
    HelperSupervisor::Completion record() {
        return [this](std::optional<Envelope> reply) {
            replies.push_back(std::move(reply));
        };
    }
    // The child exits now, its exit report included.
    void exitChild() {
        child().exit();
        flush();
    }

    ScratchDirectory scratch; // outlives the supervisor
    const std::filesystem::path directory = scratch.path();
    ManualLoop loop;
    FakeProcessLauncher launcher{loop};
    InMemorySecretStore secrets;
    ManualQueue* writer = nullptr;
    ManualQueue* keyring = nullptr;
    std::shared_ptr<HelperSupervisor> supervisor;
    int unavailableCalls = 0;
    std::vector<std::string> messages; // every text published, in order
    std::vector<std::optional<Envelope>> replies;
    Cancellable messageSubscription;
};

} // namespace kavrel
