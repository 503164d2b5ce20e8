#pragma once

#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "support/FakeProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/JSONPrinting.hpp"
#include "support/ManualLoop.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {

// A supervisor on a virtual clock, a fake connector and a writer queue drained by the test.
class SupervisorTest : public ::testing::Test {
protected:
    SupervisorTest();
    ~SupervisorTest() override;

    // Builds the supervisor; tests that need other settings call it again before launching.
    void makeSupervisor(std::filesystem::path executable, HelperSupervisor::KeyProvider keys);
    // Performs queued writes (and key lookups, unless told not to) and runs the loop until idle.
    void flush(bool answerKeyLookups = true);
    // Advances the clock and then flushes.
    void advance(std::chrono::milliseconds duration) {
        loop.advance(duration);
        flush();
    }

    FakeChild& child() { return launcher.last(); }
    std::vector<Envelope> sent() { return child().input().envelopes(); }
    std::vector<std::string> sentTypes();
    // The last command of that type written to the current child.
    Envelope lastSent(const std::string& type);
    void answer(const std::string& type, JSONObject payload) {
        child().answer(lastSent(type), std::move(payload));
        flush();
    }
    // Advances second by second, answering every "status" poll as it is sent.
    void runAnsweringStatus(std::chrono::seconds duration);
    // launch(), answer "initialize" with success and "status" with an empty status object.
    void launchReady();
    // A completion that keeps every reply it is given in `replies`.
    HelperSupervisor::Completion record() {
        return [this](std::optional<Envelope> reply) {
            replies.push_back(std::move(reply));
        };
    }
    // The child exits now, its exit report included.
    void exitChild(int waitStatus = 1) {
        child().exit(waitStatus);
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

JSONObject okPayload(JSONObject data = {});

} // namespace kavrel
