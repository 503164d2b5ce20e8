// The access seam: its guarded read, the bridge behind it, and the diagnostics report built from it.

#include "CompanionCore/music/MusicDiagnosticsReport.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"
#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "bridge/BridgeHarness.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace kavrel {
namespace {

// Provides only what every implementation must, and counts its reads.
class MinimalAccess final : public MusicAccess {
public:
    JSONObject snapshot() override { return {}; }
    bool favorite(const std::string&) override {
        ++reads;
        return true;
    }
    bool setFavorite(const std::string&, bool desired, const Admission&) override { return desired; }
    int reads = 0;
};

std::string codeThrownBy(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
        return NativeMusicController::safeCode(std::current_exception());
    }
    return "";
}

TEST(MusicAccess, TheGuardedReadAsksTheAdmissionBeforeAndAfterAndNeverReadsOnceWithdrawn) {
    MinimalAccess access;
    MusicAccess& guarded = access;
    int asked = 0;
    const MusicAccess::Admission admission([&] { return ++asked <= 3; }); // withdrawn during the second read
    EXPECT_TRUE(guarded.favorite("REF", admission));
    EXPECT_EQ(codeThrownBy([&] { guarded.favorite("REF", admission); }), "native_command_expired");
    EXPECT_EQ(codeThrownBy([&] { guarded.favorite("REF", admission); }), "native_command_expired");
    EXPECT_EQ(access.reads, 2);
}

// Names the bytes it was given, so a test sees which artwork reached the snapshot.
class LabellingThumbnailer final : public ImageThumbnailer {
public:
    std::optional<std::string> thumbnailBase64(std::string_view encodedImage) const override {
        return "thumb:" + std::string(encodedImage);
    }
};

TEST(ScriptingMusicAccess, ConvertsTheBridgesAnswersAndKeepsItsErrorCodes) {
    SimulatedMusicApp app;
    auto track = simulatedTrack(7);
    track.artwork = std::vector<std::uint8_t>{'j', 'p', 'g'};
    app.addTrack(track);
    app.play(7);
    LabellingThumbnailer thumbnailer;
    const auto bridge = [&] {
        return std::make_unique<KVMusicBridge>(
            KVMusicBridge::Ports{app, app.scriptingFactory(), [] { return std::string("REF-1"); },
                                 ScriptingMusicAccess::artworkEncoder(thumbnailer)});
    };
    ScriptingMusicAccess access{bridge(), bridge()};

    // Artwork comes from the artwork bridge only: the poll bridge's snapshots stay small.
    EXPECT_EQ(access.artworkSnapshot()->at("track").object()->at("artworkBase64"), JSONValue("thumb:jpg"));
    EXPECT_EQ(access.snapshot().at("track").object()->count("artworkBase64"), 0u);
    app.setPlayerState(music::playerStateStopped);
    EXPECT_EQ(access.artworkSnapshot(), std::nullopt);
    app.setRunning(false);
    EXPECT_EQ(codeThrownBy([&] { access.snapshot(); }), "music_not_running");

    KVDictionary dictionary;
    dictionary.set("bad", std::nan("")); // a number JSON cannot carry
    EXPECT_THROW(ScriptingMusicAccess::toJSON(dictionary), JSONError);
}

using MusicDiagnosticsReport::diagnosticReport;

JSONObject parsed(std::string_view text) {
    return *JSONValue::parse(text).object();
}

// Names and identifiers are not allowed keys; a code as text, a Boolean as 1 and a nested value are of
// the wrong kind; the schema version cannot be overridden.
TEST(MusicDiagnosticsReport, KeepsOnlyAllowedKeysOfTheRightKindAndTheFirstEightChainEntriesPrettyPrinted) {
    auto diagnostics = parsed(R"({"stage":"ready","automationStatus":-1744,"automationAllowed":true,
        "name":"Nocturne","persistentID":"0123456789ABCDEF","currentReferenceChain":[],
        "libraryLookupError":"-1728","favoriteReadError":[1],"favoriteWritable":1,"cachedReference":"true",
        "schemaVersion":7})");
    diagnostics.emplace("currentReferenceClass", std::nan("")); // not finite
    EXPECT_EQ(diagnosticReport(diagnostics),
              "{\n  \"automationAllowed\" : true,\n  \"automationStatus\" : -1744,\n  "
              "\"currentReferenceChain\" : [],\n  \"schemaVersion\" : 1,\n  "
              "\"stage\" : \"ready\"\n}");
    EXPECT_EQ(diagnosticReport(parsed(R"({"stage":"Playing: Nocturne","currentReferenceChain":{"0":1}})")),
              "{\n  \"schemaVersion\" : 1\n}");

    // The chain keeps its first eight entries, each filtered: the first is counted among the eight, then
    // dropped; 4294967295 is the largest four-character code.
    auto chain = *JSONValue::parse(R"(["not an object", {"descriptorType":4294967295,
        "referenceClass":4294967296,"referenceForm":-1,"fieldCount":2.5,"identifierType":"long",
        "identifierSize":0,"classValid":true,"formValid":"yes","identifierNonzero":false,
        "termination":"unknown_reason","identifier":123456}])")
                      .array();
    for (int index = 0; index < 10; ++index) {
        chain.push_back(JSONObject{{"fieldCount", index}, {"termination", "depth_limit"}});
    }
    const auto report = parsed(diagnosticReport(JSONObject{{"currentReferenceChain", chain}}));
    const auto& kept = *report.at("currentReferenceChain").array();
    ASSERT_EQ(kept.size(), 7u);
    EXPECT_EQ(kept[0], JSONValue::parse(R"({"descriptorType":4294967295,"identifierSize":0,"classValid":true,
        "identifierNonzero":false})"));
    EXPECT_EQ(kept[6], JSONValue(JSONObject{{"fieldCount", 5}, {"termination", "depth_limit"}}));
}

} // namespace
} // namespace kavrel
