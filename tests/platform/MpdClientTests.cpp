#include "Platform/MpdClient.hpp"
#include "platform/MpdServer.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

TEST(MpdAddress, IsReadFromTheVariablesAsMpcReadsThem) {
    // Each row: MPD_HOST and MPD_PORT, and the address read, with its password before an "@"; none
    // when the variables are refused.
    const std::tuple<const char*, const char*, std::string> rows[] = {
        {"", "", "localhost:6600"},
        {"music.lan", "6601", "music.lan:6601"},
        {"/run/mpd/socket", nullptr, "/run/mpd/socket"},
        {"@mpd", nullptr, "@mpd"},
        {"s3cret@music.lan", "65535", "s3cret@music.lan:65535"},
        {"s3cret@@mpd", nullptr, "s3cret@@mpd"},
        {"s3cret@", nullptr, ""},
        {nullptr, "0", ""},
        {nullptr, "65536", ""},
        {nullptr, "66OO", ""},
        {nullptr, "-1", ""},
    };
    for (const auto& [host, port, expected] : rows) {
        const auto reading = MpdAddress::parse(host, port);
        const auto described = reading.address ? reading.address->describe() : "";
        SCOPED_TRACE(std::string(host ? host : "-") + " " + (port ? port : "-") + ": " + described +
                     reading.problem);
        const auto password =
            reading.address && !reading.address->password.empty() ? reading.address->password + "@" : "";
        EXPECT_EQ(password + described, expected);
        EXPECT_NE(reading.problem.empty(), expected.empty());
        EXPECT_EQ((described + reading.problem).find("s3cret"), std::string::npos);
    }
}

// The song, state and sticker round trip are read by the MPD favourite test of the music source; here
// the refusals and failures it never meets.
TEST(MpdClient, RefusesWhatItCannotWrite) {
    if (!installed("mpd mpc sox metaflac")) {
        GTEST_SKIP() << "packages mpd mpc sox flac are needed";
    }
    MpdServer server({.password = "s3cret"});
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
    EXPECT_TRUE(client.hasStickerDatabase().value) << "granted by the password";
    auto address = server.address();
    address.password = "wr0ng";
    const auto refused = MpdClient(address).ping();
    EXPECT_EQ(refused.error, MpdError::refused);
    EXPECT_EQ(refused.message.find("wr0ng"), std::string::npos) << refused.message;

    MpdServer readOnly({.stickers = false});
    MpdClient withoutStickers(readOnly.address());
    EXPECT_EQ(withoutStickers.setSticker("tone.flac", "rating", "10").error, MpdError::stickersDisabled);
    EXPECT_TRUE(withoutStickers.ping().ok()) << "the refusal leaves the connection usable";
}

TEST(MpdClient, AGoneOrFrozenServer) {
    if (!installed("mpd mpc sox metaflac")) {
        GTEST_SKIP() << "packages mpd mpc sox flac are needed";
    }
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
