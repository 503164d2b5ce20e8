#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "MusicBridge/simulated/SimulatedMusicApp.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

// Names the bytes it was given, so a test sees which artwork reached the snapshot.
class LabellingThumbnailer final : public ImageThumbnailer {
public:
    std::optional<std::string> thumbnailBase64(std::string_view encodedImage) const override {
        return "thumb:" + std::string(encodedImage);
    }
};

class ScriptingMusicAccessTest : public ::testing::Test {
protected:
    ScriptingMusicAccessTest() {
        SimulatedMusicApp::Track track;
        track.itemID = 7;
        track.databaseID = 70;
        track.persistentID = "0123456789ABCDEF";
        track.name = "Song";
        track.artist = "Artist";
        track.favorited = true;
        track.artwork = std::vector<std::uint8_t>{'j', 'p', 'g'};
        app.addTrack(track);
        app.play(7);
    }

    std::unique_ptr<KVMusicBridge> makeBridge() {
        return std::make_unique<KVMusicBridge>(KVMusicBridge::Ports{
            app, app.scriptingFactory(), [this] { return "REF-" + std::to_string(++refs); },
            ScriptingMusicAccess::artworkEncoder(thumbnailer)});
    }

    SimulatedMusicApp app;
    LabellingThumbnailer thumbnailer;
    int refs = 0;
    ScriptingMusicAccess access{makeBridge(), makeBridge()};
};

TEST_F(ScriptingMusicAccessTest, SnapshotsKeepTheirTypes) {
    const JSONObject snapshot = access.snapshot();
    EXPECT_EQ(snapshot.at("state"), JSONValue("playing"));
    const JSONObject& track = *snapshot.at("track").object();
    EXPECT_EQ(track.at("favorited").kind(), JSONValue::Kind::boolean);
    EXPECT_EQ(track.at("favoriteWritable"), JSONValue(true));
    EXPECT_EQ(snapshot.at("positionMs").kind(), JSONValue::Kind::number);
    EXPECT_EQ(access.favoriteDiagnostics().at("stage"), JSONValue("ready"));
}

TEST_F(ScriptingMusicAccessTest, FavouritesGoToTheCapturedTrackAndErrorsKeepTheirCodes) {
    const std::string ref = *access.snapshot().at("track").object()->at("trackRef").string();
    EXPECT_TRUE(access.favorite(ref));
    try {
        access.favorite("unknown", [] { return true; });
        FAIL() << "an unknown reference was read";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "track_unavailable");
    }
    app.setRunning(false);
    EXPECT_THROW(access.snapshot(), std::runtime_error);
}

TEST_F(ScriptingMusicAccessTest, ArtworkComesFromTheArtworkBridgeOnly) {
    const auto withArtwork = access.artworkSnapshot();
    ASSERT_TRUE(withArtwork);
    EXPECT_EQ(withArtwork->at("track").object()->at("artworkBase64"), JSONValue("thumb:jpg"));
    // The poll bridge has not fetched artwork, so its snapshots stay small until the controller adds it.
    EXPECT_EQ(access.snapshot().at("track").object()->count("artworkBase64"), 0u);

    app.setPlayerState(music::playerStateStopped);
    EXPECT_EQ(access.artworkSnapshot(), std::nullopt);
}

TEST(ScriptingMusicAccessConversionTest, NumbersJSONCannotCarryAreRefused) {
    KVDictionary nested;
    nested.set("list", KVArray{KVValue(nullptr), KVValue(1.5), KVValue("x")});
    KVDictionary dictionary;
    dictionary.set("nested", nested);
    const JSONObject converted = ScriptingMusicAccess::toJSON(dictionary);
    EXPECT_EQ(converted.at("nested").object()->at("list"), JSONValue(JSONArray{nullptr, 1.5, "x"}));
    dictionary.set("bad", std::numeric_limits<double>::quiet_NaN());
    EXPECT_THROW(ScriptingMusicAccess::toJSON(dictionary), JSONError);
}

} // namespace
} // namespace kavrel
