#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "platform/MprisPlayerDouble.hpp"
#include "platform/MusicSourceHarness.hpp"

#include <QDBusObjectPath>

#include <fstream>
#include <future>
#include <vector>

namespace kavrel {
namespace {

// Metadata as players send it: the artists as a string list, the track id as an object path.
QVariantMap song(const QString& title, const QStringList& artists = {"Ann", "Bo"}) {
    return {{"xesam:title", title},
            {"xesam:artist", artists},
            {"xesam:album", "Record"},
            {"mpris:length", qint64(215'500'000)},
            {"mpris:trackid", QVariant::fromValue(QDBusObjectPath("/track/" + title))}};
}

using MprisMusicAppInside = MusicSourceTest;

TEST_F(MprisMusicAppInside, SharesAReadOnlyPlayerAndOnlyWhatItPublishes) {
    const ScratchDirectory directory;
    std::ofstream(directory.path() / "cover.jpg", std::ios::binary) << "JPEG";
    bridge = makeBridge(app, [](const std::vector<std::uint8_t>& raw) {
        return std::optional<std::string>(std::string(raw.begin(), raw.end()) + " thumbnail");
    });
    QVariantMap metadata = song("Song");
    metadata.insert("mpris:artUrl",
                    QString::fromStdString("file://" + (directory.path() / "cover.jpg").string()));
    MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Playing"), metadata);
    player.setPosition(12'250'000);
    KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(shown(snapshot, "positionMs"), "12250");
    EXPECT_EQ(shown(snapshot, "durationMs"), "215500");
    EXPECT_EQ(shown(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), "JPEG thumbnail");
    const KVDictionary& track = trackOf(snapshot);
    EXPECT_EQ(shown(track, "artist"), "Ann, Bo");
    EXPECT_EQ(shown(track, "album"), "Record");
    EXPECT_EQ(shown(track, "favoriteWritable"), "false");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, "REF-0", [] { return true; }); }),
              "track_unavailable");

    // xesam:userRating: only the top counts as favourite; none published, none known.
    for (const auto& [rating, favorited] : std::vector<std::pair<QVariant, std::string>>{
             {1.0, "true"}, {0.99, "true"}, {0.98, "false"}, {0.0, "false"}, {QVariant(), "null"}}) {
        QVariantMap metadata = song("Song");
        if (rating.isValid()) {
            metadata.insert(QStringLiteral("xesam:userRating"), rating);
        }
        player.setMetadata(metadata);
        EXPECT_EQ(shown(trackOf(bridge->readSnapshot()), "favorited"), favorited) << rating.toDouble();
    }

    // Browsers answer NotSupported for Position: the rest of the snapshot stands.
    player.hide(QStringLiteral("Position"));
    snapshot = bridge->readSnapshot();
    EXPECT_EQ(shown(snapshot, "positionMs"), "0");
    EXPECT_EQ(shown(trackOf(snapshot), "name"), "Song");

    // States and tracks that are not shared: stopped, or playing without an artist (a radio
    // stream, say) or without any metadata.
    player.setStatus(QStringLiteral("Paused"));
    EXPECT_EQ(shown(bridge->readSnapshot(), "state"), "paused");
    player.setStatus(QStringLiteral("Stopped"));
    EXPECT_TRUE(bridge->readSnapshot().find("track")->isNull());
    player.setStatus(QStringLiteral("Playing"));
    for (const QVariantMap& metadata : {song("Live", {}), QVariantMap()}) {
        player.setMetadata(metadata);
        const KVDictionary snapshot = bridge->readSnapshot();
        EXPECT_EQ(shown(snapshot, "state"), "playing");
        EXPECT_TRUE(snapshot.find("track")->isNull());
    }
}

