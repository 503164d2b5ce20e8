#include "CompanionCore/storage/StorageError.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

TEST_F(SupervisorTest, LaunchStartsTheConnectorByItsContractAndBecomesReadyOnTheHandshake) {
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

    // Ready first, then the first status poll, then onReady, once.
    std::vector<std::string> typesWhenReady;
    supervisor->setOnReady([&] {
        ++readyCalls;
        EXPECT_TRUE(supervisor->ready().value());
        writer->drain();
        typesWhenReady = sentTypes();
    });
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

std::string statusLine(JSONObject payload) {
    return Envelope("S", "status", std::move(payload)).encodedLine();
}

TEST_F(SupervisorTest, EachTypeGoesItsWayAndAResultCompletesItsOwnCommandOnce) {
    launchReady();
    supervisor->send("pair", {{"code", "123456"}}, record());
    flush();
    const auto pair = lastSent("pair");
    const Envelope first("N1", "nativeCommand", {{"action", "getFavorite"}});
    const Envelope second("N2", "nativeCommand", {{"action", "setFavorite"}, {"value", true}});
    child().writeOutput(first.encodedLine() + Envelope("NOT-PENDING", "result", okPayload()).encodedLine() +
                        second.encodedLine());
    child().answer(pair, okPayload({{"paired", true}}));
    child().answer(pair, okPayload({{"paired", false}}));
    flush();
    EXPECT_EQ(replies, (std::vector<std::optional<Envelope>>{
                           Envelope(pair.id, "result", okPayload({{"paired", true}}))}));
    EXPECT_EQ(nativeCommands, (std::vector<Envelope>{first, second}));
    EXPECT_TRUE(child().signals().empty());
}

TEST_F(SupervisorTest, StatusMessagesAndStatusRepliesReplaceTheStatusWhole) {
    launchReady();
    const auto second = statusLine({{"paired", true}});
    child().writeOutput(statusLine({{"cloud", "connected"}, {"running", true}}) + second.substr(0, 12));
    flush(); // the partial line waits for its end
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"cloud", "connected"}, {"running", true}}));
    child().writeOutput(second.substr(12) + statusLine({{"kept", true}}));
    flush();
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"kept", true}}));

    // A status reply counts only when its data is an object.
    for (const JSONObject& ignored : {JSONObject{{"ok", true}}, JSONObject{{"ok", true}, {"data", "text"}},
                                      JSONObject{{"ok", true}, {"data", JSONArray{}}}}) {
        supervisor->refreshStatus();
        flush();
        answer("status", ignored);
        EXPECT_EQ(supervisor->status().value(), (JSONObject{{"kept", true}}));
    }
    supervisor->refreshStatus();
    flush();
    answer("status", okPayload({{"paired", false}}));
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"paired", false}}));
}

// The chunk's good line before the bad one is dropped with it; what the stopping child writes next
// does not stop it again.
TEST_F(SupervisorTest, BadInboundDataIsAProtocolErrorThatStopsTheChildOnce) {
    const std::vector<std::pair<const char*, std::string>> rows{
        {"malformed line", statusLine({{"seen", true}}) + "{not json}\n"},
        {"unaccepted type", statusLine({{"seen", true}}) + Envelope("X", "nativeResult", {}).encodedLine()},
        {"frame over the limit", std::string(262'145, 'x')},
    };
    for (const auto& [label, bad] : rows) {
        SCOPED_TRACE(label);
        makeSupervisor("/bin/true", [] { return std::string(64, 'd'); });
        unavailableCalls = 0;
        launchReady();
        child().ignoreTerminate();
        child().writeOutput(bad);
        flush();
        EXPECT_EQ(supervisor->status().value(), JSONObject{});
        EXPECT_EQ(supervisor->message().value(), expected::helperProtocolError);
        child().writeOutput("more garbage\n");
        child().closeOutput();
        flush();
        EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
        EXPECT_EQ(unavailableCalls, 1);
        EXPECT_EQ(supervisor->message().value(), expected::helperProtocolError);
    }
}

} // namespace
} // namespace kavrel
