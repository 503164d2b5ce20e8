// The stand-in's favourite options: the exact commands they make it send. Its handshake and frames are
// exercised through the real supervisor (tests/hardening) and the end-to-end test.

#include "tools/connector-sim/ConnectorSimulator.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

class ConnectorSimulatorTest : public ::testing::Test {
protected:
    ConnectorSimulatorTest() {
        char pattern[] = "/tmp/kavrel-sim-test-XXXXXX";
        directory = ::mkdtemp(pattern);
    }
    ~ConnectorSimulatorTest() override { std::filesystem::remove_all(directory); }

    // Initialized, paired, configured and started; returns the native generation of the start.
    std::string start(SimulatorOptions options) {
        simulator.emplace(directory, std::move(options),
                          ConnectorSimulator::Clock{[this] { return "ID-" + std::to_string(++identifiers); },
                                                    [] {
                                                        return 1000.0;
                                                    }});
        for (const auto& [type, payload] : std::vector<std::pair<std::string, JSONObject>>{
                 {"initialize", {{"storageKey", std::string(64, 'f')}}},
                 {"pair", {{"code", "123456"}, {"replace", true}}},
                 {"configure",
                  {{"bridgeOrigin", "https://kavrel.example"},
                   {"roonHost", ""},
                   {"appleMusicEnabled", true},
                   {"roonEnabled", true}}}}) {
            simulator->handle(Envelope(type, type, payload));
        }
        return restart();
    }
    std::string restart() {
        simulator->handle(Envelope("stop", "stop", {}));
        const auto started = simulator->handle(Envelope("start", "start", {})).front().payload;
        return *started.at("data").object()->at("nativeGeneration").string();
    }
    // The last message a snapshot of this track, in run RUN-1 of the companion, makes the connector send.
    Envelope lastFor(const std::string& trackRef, bool writable, const std::string& nativeGeneration) {
        const JSONObject track{{"trackRef", trackRef}, {"favoriteWritable", writable}};
        return simulator
            ->handle(
                Envelope("snap", "nativeSnapshot",
                         {{"nativeGeneration", nativeGeneration}, {"generation", "RUN-1"}, {"track", track}}))
            .back();
    }

    std::filesystem::path directory;
    int identifiers = 0;
    std::optional<ConnectorSimulator> simulator;
};

TEST_F(ConnectorSimulatorTest, WritesTheFavouriteOfTheFirstWritableTrackOfEachStartThenReadsItBack) {
    std::string native =
        start(SimulatorOptions::fromJSON(JSONValue::parse(R"({"favouriteWriteOnSnapshot":true})")));
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
        simulator->handle(Envelope(set.id, "nativeResult", {{"ok", true}, {"data", favourite}})).back();
    EXPECT_EQ(get.payload.at("action"), JSONValue("getFavorite"));
    EXPECT_EQ(get.payload.at("expiresAt"), JSONValue(11000.0));
    simulator->handle(Envelope(get.id, "nativeResult", {{"ok", false}, {"code", "music_timeout"}}));
    EXPECT_EQ(simulator->status().at("music").object()->at("favouriteResults"),
              JSONValue::parse(R"([{"action":"setFavorite","ok":true,"favorited":true},
                  {"action":"getFavorite","ok":false,"code":"music_timeout"}])"));
    EXPECT_EQ(lastFor("REF-2", true, restart()).type, "nativeCommand") << "again after a new start";
}

// The options the fault matrix relies on are read by its own runs; here, what a typo must not pass as.
TEST(SimulatorOptionsTest, UnknownKeysAndWrongTypesAreRefused) {
    for (const auto* text : {R"({"crashAtStrat":true})", R"({"crashAtStart":1})", R"({"silentAfter":-1})",
                             R"({"discoverRoon":"maybe"})", R"({"failCommands":{"initialize":"x"}})",
                             R"({"favouriteWriteOnSnapshot":"yes"})", "[]"}) {
        EXPECT_THROW(SimulatorOptions::fromJSON(JSONValue::parse(text)), std::runtime_error) << text;
    }
}

} // namespace
} // namespace kavrel
