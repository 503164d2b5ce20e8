#pragma once

#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "support/FakeProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/JSONPrinting.hpp"
#include "support/ManualLoop.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <stdexcept>

namespace kavrel {

inline JSONObject okPayload(JSONObject data = {}) {
    return JSONObject{{"ok", true}, {"data", std::move(data)}};
}

// A supervisor on a virtual clock, a fake connector and writer and keyring queues drained by the test.
class SupervisorTest : public ::testing::Test {
protected:
    SupervisorTest() {
        char pattern[] = "/tmp/kavrel-supervisor-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        directory = pattern;
        makeSupervisor();
    }
    ~SupervisorTest() override {
        supervisor.reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }

    // Builds the supervisor; tests that need other settings call it again before launching.
    void makeSupervisor(
        std::filesystem::path executable = "/bin/true",
        HelperSupervisor::KeyProvider keys = [] { return std::string(64, 'a'); }) {
        auto queue = std::make_unique<ManualQueue>(std::string(HelperSupervisor::writerLabel));
        writer = queue.get();
        auto keyQueue = std::make_unique<ManualQueue>(std::string(HelperSupervisor::keyringLabel));
        keyring = keyQueue.get();
        supervisor = HelperSupervisor::create({.loop = loop,
                                               .launcher = launcher,
                                               .secrets = secrets,
                                               .writer = std::move(queue),
                                               .keyring = std::move(keyQueue)},
                                              std::move(executable), directory, std::move(keys));
        supervisor->setOnReady([this] { ++readyCalls; });
        supervisor->setOnUnavailable([this] { ++unavailableCalls; });
        supervisor->setOnNativeCommand(
            [this](const Envelope& envelope) { nativeCommands.push_back(envelope); });
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

    ManualLoop loop;
    FakeProcessLauncher launcher{loop};
    InMemorySecretStore secrets;
    ManualQueue* writer = nullptr;
    ManualQueue* keyring = nullptr;
    std::filesystem::path directory;
    std::shared_ptr<HelperSupervisor> supervisor;
    int readyCalls = 0;
    int unavailableCalls = 0;
    std::vector<Envelope> nativeCommands;
    std::vector<std::string> messages; // every text published, in order
    std::vector<std::optional<Envelope>> replies;
    Cancellable messageSubscription;
};

} // namespace kavrel
