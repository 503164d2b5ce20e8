#include "Platform/MpdClient.hpp"
#include "platform/MpdServer.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

TEST(MpdAddress, IsReadFromTheVariablesAsMpcReadsThem) {
    struct Row {
        const char* host;
        const char* port;
        std::string address; // as described; empty when refused
        std::string password;
    };
    const Row rows[] = {
        {nullptr, nullptr, "localhost:6600", ""},
        {"", "", "localhost:6600", ""},
        {"music.lan", "6601", "music.lan:6601", ""},
        {"/run/mpd/socket", nullptr, "/run/mpd/socket", ""},
        {"@mpd", nullptr, "@mpd", ""},
        {"s3cret@music.lan", "65535", "music.lan:65535", "s3cret"},
        {"s3cret@@mpd", nullptr, "@mpd", "s3cret"},
        {"s3cret@", nullptr, "", ""},
        {nullptr, "0", "", ""},
        {nullptr, "65536", "", ""},
        {nullptr, "66OO", "", ""},
        {nullptr, "-1", "", ""},
    };
    for (const auto& row : rows) {
        const auto reading = MpdAddress::parse(row.host, row.port);
        const auto described = reading.address ? reading.address->describe() : "";
        SCOPED_TRACE(std::string(row.host ? row.host : "-") + " " + (row.port ? row.port : "-") + ": " +
                     described + reading.problem);
        EXPECT_EQ(described, row.address);
        EXPECT_EQ(reading.address ? reading.address->password : "", row.password);
        EXPECT_NE(reading.problem.empty(), row.address.empty());
        EXPECT_EQ((described + reading.problem).find("s3cret"), std::string::npos);
    }
}

class MpdClientAgainstMpd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MpdServer::available()) {
            GTEST_SKIP() << "mpd, mpc, sox or metaflac is missing (packages mpd mpc sox flac)";
        }
    }
};

TEST_F(MpdClientAgainstMpd, ReadsThePlayingSongAndTellsDatabaseSongsFromOthers) {
    MpdServer server;
    MpdClient client(server.address());
    EXPECT_EQ(client.status().value.state, MpdPlayState::stopped);
    EXPECT_FALSE(client.currentSong().value);
    server.play();

    const auto status = client.status();
    const auto song = client.currentSong();
    ASSERT_TRUE(status.ok() && song.ok() && song.value) << status.message << song.message;
    EXPECT_EQ(status.value.state, MpdPlayState::playing);
    EXPECT_EQ(status.value.durationSeconds, 30);
    EXPECT_EQ(song.value->uri, "tone.flac");
    EXPECT_EQ(song.value->title, "Test Tone");
    EXPECT_EQ(song.value->artists, std::vector<std::string>{"Sine Ensemble"});
    EXPECT_EQ(song.value->album, "Waveforms");
    EXPECT_DOUBLE_EQ(song.value->durationSeconds, 30);
    EXPECT_EQ(status.value.songId, song.value->id);

    server.mpc("-q pause");
    EXPECT_EQ(client.status().value.state, MpdPlayState::paused);

    for (const auto& [uri, known] : {std::pair{"tone.flac", true},
                                     {"", false},
                                     {"gone.flac", false},
                                     {"http://radio.example/stream.mp3", false},
                                     {"/tmp/tone.flac", false}}) {
        const auto inDatabase = client.isInDatabase(uri);
        EXPECT_TRUE(inDatabase.ok()) << uri << ": " << inDatabase.message;
        EXPECT_EQ(inDatabase.value, known) << uri;
    }
}

TEST_F(MpdClientAgainstMpd, StickersRoundTripAndAgreeWithMpc) {
    MpdServer server;
    MpdClient client(server.address());
    EXPECT_TRUE(client.hasStickerDatabase().value);
    const auto unset = client.sticker("tone.flac", "rating");
    EXPECT_TRUE(unset.ok()) << unset.message;
    EXPECT_FALSE(unset.value);

    EXPECT_TRUE(client.setSticker("tone.flac", "rating", "10").ok());
    EXPECT_EQ(server.mpc("sticker tone.flac get rating"), "rating=10");
    server.mpc("sticker tone.flac set like 2");
    EXPECT_EQ(client.sticker("tone.flac", "like").value, "2");

    EXPECT_TRUE(client.deleteSticker("tone.flac", "rating").ok());
    EXPECT_EQ(server.mpc("sticker tone.flac get rating"), "MPD error: no such sticker");
    EXPECT_TRUE(client.deleteSticker("tone.flac", "rating").ok()) << "deleting an unset sticker";

    EXPECT_EQ(client.sticker("gone.flac", "rating").error, MpdError::notInDatabase);
    EXPECT_EQ(client.setSticker("gone.flac", "rating", "10").error, MpdError::notInDatabase);
    EXPECT_EQ(client.setSticker("tone.flac", "rating\nstatus", "10").error, MpdError::refused);
}

TEST_F(MpdClientAgainstMpd, AServerWithoutStickerFileIsReadOnlyWithItsReason) {
    MpdServer server({.stickers = false});
    MpdClient client(server.address());
    const auto database = client.hasStickerDatabase();
    EXPECT_TRUE(database.ok());
    EXPECT_FALSE(database.value);
    EXPECT_EQ(database.message, "sticker database is disabled");
    EXPECT_EQ(client.sticker("tone.flac", "rating").error, MpdError::stickersDisabled);
    EXPECT_EQ(client.setSticker("tone.flac", "rating", "10").error, MpdError::stickersDisabled);
    EXPECT_TRUE(client.ping().ok()) << "the refusal leaves the connection usable";
}

TEST_F(MpdClientAgainstMpd, SendsThePasswordThatGrantsStickersAndKeepsItOutOfMessages) {
    MpdServer server({.password = "s3cret"});
    auto address = server.address();
    EXPECT_TRUE(MpdClient(address).hasStickerDatabase().value);
    address.password.clear();
    EXPECT_EQ(MpdClient(address).hasStickerDatabase().error, MpdError::refused);
    address.password = "wr0ng";
    const auto refused = MpdClient(address).ping();
    EXPECT_EQ(refused.error, MpdError::refused);
    EXPECT_EQ(refused.message.find("wr0ng"), std::string::npos) << refused.message;
}

TEST_F(MpdClientAgainstMpd, AGoneServerIsUnreachableAndFoundAgainWhenItReturns) {
    MpdServer server;
    MpdClient client(server.address());
    EXPECT_TRUE(client.ping().ok());
    server.stop();
    server.start();
    EXPECT_TRUE(client.status().ok()) << "the connection kept from before is replaced at once";
    server.stop();
    const auto gone = client.ping();
    EXPECT_EQ(gone.error, MpdError::unreachable);
    EXPECT_NE(gone.message.find(server.socket().string()), std::string::npos) << gone.message;

    server.start();
    EXPECT_EQ(MpdClient({.host = "@kavrel-no-such-mpd"}).ping().error, MpdError::unreachable);

    MpdClient impatient(server.address(), 1s);
    EXPECT_TRUE(impatient.ping().ok()) << "before the freeze";
    server.freeze(true);
    EXPECT_EQ(impatient.ping().error, MpdError::timeout);
    server.freeze(false);
    EXPECT_TRUE(impatient.ping().ok()) << "a new connection after the time-out";
}

} // namespace
} // namespace kavrel
