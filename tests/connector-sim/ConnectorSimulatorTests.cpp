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

    // The reply of a command, checked to be the first output and to carry the command's id.
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

    static JSONObject configuration(const std::string& origin, const std::string& roonHost) {
        return {{"bridgeOrigin", origin},
                {"roonHost", roonHost},
                {"appleMusicEnabled", true},
                {"roonEnabled", true}};
    }

    static void initialize(ConnectorSimulator& simulator) {
        ASSERT_TRUE(ok(command(simulator, "initialize", {{"storageKey", validKey}})));
    }

    // Initialized, paired, configured and started; the native generation of the start.
    static std::string start(ConnectorSimulator& simulator) {
        initialize(simulator);
        command(simulator, "pair", {{"code", "123456"}, {"replace", true}});
        command(simulator, "configure", configuration("https://kavrel.example", ""));
        const auto started = command(simulator, "start");
        EXPECT_TRUE(ok(started));
        return *started.at("data").object()->at("nativeGeneration").string();
    }

    std::filesystem::path config() const { return directory / "config.json"; }

    std::filesystem::path directory;
    int identifiers = 0;
};

TEST_F(ConnectorSimulatorTest, HandshakeComesFirstNeedsA64HexKeyAndHappensOnce) {
    SimulatorOptions failing;
    failing.failCommands["discoverRoon"] = "local_network_denied";
    auto simulator = make(failing);
    EXPECT_EQ(code(command(simulator, "status")), "not_initialized");
    for (const JSONValue& bad : {JSONValue(std::string(63, 'a')), JSONValue(std::string(64, 'A')),
                                 JSONValue(std::string(64, 'g')), JSONValue(7.0)}) {
        EXPECT_EQ(code(command(simulator, "initialize", {{"storageKey", bad}})), "invalid_storage_key");
    }
    initialize(simulator);
    EXPECT_EQ(code(command(simulator, "initialize", {{"storageKey", validKey}})), "already_initialized");
    EXPECT_EQ(code(command(simulator, "teleport")), "unknown_command");
    EXPECT_EQ(code(command(simulator, "discoverRoon")), "local_network_denied");
}

TEST_F(ConnectorSimulatorTest, PairingAndConfigurationRulesAndAStatusPushedAfterEachChange) {
    auto simulator = make();
    initialize(simulator);
    EXPECT_EQ(code(command(simulator, "start")), "not_configured");
    const std::pair<JSONObject, std::string> pairings[] = {
        {{{"code", "000000"}, {"replace", false}}, "invalid_code"},
        {{{"code", "12 34"}, {"replace", false}}, "invalid_code"},
        {{{"code", "123456"}, {"replace", "yes"}}, "invalid_request"},
        {{{"code", "123456"}, {"replace", false}}, ""},
        {{{"code", "654321"}, {"replace", false}}, "already_paired"},
        {{{"code", "654321"}, {"replace", true}}, ""},
    };
    for (const auto& [payload, expected] : pairings) {
        EXPECT_EQ(code(command(simulator, "pair", payload)), expected) << JSONValue(payload).serialized();
    }
    EXPECT_EQ(code(command(simulator, "configure", configuration("http://kavrel.example", ""))),
              "invalid_origin");
    EXPECT_EQ(code(command(simulator, "configure", configuration("https://kavrel.example", "core:99999"))),
              "invalid_roon_host");

    const auto output =
        simulator.handle(Envelope("c", "configure", configuration("https://kavrel.example", "")));
    ASSERT_EQ(output.size(), 2u);
    EXPECT_EQ(output[1].type, "status");
    EXPECT_EQ(output[1].payload.at("configured"), JSONValue(true));
    EXPECT_EQ(simulator.handle(Envelope("s", "status", {})).size(), 1u) << "nothing changed: no status";
}

