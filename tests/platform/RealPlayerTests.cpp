#include "platform/MpdServer.hpp"
#include "platform/MusicSourceHarness.hpp"

#include "Platform/RhythmboxFavorites.hpp"

#include <QDBusConnection>

#include <fstream>

namespace kavrel {
namespace {

const auto admitted = [] {
    return true;
};

bool playing(const KVDictionary& snapshot) {
    return MusicSourceTest::shown(MusicSourceTest::trackOf(snapshot), "name") == "Test Tone";
}

using RealPlayerInside = MusicSourceTest;

// A player that no one here wrote: mpv with its MPRIS plugin, read-only.
TEST_F(RealPlayerInside, SharesWhatMpvPlays) {
    const char* plugin = "/etc/mpv/scripts/mpris.so";
    if (!RealPlayer::installed({"mpv", "sox", "metaflac"}) || !std::filesystem::exists(plugin)) {
        GTEST_SKIP() << "mpv, its MPRIS plugin, sox or metaflac is missing (packages mpv mpv-mpris sox flac)";
    }
    RealPlayer mpv;
    mpv.start(QStringLiteral("mpv"),
              {QStringLiteral("--no-config"), QStringLiteral("--really-quiet"), QStringLiteral("--ao=null"),
               QStringLiteral("--no-video"), QStringLiteral("--script=") + plugin,
               QString::fromStdString(mpv.tone())});
    // Metadata decoding and the read-only track are the player double's; here, that a real one plays.
    KVDictionary snapshot = readUntil(playing);
    EXPECT_EQ(shown(snapshot, "durationMs"), "60000");
    const std::string started = shown(snapshot, "positionMs");
    EXPECT_FALSE(
        readUntil([&](const KVDictionary& later) { return shown(later, "positionMs") != started; }).empty())
        << "the position does not move";
}

// MPD through its own protocol, without any MPRIS bridge: stickers written and cleared by the bridge
// with the real clock; a server without sticker_file shares its songs read-only, saying why.
TEST_F(RealPlayerInside, MpdKeepsFavouritesInStickers) {
    if (!MpdServer::available()) {
        GTEST_SKIP() << "packages mpd mpc sox flac are needed";
    }
    MpdServer readOnly({.stickers = false});
    readOnly.play();
    MprisMusicApp withoutStickers(readOnly.address());
    bridge = makeBridge(withoutStickers);
    EXPECT_EQ(shown(trackOf(readUntil(playing)), "favoriteWritable"), "false");
    EXPECT_EQ(diagnostic("identifierReadError"), "-10003") << "the reason: writes denied";

    MpdServer server;
    server.play();
    MprisMusicApp target(server.address());
    bridge = makeBridge(target, {}, true);
    const std::string ref = shown(trackOf(readUntil(playing)), "trackRef");
    EXPECT_TRUE(bridge->setFavorite(true, ref, admitted));
    EXPECT_EQ(server.mpc("sticker tone.flac get rating"), "rating=10");
    server.mpc("sticker tone.flac set like 2");
    EXPECT_FALSE(bridge->setFavorite(false, ref, admitted));
    EXPECT_EQ(server.mpc("sticker tone.flac list"), "") << "rating 10 and like 2 both deleted";
}

// Players that keep favourites, each under its own display: the favourite set and cleared through
// the bridge with the real clock (each write waits out the 5-second confirmation), and seen in the
// player's own store.
class PlayerOnDisplay : public MusicSourceTest {
protected:
    // Plays the tone until the snapshot carries its capture; returns its trackRef. A player still
    // starting up may drop the first request to play: it is asked once more.
    std::string capture(const std::function<void()>& play) {
        bridge = makeBridge(app, {}, true);
        const auto captured = [](const KVDictionary& snapshot) {
            return playing(snapshot) && shown(trackOf(snapshot), "trackRef") != "";
        };
        play();
        KVDictionary snapshot = readUntil(captured);
        if (snapshot.empty()) {
            play();
            snapshot = readUntil(captured);
        }
        EXPECT_EQ(shown(trackOf(snapshot), "favoriteWritable"), "true");
        return shown(trackOf(snapshot), "trackRef");
    }

