#include "CompanionCore/ipc/IPCError.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"
#include "tools/connector-sim/ConnectorSimulator.hpp"
#include "tools/connector-sim/FrameFaults.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace kavrel {
namespace {

const std::string validKey(64, 'f');

class ConnectorSimulatorTest : public ::testing::Test {
protected:
    ConnectorSimulatorTest() {
        char pattern[] = "/tmp/kavrel-sim-test-XXXXXX";
        directory = ::mkdtemp(pattern);
    }
    ~ConnectorSimulatorTest() override { std::filesystem::remove_all(directory); }

    ConnectorSimulator make(SimulatorOptions options = {}) {
        return ConnectorSimulator(directory, std::move(options),
                                  {[this] { return "ID-" + std::to_string(++identifiers); },
                                   [] {
                                       return 1000.0;
                                   }});
    }

    // The single result of a command, checked to carry the command's id.
    static JSONObject command(ConnectorSimulator& simulator, const std::string& type,
                              JSONObject payload = {}) {
        const auto output = simulator.handle(Envelope("cmd-" + type, type, std::move(payload)));
        EXPECT_FALSE(output.empty());
        EXPECT_EQ(output.front().type, "result");
        EXPECT_EQ(output.front().id, "cmd-" + type);
        return output.front().payload;
    }

    static std::string code(const JSONObject& reply) {
        const auto found = reply.find("code");
        return found == reply.end() || found->second.string() == nullptr ? "" : *found->second.string();
    }

    static bool ok(const JSONObject& reply) { return reply.at("ok") == JSONValue(true); }

    static void initialize(ConnectorSimulator& simulator) {
        ASSERT_TRUE(ok(command(simulator, "initialize", {{"storageKey", validKey}})));
    }

    std::filesystem::path config() const { return directory / "config.json"; }

    std::filesystem::path directory;
    int identifiers = 0;
};

TEST_F(ConnectorSimulatorTest, HandshakeComesFirstNeedsA64HexKeyAndHappensOnce) {
    auto simulator = make();
    EXPECT_EQ(code(command(simulator, "status")), "not_initialized");
    for (const auto& bad : {std::string(63, 'a'), std::string(64, 'A'), std::string(64, 'g')}) {
        EXPECT_EQ(code(command(simulator, "initialize", {{"storageKey", bad}})), "invalid_storage_key")
            << bad;
    }
    EXPECT_EQ(code(command(simulator, "initialize", {{"storageKey", 7.0}})), "invalid_storage_key");
    initialize(simulator);
    EXPECT_EQ(code(command(simulator, "initialize", {{"storageKey", validKey}})), "already_initialized");
    EXPECT_TRUE(ok(command(simulator, "status")));
    EXPECT_EQ(code(command(simulator, "teleport")), "unknown_command");
}

TEST_F(ConnectorSimulatorTest, PairingRulesAndStartOnlyWhenConfiguredAndPaired) {
    auto simulator = make();
    initialize(simulator);
    EXPECT_EQ(code(command(simulator, "start")), "not_configured");
    EXPECT_EQ(code(command(simulator, "pair", {{"code", "000000"}, {"replace", false}})), "invalid_code");
    EXPECT_EQ(code(command(simulator, "pair", {{"code", "12 34"}, {"replace", false}})), "invalid_code");
    EXPECT_EQ(code(command(simulator, "pair", {{"code", "123456"}, {"replace", "yes"}})), "invalid_request");
    EXPECT_TRUE(ok(command(simulator, "pair", {{"code", "123456"}, {"replace", false}})));
    EXPECT_EQ(code(command(simulator, "pair", {{"code", "654321"}, {"replace", false}})), "already_paired");
    EXPECT_TRUE(ok(command(simulator, "pair", {{"code", "654321"}, {"replace", true}})));

    EXPECT_EQ(code(command(simulator, "configure",
                           {{"bridgeOrigin", "http://kavrel.example"},
                            {"roonHost", ""},
                            {"appleMusicEnabled", true},
                            {"roonEnabled", true}})),
              "invalid_origin");
    EXPECT_EQ(code(command(simulator, "configure",
                           {{"bridgeOrigin", "https://kavrel.example"},
                            {"roonHost", "core:99999"},
                            {"appleMusicEnabled", true},
                            {"roonEnabled", true}})),
              "invalid_roon_host");
    EXPECT_TRUE(ok(command(simulator, "configure",
                           {{"bridgeOrigin", "https://kavrel.example"},
                            {"roonHost", "core:9330"},
                            {"appleMusicEnabled", true},
                            {"roonEnabled", true}})));
    const auto started = command(simulator, "start");
    ASSERT_TRUE(ok(started));
    EXPECT_NE(started.at("data").object()->at("nativeGeneration").string(), nullptr);
    EXPECT_EQ(simulator.status().at("running"), JSONValue(true));
}

TEST_F(ConnectorSimulatorTest, StateChangesPushAStatusAfterTheResult) {
    auto simulator = make();
    initialize(simulator);
    const auto output = simulator.handle(Envelope("p", "pair", {{"code", "123456"}, {"replace", false}}));
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[0].type, "result");
    EXPECT_EQ(output[1].type, "status");
    EXPECT_EQ(output[1].payload.at("paired"), JSONValue(true));
    // Nothing changed: no status.
    EXPECT_EQ(simulator.handle(Envelope("s", "status", {})).size(), 1u);
}