TEST_F(ConnectorSimulatorTest, StateSurvivesARestartAndConfigJsonAppearsOnlyWithState) {
    {
        auto simulator = make();
        initialize(simulator);
        command(simulator, "resetRoon");
        EXPECT_FALSE(std::filesystem::exists(config()));
        command(simulator, "pair", {{"code", "123456"}, {"replace", false}});
        EXPECT_EQ(std::filesystem::status(config()).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    auto restarted = make();
    initialize(restarted);
    EXPECT_EQ(restarted.status().at("paired"), JSONValue(true));
    EXPECT_EQ(restarted.status().at("running"), JSONValue(false));

    std::ofstream(config()) << "{not json";
    auto unreadable = make();
    EXPECT_EQ(code(command(unreadable, "initialize", {{"storageKey", validKey}})), "config_unreadable");
    std::stringstream text;
    text << std::ifstream(config()).rdbuf();
    EXPECT_EQ(text.str(), "{not json") << "left as it was";
}

TEST_F(ConnectorSimulatorTest, WritesTheFavouriteOfTheFirstWritableTrackOfEachStartThenReadsItBack) {
    SimulatorOptions options;
    options.favouriteWriteOnSnapshot = true;
    auto simulator = make(options);
    std::string native = start(simulator);
    // The last message a snapshot of this track, in run RUN-1 of the companion, makes the connector send.
    const auto lastFor = [&](const std::string& trackRef, bool writable,
                             const std::string& nativeGeneration) {
        const JSONObject track{{"trackRef", trackRef}, {"favoriteWritable", writable}};
        return simulator
            .handle(
                Envelope("snap", "nativeSnapshot",
                         {{"nativeGeneration", nativeGeneration}, {"generation", "RUN-1"}, {"track", track}}))
            .back();
    };
    EXPECT_NE(lastFor("", false, native).type, "nativeCommand");
    EXPECT_NE(lastFor("REF-1", false, native).type, "nativeCommand");
    EXPECT_NE(lastFor("REF-1", true, "an earlier start").type, "nativeCommand");
    const auto set = lastFor("REF-1", true, native);
    EXPECT_EQ(set.payload, (JSONObject{{"generation", "RUN-1"},
                                       {"nativeGeneration", native},
                                       {"expiresAt", 21000.0},
                                       {"action", "setFavorite"},
                                       {"desiredState", true},
                                       {"trackRef", "REF-1"}}));
    EXPECT_NE(lastFor("REF-2", true, native).type, "nativeCommand") << "once per start";

    const JSONObject favourite{{"favorited", true}};
    const auto get =
        simulator.handle(Envelope(set.id, "nativeResult", {{"ok", true}, {"data", favourite}})).back();
    EXPECT_EQ(get.payload.at("action"), JSONValue("getFavorite"));
    EXPECT_EQ(get.payload.at("expiresAt"), JSONValue(11000.0));
    simulator.handle(Envelope(get.id, "nativeResult", {{"ok", false}, {"code", "music_timeout"}}));
    EXPECT_EQ(simulator.status().at("music").object()->at("favouriteResults"),
              JSONValue(JSONArray{
                  JSONObject{{"action", "setFavorite"}, {"ok", true}, {"favorited", true}},
                  JSONObject{{"action", "getFavorite"}, {"ok", false}, {"code", "music_timeout"}}}));

    command(simulator, "stop");
    native = *command(simulator, "start").at("data").object()->at("nativeGeneration").string();
    EXPECT_EQ(lastFor("REF-2", true, native).type, "nativeCommand") << "again after a new start";
}

TEST(SimulatorOptionsTest, UnknownKeysAndWrongTypesAreRefused) {
    for (const auto* text : {R"({"crashAtStrat":true})", R"({"crashAtStart":1})", R"({"silentAfter":-1})",
                             R"({"discoverRoon":"maybe"})", R"({"failCommands":{"initialize":"x"}})",
                             R"({"favouriteWriteOnSnapshot":"yes"})", "[]"}) {
        EXPECT_THROW(SimulatorOptions::fromJSON(JSONValue::parse(text)), std::runtime_error) << text;
    }
    const auto options = SimulatorOptions::fromJSON(
        JSONValue::parse(R"({"ignoreSigterm":true,"burstStatus":3,"favouriteWriteOnSnapshot":false})"));
    EXPECT_TRUE(options.ignoreSigterm);
    EXPECT_EQ(options.burstStatus, 3u);
    EXPECT_EQ(options.favouriteWriteOnSnapshot, false);
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