    // Sets and clears the favourite; after each, the player's own value: what gdbus prints of a call
    // with these arguments, just the match of `pattern` (grep -o).
    void setAndClear(const std::string& ref, RealPlayer& player, const std::string& call,
                     const std::string& pattern, const std::string& top, const std::string& unrated) {
        const auto stored = [&] {
            return player.run("gdbus call --session " + call + " | grep -o \"" + pattern + "\"");
        };
        EXPECT_TRUE(bridge->setFavorite(true, ref, admitted));
        EXPECT_EQ(stored(), top);
        EXPECT_EQ(shown(trackOf(bridge->readSnapshot()), "favorited"), "true");
        EXPECT_FALSE(bridge->setFavorite(false, ref, admitted));
        EXPECT_EQ(stored(), unrated);
    }
};

TEST_F(PlayerOnDisplay, Rhythmbox) {
    if (!RealPlayer::installed({"rhythmbox", "rhythmbox-client", "sox", "metaflac"})) {
        GTEST_SKIP() << "packages rhythmbox rhythmbox-plugins sox flac are needed";
    }
    RealPlayer rhythmbox;
    rhythmbox.start(QStringLiteral("rhythmbox"), {});
    ASSERT_TRUE(rhythmbox.registered("org.mpris.MediaPlayer2.rhythmbox"))
        << "no MPRIS name: is rhythmbox-plugins installed?";
    const std::string uri = "file://" + rhythmbox.tone();
    const std::string ref =
        capture([&] { rhythmbox.run("rhythmbox-client --no-start --play-uri='" + uri + "'"); });
    const std::string get = "-d org.gnome.Rhythmbox3 -o /org/gnome/Rhythmbox3/RhythmDB -m "
                            "org.gnome.Rhythmbox3.RhythmDB.GetEntryProperties " +
                            uri;
    setAndClear(ref, rhythmbox, get, "'rating': <[0-9.]*>", "'rating': <5.0>", "'rating': <0.0>");
    EXPECT_EQ(RhythmboxFavorites(QDBusConnection::sessionBus(), 5000).locate("file:///nowhere.flac"),
              status::errAENoSuchObject)
        << "a URI not in the library: FileNotFound";
}

TEST_F(PlayerOnDisplay, QuodLibet) {
    if (!RealPlayer::installed({"quodlibet", "sox", "metaflac"})) {
        GTEST_SKIP() << "packages quodlibet sox flac are needed";
    }
    RealPlayer quodlibet;
    std::filesystem::create_directories(quodlibet.directory() / ".config/quodlibet");
    std::ofstream(quodlibet.directory() / ".config/quodlibet/config")
        << "[plugins]\nactive_plugins = mpris\n";
    quodlibet.start(QStringLiteral("quodlibet"), {});
    ASSERT_TRUE(quodlibet.registered("org.mpris.MediaPlayer2.quodlibet"));
    const std::string tone = "'" + quodlibet.tone() + "'";
    // Added to the library first, or its MPRIS rating stays stale.
    quodlibet.run("quodlibet --add-location=" + tone);
    const std::string ref = capture([&] { quodlibet.run("quodlibet --play-file=" + tone); });
    const std::string get = "-d net.sacredchao.QuodLibet -o /net/sacredchao/QuodLibet -m "
                            "net.sacredchao.QuodLibet.CurrentSong";
    setAndClear(ref, quodlibet, get, "'~#rating': '[0-9.]*'", "'~#rating': '1.00'", "'~#rating': '0.50'");
}

TEST(MusicSource, AgainstPlayersOnAPrivateDisplay) {
    if (PrivateSessionBus::inside()) {
        GTEST_SKIP() << "already inside";
    }
    if (!PrivateSessionBus::available() || !RealPlayer::installed({"xvfb-run", "xauth"})) {
        GTEST_SKIP() << "dbus-run-session, xvfb-run or xauth is missing (packages dbus xvfb xauth)";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("PlayerOnDisplay.*", "", true), 0)
        << "the tests on the private display failed (output above)";
}

} // namespace
} // namespace kavrel