TEST_F(ConnectorSimulatorTest, StateSurvivesARestartAndConfigJsonAppearsOnlyWithState) {
    {
        auto simulator = make();
        initialize(simulator);
        command(simulator, "status");
        command(simulator, "resetRoon");
        EXPECT_FALSE(std::filesystem::exists(config()));
        command(simulator, "pair", {{"code", "123456"}, {"replace", false}});
        EXPECT_TRUE(std::filesystem::exists(config()));
        EXPECT_EQ(std::filesystem::status(config()).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    auto restarted = make();
    initialize(restarted);
    EXPECT_EQ(restarted.status().at("paired"), JSONValue(true));
    EXPECT_EQ(restarted.status().at("running"), JSONValue(false));
}

TEST_F(ConnectorSimulatorTest, AnUnreadableConfigRefusesTheHandshakeAndIsLeftAsItIs) {
    std::ofstream(config()) << "{not json";
    auto simulator = make();
    EXPECT_EQ(code(command(simulator, "initialize", {{"storageKey", validKey}})), "config_unreadable");
    std::ifstream file(config());
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "{not json");
}

TEST_F(ConnectorSimulatorTest, MisbehaviourOptions) {
    SimulatorOptions refusing;
    refusing.refuseInitialize = "migration_required";
    auto refused = make(refusing);
    EXPECT_EQ(code(command(refused, "initialize", {{"storageKey", validKey}})), "migration_required");

    SimulatorOptions silent;
    silent.silentAfter = 2;
    silent.failCommands["discoverRoon"] = "local_network_denied";
    auto quiet = make(silent);
    initialize(quiet);
    EXPECT_EQ(code(command(quiet, "discoverRoon")), "local_network_denied");
    EXPECT_TRUE(quiet.handle(Envelope("late", "status", {})).empty());

    SimulatorOptions mute;
    mute.neverAnswerInitialize = true;
    EXPECT_TRUE(make(mute).handle(Envelope("i", "initialize", {{"storageKey", validKey}})).empty());
}

TEST(SimulatorOptionsTest, UnknownKeysAndWrongTypesAreRefused) {
    for (const auto* text : {R"({"crashAtStrat":true})", R"({"crashAtStart":1})", R"({"silentAfter":-1})",
                             R"({"discoverRoon":"maybe"})", R"({"failCommands":{"initialize":"x"}})", "[]"}) {
        EXPECT_THROW(SimulatorOptions::fromJSON(JSONValue::parse(text)), std::runtime_error) << text;
    }
    const auto options =
        SimulatorOptions::fromJSON(JSONValue::parse(R"({"ignoreSigterm":true,"burstStatus":3})"));
    EXPECT_TRUE(options.ignoreSigterm);
    EXPECT_EQ(options.burstStatus, 3u);
}

TEST(FrameFaultsTest, TheLargestFrameIsAcceptedAndOneByteMoreIsRefused) {
    JSONLDecoder decoder;
    const auto largest = FrameFaults::paddedStatusLine(frameLimit - 1, "A");
    EXPECT_EQ(largest.size(), frameLimit);
    EXPECT_EQ(decoder.append(largest).size(), 1u);

    JSONLDecoder strict;
    EXPECT_THROW(strict.append(FrameFaults::paddedStatusLine(frameLimit, "B")), IPCException);
}

} // namespace
} // namespace kavrel
