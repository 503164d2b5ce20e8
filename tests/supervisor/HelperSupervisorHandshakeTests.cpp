#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "supervisor/SupervisorHarness.hpp"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

class HomeOverride {
public:
    explicit HomeOverride(const char* home) {
        if (const char* old = std::getenv("HOME")) {
            previous = old;
        }
        ::setenv("HOME", home, 1);
    }
    ~HomeOverride() {
        if (previous) {
            ::setenv("HOME", previous->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }

private:
    std::optional<std::string> previous;
};

TEST_F(SupervisorTest, LaunchStartsTheConnectorWithTheExactContractAndSendsInitializeFirst) {
    HomeOverride home("/home/listener");
    EXPECT_EQ(supervisor->message().value(), "Starting companion…");
    EXPECT_EQ(launcher.spawns().size(), 0u);

    supervisor->launch();
    flush();

    ASSERT_EQ(launcher.spawns().size(), 1u);
    const auto& spawn = launcher.spawns()[0];
    EXPECT_EQ(spawn.executable, "/bin/true");
    EXPECT_EQ(spawn.arguments, (std::vector<std::string>{"-config-dir", directory.string(), "desktop"}));
    EXPECT_EQ(spawn.environment,
              (std::vector<std::string>{"HOME=/home/listener", "PATH=/usr/bin:/bin", "LANG=en_US.UTF-8"}));
    EXPECT_EQ(supervisor->message().value(), "Connecting companion…");
    EXPECT_FALSE(supervisor->ready().value());
    const auto envelopes = sent();
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_EQ(envelopes[0].type, "initialize");
    EXPECT_EQ(envelopes[0].payload, (JSONObject{{"storageKey", std::string(64, 'a')}}));
    EXPECT_EQ(envelopes[0].id.size(), 36u);
    EXPECT_EQ(envelopes[0].id.find_first_not_of("0123456789ABCDEF-"), std::string::npos);

    supervisor->launch();
    flush();
    EXPECT_EQ(launcher.spawns().size(), 1u);
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(SupervisorTest, SuccessfulInitializeMakesReadyThenSendsStatusThenCallsOnReady) {
    bool readyInCallback = false;
    std::vector<std::string> typesInCallback;
    supervisor->setOnReady([&] {
        ++readyCalls;
        readyInCallback = supervisor->ready().value();
        writer->drain();
        typesInCallback = sentTypes();
    });
    supervisor->launch();
    flush();
    answer("initialize", JSONObject{{"ok", true}});

    EXPECT_EQ(readyCalls, 1);
    EXPECT_TRUE(readyInCallback);
    EXPECT_EQ(typesInCallback, (std::vector<std::string>{"initialize", "status"}));
    EXPECT_TRUE(supervisor->ready().value());
    EXPECT_EQ(messages, (std::vector<std::string>{"Connecting companion…", "Local helper ready"}));
}

TEST_F(SupervisorTest, AnythingButOkTrueRefusesTheHandshakeAndSuppressesRestart) {
    const std::string migration =
        "This folder contains legacy connector settings. Use a fresh desktop state folder.";
    const std::vector<std::pair<JSONObject, std::string>> cases{
        {{{"ok", false}, {"code", "migration_required"}}, migration},
        {{{"ok", false}, {"code", "invalid_code"}},
         "That pairing code is invalid or expired. Create a new code in Kavrel."},
        {{{"ok", 1}}, generalFailureText},
        {{{"ok", "true"}}, generalFailureText},
        {{}, generalFailureText},
        {{{"ok", false}, {"code", 7}}, generalFailureText},
    };
    for (const auto& [payload, text] : cases) {
        SCOPED_TRACE(JSONValue(payload).serialized());
        makeSupervisor("/bin/true", [] { return std::string(64, 'b'); });
        readyCalls = 0;
        supervisor->launch();
        flush();
        answer("initialize", payload);

        EXPECT_FALSE(supervisor->ready().value());
        EXPECT_EQ(supervisor->message().value(), text);
        EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
        const auto children = launcher.childCount();
        advance(10min);
        EXPECT_EQ(launcher.childCount(), children);
        EXPECT_EQ(supervisor->message().value(), text);
        EXPECT_EQ(readyCalls, 0);
    }
}

TEST_F(SupervisorTest, UnansweredInitializeTimesOutAndIsNotRestartedUntilReconnect) {
    supervisor->launch();
    flush();
    advance(20s);
    EXPECT_TRUE(child().signals().empty());
    advance(1s);
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(messages.at(messages.size() - 2), "Connector did not respond. Reconnecting…");
    EXPECT_EQ(supervisor->message().value(), generalFailureText);
    EXPECT_EQ(unavailableCalls, 2);

    advance(10min);
    EXPECT_EQ(launcher.childCount(), 1u);

    supervisor->reconnect();
    flush();
    EXPECT_EQ(launcher.childCount(), 2u);
}

TEST_F(SupervisorTest, ChildThatExitsBeforeAnsweringInitializeIsNotRestarted) {
    supervisor->launch();
    flush();
    child().exit(1);
    flush();
    EXPECT_EQ(supervisor->message().value(), generalFailureText);
    EXPECT_EQ(unavailableCalls, 1);
    advance(10min);
    EXPECT_EQ(launcher.childCount(), 1u);
}

TEST_F(SupervisorTest, LaunchFailuresSetTheirTextAndScheduleNothing) {
    const std::string bundle = "The bundled connector could not start. Reinstall this companion build.";
    const std::string keychain = "Keychain or private storage is unavailable. Unlock your Mac and reconnect.";
    const auto plainFile = directory / "not-executable";
    std::ofstream(plainFile) << "#!/bin/sh\n";
    ::chmod(plainFile.c_str(), 0644);
    const auto goodKey = [] {
        return std::string(64, 'c');
    };

    struct Case {
        std::string name;
        std::filesystem::path executable;
        HelperSupervisor::KeyProvider keys;
        bool spawnFails;
        std::string text;
    };
    const std::vector<Case> cases{
        {"missing executable", directory / "absent", goodKey, false, bundle},
        {"relative path", "bin/true", goodKey, false, bundle},
        {"not executable", plainFile, goodKey, false, bundle},
        {"a directory", directory, goodKey, false, bundle},
        {"spawn fails", "/bin/true", goodKey, true, bundle},
        {"storage error", "/bin/true", []() -> std::string { throw StorageError::missingKey(); }, false,
         keychain},
        {"other key failure", "/bin/true", []() -> std::string { throw std::runtime_error("boom"); }, false,
         bundle},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        makeSupervisor(testCase.executable, testCase.keys);
        if (testCase.spawnFails) {
            launcher.failNextSpawn(ENOENT);
        }
        supervisor->launch();
        flush();
        EXPECT_EQ(supervisor->message().value(), testCase.text);
        EXPECT_EQ(launcher.childCount(), 0u);
        advance(10min);
        EXPECT_EQ(launcher.childCount(), 0u);
        EXPECT_EQ(supervisor->message().value(), testCase.text);
        EXPECT_EQ(unavailableCalls + readyCalls, 0);
    }
}

TEST_F(SupervisorTest, DefaultKeyProviderCreatesAKeyOnlyWithoutConnectorState) {
    makeSupervisor("/bin/true", {});
    std::ofstream(directory / "config.json") << "{}";
    supervisor->launch();
    flush();
    EXPECT_EQ(supervisor->message().value(),
              "Keychain or private storage is unavailable. Unlock your Mac and reconnect.");
    EXPECT_EQ(launcher.childCount(), 0u);

    std::filesystem::remove(directory / "config.json");
    supervisor->launch();
    flush();
    ASSERT_EQ(launcher.childCount(), 1u);
    const auto sentKey = lastSent("initialize").payload.at("storageKey");
    EXPECT_TRUE(sentKey == JSONValue(StorageKey::loadOrCreate(secrets, false)));
}

} // namespace
} // namespace kavrel
