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

// The song, state and sticker round trip are read by the whole MPD favourite test in RealPlayerTests;
// here the refusals and failures it never meets.
class MpdClientAgainstMpd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MpdServer::available()) {
            GTEST_SKIP() << "mpd, mpc, sox or metaflac is missing (packages mpd mpc sox flac)";
        }
    }
};

TEST_F(MpdClientAgainstMpd, RefusesWhatItCannotWrite) {
    MpdServer server;
    MpdClient client(server.address());
    for (const auto& [uri, known] : {std::pair{"tone.flac", true},
                                     {"", false},
                                     {"http://radio.example/stream.mp3", false},
                                     {"/tmp/tone.flac", false}}) {
        EXPECT_EQ(client.isInDatabase(uri).value, known) << uri;
    }
    EXPECT_TRUE(client.deleteSticker("tone.flac", "rating").ok()) << "deleting an unset sticker";
    EXPECT_EQ(client.setSticker("gone.flac", "rating", "10").error, MpdError::notInDatabase);
    EXPECT_EQ(client.setSticker("tone.flac", "rating\nstatus", "10").error, MpdError::refused);

    MpdServer readOnly({.stickers = false});
    MpdClient withoutStickers(readOnly.address());
    EXPECT_EQ(withoutStickers.setSticker("tone.flac", "rating", "10").error, MpdError::stickersDisabled);
    EXPECT_TRUE(withoutStickers.ping().ok()) << "the refusal leaves the connection usable";
}

TEST_F(MpdClientAgainstMpd, SendsThePasswordThatGrantsStickersAndKeepsItOutOfMessages) {
    MpdServer server({.password = "s3cret"});
    auto address = server.address();
    EXPECT_TRUE(MpdClient(address).hasStickerDatabase().value);
    address.password = "wr0ng";
    const auto refused = MpdClient(address).ping();
    EXPECT_EQ(refused.error, MpdError::refused);
    EXPECT_EQ(refused.message.find("wr0ng"), std::string::npos) << refused.message;
}

TEST_F(MpdClientAgainstMpd, AGoneOrFrozenServer) {
    MpdServer server;
    MpdClient client(server.address(), 1s);
    EXPECT_TRUE(client.ping().ok());
    server.stop();
    server.start();
    EXPECT_TRUE(client.status().ok()) << "the connection kept from before is replaced at once";
    server.stop();
    EXPECT_EQ(client.ping().error, MpdError::unreachable);
    server.start();
    server.freeze(true);
    EXPECT_EQ(client.ping().error, MpdError::timeout);
    server.freeze(false);
    EXPECT_TRUE(client.ping().ok()) << "a new connection after the time-out";
}

} // namespace
} // namespace kavrel
