#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

TEST_F(SupervisorTest, LaunchStartsTheConnectorByItsContractAndSendsInitializeFirst) {
    const std::string home = std::getenv("HOME");
    ::setenv("HOME", "/home/listener", 1);
    const std::shared_ptr<void> restoreHome(nullptr, [&](void*) { ::setenv("HOME", home.c_str(), 1); });
    EXPECT_EQ(supervisor->message().value(), expected::helperStarting);
    EXPECT_EQ(launcher.spawns().size(), 0u);
    supervisor->launch();
    supervisor->launch(); // a child runs: nothing more
    flush();

    ASSERT_EQ(launcher.spawns().size(), 1u);
    EXPECT_EQ(launcher.spawns()[0].executable, "/bin/true");
    EXPECT_EQ(launcher.spawns()[0].arguments,
              (std::vector<std::string>{"-config-dir", directory.string(), "desktop"}));
    EXPECT_EQ(launcher.spawns()[0].environment,
              (std::vector<std::string>{"HOME=/home/listener", "PATH=/usr/bin:/bin", "LANG=en_US.UTF-8"}));
    EXPECT_EQ(messages, std::vector<std::string>{expected::helperConnecting});
    EXPECT_FALSE(supervisor->ready().value());
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].type, "initialize");
    EXPECT_EQ(sent()[0].payload, (JSONObject{{"storageKey", std::string(64, 'a')}}));
    EXPECT_EQ(sent()[0].id.size(), 36u);
    EXPECT_EQ(sent()[0].id.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
}

TEST_F(SupervisorTest, ASuccessfulHandshakeMakesReadyThenPollsStatusThenCallsOnReadyOnce) {
    std::vector<std::string> typesWhenReady;
    supervisor->setOnReady([&] {
        ++readyCalls;
        EXPECT_TRUE(supervisor->ready().value());
        writer->drain();
        typesWhenReady = sentTypes();
    });
    supervisor->launch();
    flush();
    answer("initialize", JSONObject{{"ok", true}});
    EXPECT_EQ(readyCalls, 1);
    EXPECT_EQ(typesWhenReady, (std::vector<std::string>{"initialize", "status"}));
    EXPECT_EQ(messages, (std::vector<std::string>{expected::helperConnecting, expected::helperReady}));
}

// However the handshake fails, the line shows the refusal's text, the child is stopped, and only
// reconnect() starts another one.
TEST_F(SupervisorTest, AFailedHandshakeShowsItsTextAndSuppressesRestartsUntilReconnect) {
    const auto refuse = [this](JSONObject payload) {
        return [this, payload] {
            answer("initialize", payload);
        };
    };
    const std::vector<std::tuple<const char*, std::function<void()>, const char*>> rows{
        {"migration_required", refuse({{"ok", false}, {"code", "migration_required"}}),
         expected::describeMigration},
        {"invalid_code", refuse({{"ok", false}, {"code", "invalid_code"}}), expected::describeInvalidCode},
        {"ok is the number 1", refuse({{"ok", 1}}), expected::describeGeneric},
        {"ok is the text true", refuse({{"ok", "true"}}), expected::describeGeneric},
        {"empty payload", refuse({}), expected::describeGeneric},
        {"code is not text", refuse({{"ok", false}, {"code", 7}}), expected::describeGeneric},
        {"the child exits first", [this] { exitChild(); }, expected::describeGeneric},
        {"no answer in 21 s", [this] { advance(21s); }, expected::describeGeneric},
        {"reconnect() during it", [this] { supervisor->reconnect(); }, expected::describeGeneric},
    };
    for (const auto& [label, fail, text] : rows) {
        SCOPED_TRACE(label);
        makeSupervisor("/bin/true", [] { return std::string(64, 'b'); });
        readyCalls = 0;
        const auto children = launcher.childCount();
        supervisor->launch();
        flush();
        fail();
        flush();
        EXPECT_FALSE(child().isRunning());
        advance(10min);
        EXPECT_EQ(launcher.childCount(), children + 1);
        EXPECT_EQ(supervisor->message().value(), text);
        EXPECT_EQ(readyCalls, 0);
        supervisor->reconnect();
        flush();
        EXPECT_EQ(launcher.childCount(), children + 2);
    }
}

TEST_F(SupervisorTest, LaunchFailuresSetTheirTextAndScheduleNothing) {
    const auto plainFile = directory / "not-executable";
    std::ofstream(plainFile) << "#!/bin/sh\n";
    ::chmod(plainFile.c_str(), 0644);
    const HelperSupervisor::KeyProvider goodKey = [] {
        return std::string(64, 'c');
    };
    const std::vector<
        std::tuple<const char*, std::filesystem::path, HelperSupervisor::KeyProvider, const char*>>
        rows{
            {"missing executable", directory / "absent", goodKey, expected::helperBundle},
            {"relative path", "bin/true", goodKey, expected::helperBundle},
            {"not executable", plainFile, goodKey, expected::helperBundle},
            {"a directory", directory, goodKey, expected::helperBundle},
            {"spawn fails", "", goodKey, expected::helperBundle},
            {"storage error", "/bin/true", []() -> std::string { throw StorageError::missingKey(); },
             expected::helperKeychain},
            {"other key failure", "/bin/true", []() -> std::string { throw std::runtime_error("boom"); },
             expected::helperBundle},
        };
    for (const auto& [label, executable, keys, text] : rows) {
        SCOPED_TRACE(label);
        makeSupervisor(executable.empty() ? "/bin/true" : executable, keys);
        if (executable.empty()) {
            launcher.failNextSpawn(ENOENT);
        }
        supervisor->launch();
        advance(10min);
        EXPECT_EQ(launcher.childCount(), 0u);
        EXPECT_EQ(messages, std::vector<std::string>{text});
        EXPECT_EQ(unavailableCalls + readyCalls, 0);
    }
}

TEST_F(SupervisorTest, TheDefaultKeyProviderCreatesAKeyOnlyWithoutConnectorState) {
    makeSupervisor("/bin/true", {});
    std::ofstream(directory / "config.json") << "{}";
    supervisor->launch();
    flush();
    EXPECT_EQ(supervisor->message().value(), expected::helperKeychain);
    EXPECT_EQ(launcher.childCount(), 0u);

    std::filesystem::remove(directory / "config.json");
    supervisor->launch();
    flush();
    ASSERT_EQ(launcher.childCount(), 1u);
    // Compared without printing: the key never reaches test output.
    EXPECT_TRUE(lastSent("initialize").payload.at("storageKey") ==
                JSONValue(StorageKey::loadOrCreate(secrets, false)));
}

TEST(HelperSupervisorDescribe, MapsKnownCodesExactlyAndEverythingElseToTheGenericText) {
    const std::vector<std::pair<const char*, const char*>> rows{
        {"migration_required", expected::describeMigration},
        {"invalid_code", expected::describeInvalidCode},
        {"pairing_expired", expected::describeInvalidCode},
        {"already_paired", expected::describeAlreadyPaired},
        {"replacement_required", expected::describeAlreadyPaired},
    };
    for (const auto& [code, text] : rows) {
        EXPECT_EQ(HelperSupervisor::describe(code), text) << code;
    }
    for (const char* code : {"initialize_failed", "", "Invalid_code", "invalid_code ", "INVALID_CODE"}) {
        EXPECT_EQ(HelperSupervisor::describe(code), expected::describeGeneric) << '"' << code << '"';
    }
}

} // namespace
} // namespace kavrel