// A player with a writable MPRIS Rating keeps favourites: its tracks are captured and written by
// the bridge's rules, on the track captured only while it is the current one.
TEST_F(MprisMusicAppInside, WritesTheFavouriteOfAPlayerWithAWritableRating) {
    MprisPlayerDouble player(QStringLiteral("strawberry"), QStringLiteral("Playing"), song("Song"));
    player.setRating(0.6);
    const KVDictionary track = trackOf(bridge->readSnapshot());
    const std::string ref = shown(track, "trackRef");
    EXPECT_EQ(shown(track, "favoriteWritable"), "true");
    const auto admitted = [] {
        return true;
    };

    // Each row: a rating before, the favourite asked for, the rating after.
    for (const auto& [before, desired, after] : std::vector<std::tuple<double, bool, double>>{
             {0.6, true, 1.0}, {1.0, false, 0.0}, {0.6, false, 0.6}}) {
        player.setRating(before);
        const double started = now;
        EXPECT_EQ(bridge->setFavorite(desired, ref, admitted), desired);
        EXPECT_EQ(player.rating(), after) << "from " << before;
        EXPECT_GE(now - started, 5.0) << "confirmed by a read-back that held";
    }
    player.setMetadata(song("Other"));
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, admitted); }), "track_unavailable");
    EXPECT_EQ(player.rating(), 0.6) << "never on the song that plays now";
}

// As the application runs it: on a queue's worker thread, which has no Qt event loop. Playing wins,
// else the latest change; a player that vanishes, fails or never answers is no longer read.
TEST_F(MprisMusicAppInside, FollowsPlayersFromAQueueThread) {
    ThreadSerialQueue queue("com.quartzfield.kavrel.music");
    auto target = std::make_unique<MprisMusicApp>();
    auto queued = makeBridge(*target);
    const auto playing = [&] {
        std::promise<std::string> name;
        queue.async([&] {
            const std::string failure =
                failureOf([&] { name.set_value(shown(trackOf(queued->readSnapshot()), "name")); });
            if (!failure.empty()) {
                name.set_value(failure);
            }
        });
        return name.get_future().get();
    };
    EXPECT_EQ(playing(), "music_not_running");
    MprisPlayerDouble first(QStringLiteral("first"), QStringLiteral("Playing"), song("First"));
    EXPECT_EQ(playing(), "First");
    first.answer(MprisPlayerDouble::Answer::withAnError);
    EXPECT_EQ(playing(), "music_unavailable");
    // The bridge's own limit (120 ticks) bounds the read of a player that never answers.
    first.answer(MprisPlayerDouble::Answer::never);
    EXPECT_EQ(playing(), "music_timeout");
    first.answer(MprisPlayerDouble::Answer::normally);
    MprisPlayerDouble second(QStringLiteral("second"), QStringLiteral("Paused"), song("Second"));
    first.setStatus(QStringLiteral("Paused"));
    EXPECT_EQ(playing(), "First") << "both paused: the latest change";
    second.setStatus(QStringLiteral("Playing"));
    EXPECT_EQ(playing(), "Second");
    second.vanish();
    EXPECT_EQ(playing(), "First");
    first.vanish();
    EXPECT_EQ(playing(), "music_not_running");
    // Taken down from another thread than the one that used it, as at the application's end.
    queued.reset();
    target.reset();
}

std::size_t peakResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

// Sharing off: no one reads, while the bus goes on announcing. Nothing may pile up meanwhile.
TEST_F(MprisMusicAppInside, MemoryStaysFlatWhileNoOneReads) {
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: the resident size tells nothing here";
#endif
    ThreadSerialQueue queue("com.quartzfield.kavrel.music");
    MprisMusicApp target;
    const auto look = [&] {
        std::promise<bool> running;
        queue.async(
            [&] { running.set_value(target.hasRunningApplication(KVMusicBridge::bundleIdentifier)); });
        return running.get_future().get();
    };
    MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Playing"), song("Song"));
    EXPECT_TRUE(look());
    std::ofstream("/proc/self/clear_refs") << "5"; // starts the peak over from here
    const std::size_t before = peakResidentKilobytes();
    // 20,000 announcements of about 4 KB each: 80 MB were they kept.
    player.flood(20'000, song(QString(2048, QChar('x'))));
    EXPECT_TRUE(look()) << "everything announced has been taken in";
    EXPECT_LT(peakResidentKilobytes() - before, 16'000u);
}

TEST(MprisMusicApp, AgainstPlayersInAPrivateSessionBus) {
    if (PrivateSessionBus::inside()) {
        GTEST_SKIP() << "already inside";
    }
    // Always a bus of our own: on a desktop's bus the user's players would take part in the choice.
    if (!PrivateSessionBus::available()) {
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus); the MPRIS tests cannot run";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("MprisMusicAppInside.*:RealPlayerInside.*"), 0)
        << "the tests inside the private session bus failed (output above)";
}

} // namespace
} // namespace kavrel
