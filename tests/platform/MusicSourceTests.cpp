#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "Platform/MprisFavorites.hpp"
#include "Platform/MprisMusicApp.hpp"
#include "platform/MpdServer.hpp"
#include "platform/MprisPlayerDouble.hpp"
#include "platform/PrivateSessionBus.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QProcess>

#include <fstream>
#include <functional>
#include <future>
#include <vector>

namespace kavrel {
namespace {

const auto admitted = [] {
    return true;
};

// Metadata as players send it: the artists as a string list, the track id as an object path.
QVariantMap song(const QString& title, const QStringList& artists = {"Ann", "Bo"}) {
    return {{"xesam:title", title},
            {"xesam:artist", artists},
            {"xesam:album", "Record"},
            {"mpris:length", qint64(215'500'000)},
            {"mpris:trackid", QVariant::fromValue(QDBusObjectPath("/track/" + title))}};
}

// The values of a snapshot under these keys ("track.name" is the track's), as text joined by "|":
// "true", "null", "12", "<none>", "{track}".
std::string shown(const KVDictionary& snapshot, const std::vector<std::string_view>& keys) {
    std::string text;
    for (std::string_view key : keys) {
        const KVValue* value = snapshot.find(key);
        if (key.starts_with("track.")) {
            const KVValue* track = snapshot.find("track");
            value =
                track != nullptr && track->dictionary() ? track->dictionary()->find(key.substr(6)) : nullptr;
        }
        text += text.empty() ? "" : "|";
        if (value == nullptr || value->isNull()) {
            text += value == nullptr ? "<none>" : "null";
        } else if (value->boolean() != nullptr) {
            text += *value->boolean() ? "true" : "false";
        } else if (value->number() != nullptr) {
            text += std::to_string(static_cast<long long>(*value->number()));
        } else {
            text += value->string() != nullptr ? *value->string() : "{track}";
        }
    }
    return text;
}

bool playing(const KVDictionary& snapshot) {
    return shown(snapshot, {"track.name"}) == "Test Tone";
}

// The machine code a call fails with, or "" when it succeeds.
std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const MusicBridgeError& error) {
        return error.machineCode();
    }
    return "";
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

// AddressSanitizer keeps freed memory in quarantine: the resident size tells nothing there.
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
constexpr bool residentSizeTells = false;
#else
constexpr bool residentSizeTells = true;
#endif

// A real player, started with a scratch home and XDG folders, on a generated tagged tone at $TONE.
class RealPlayer {
public:
    RealPlayer() : environment(QProcessEnvironment::systemEnvironment()) {
        const QString home = QString::fromStdString(scratch.path().string());
        environment.insert("HOME", home);
        environment.insert("XDG_CONFIG_HOME", home + "/.config");
        environment.insert("XDG_DATA_HOME", home + "/.local/share");
        environment.insert("XDG_CACHE_HOME", home + "/.cache");
        environment.insert("GSETTINGS_BACKEND", "memory");
        environment.insert("NO_AT_BRIDGE", "1");
        environment.insert("TONE", home + "/tone.flac");
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice()); // players are chatty without a desktop
        makeTone(scratch.path() / "tone.flac");
    }
    ~RealPlayer() {
        process.kill();
        process.waitForFinished();
    }

    void start(const QString& command) {
        process.start("sh", {"-c", "exec " + command});
        EXPECT_TRUE(process.waitForStarted());
    }
    // Waits for the bus name to have an owner.
    bool registered(const std::string& busName) {
        return run("gdbus wait --session --timeout 30 " + busName + " && echo owned") == "owned";
    }
    // Runs a shell command in the player's environment to completion: what it wrote on its standard
    // output, without the last line feed.
    std::string run(const std::string& command) {
        QProcess sh;
        sh.setProcessEnvironment(environment);
        sh.setStandardErrorFile(QProcess::nullDevice());
        sh.start("sh", {"-c", QString::fromStdString(command)});
        EXPECT_TRUE(sh.waitForFinished(30'000)) << command;
        return sh.readAllStandardOutput().trimmed().toStdString();
    }

private:
    ScratchDirectory scratch;
    QProcessEnvironment environment;
    QProcess process;
};

// A bridge on a real MprisMusicApp, as the application builds it, inside the private bus and display that
// the last test of this file starts. The test thread plays the bridge's queue. Time is virtual unless a
// test asks for the real clock: the bridge's sleep advances it.
class MusicSourceInside : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (PrivateSessionBus::inside() && QCoreApplication::instance() == nullptr) {
            // QtDBus wants an application object; it lives as long as the process.
            static int argc = 1;
            static char name[] = "CompanionTests";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);
        }
    }

    void SetUp() override {
        if (!PrivateSessionBus::inside()) {
            GTEST_SKIP() << "runs only inside the private session bus that an outer test starts";
        }
        bridge = makeBridge(app);
    }

    std::unique_ptr<KVMusicBridge>
    makeBridge(MprisMusicApp& target, KVMusicBridge::ArtworkEncoder artwork = {}, bool realTime = false) {
        static int references = 0;
        KVMusicBridge::Ports ports{target, target.scriptingFactory(),
                                   [] { return "REF-" + std::to_string(++references); }, std::move(artwork)};
        if (realTime) {
            return std::make_unique<KVMusicBridge>(std::move(ports));
        }
        return std::make_unique<KVMusicBridge>(std::move(ports),
                                               KVMusicBridge::Timing{[this] { return now; },
                                                                     [this] { return 1.7e12 + now * 1000; },
                                                                     [this](double seconds) {
                                                                         now += seconds;
                                                                     }});
    }

    // A snapshot once one can be read and `until` holds of it, within 20 seconds; empty otherwise.
    KVDictionary readUntil(const std::function<bool(const KVDictionary&)>& until) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            KVDictionary snapshot;
            if (failureOf([&] { snapshot = bridge->readSnapshot(); }).empty() && until(snapshot)) {
                return snapshot;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }

    double now = 0;
    MprisMusicApp app;
    std::unique_ptr<KVMusicBridge> bridge;
};

TEST_F(MusicSourceInside, SharesAReadOnlyPlayerAndOnlyWhatItPublishes) {
    const ScratchDirectory directory;
    std::ofstream(directory.path() / "cover.jpg", std::ios::binary) << "JPEG";
    bridge = makeBridge(app, [](const std::vector<std::uint8_t>& raw) {
        return std::optional<std::string>(std::string(raw.begin(), raw.end()) + " thumbnail");
    });
    QVariantMap metadata = song("Song");
    metadata.insert("mpris:artUrl",
                    QString::fromStdString("file://" + (directory.path() / "cover.jpg").string()));
    MprisPlayerDouble player("kavreltest", "Playing", metadata);
    player.setPosition(12'250'000);
    EXPECT_EQ(
        shown(bridge->readSnapshot(), {"state", "positionMs", "durationMs", "track.name", "track.artist",
                                       "track.album", "track.favorited", "track.favoriteWritable"}),
        "playing|12250|215500|Song|Ann, Bo|Record|null|false");
    EXPECT_EQ(shown(bridge->readArtworkSnapshot(), {"track.artworkBase64"}), "JPEG thumbnail");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, "REF-0", admitted); }), "track_unavailable");

    // xesam:userRating: only the top counts as favourite.
    for (const auto& [rating, favorited] : {std::pair{1.0, "true"}, {0.99, "true"}, {0.98, "false"}}) {
        metadata.insert("xesam:userRating", rating);
        player.setMetadata(metadata);
        EXPECT_EQ(shown(bridge->readSnapshot(), {"track.favorited"}), favorited) << rating;
    }

    // Browsers answer NotSupported for Position: the rest of the snapshot stands.
    player.hide("Position");
    EXPECT_EQ(shown(bridge->readSnapshot(), {"positionMs", "track.name"}), "0|Song");

    // Each row: the state and metadata published, and the state and track shared. No track when
    // stopped, or playing without an artist (a radio stream, say) or without any metadata.
    const std::tuple<QString, QVariantMap, std::string> rows[] = {
        {"Paused", metadata, "paused|{track}"},
        {"Stopped", metadata, "stopped|null"},
        {"Playing", song("Live", {}), "playing|null"},
        {"Playing", {}, "playing|null"}};
    for (const auto& [status, published, shared] : rows) {
        player.setStatus(status);
        player.setMetadata(published);
        EXPECT_EQ(shown(bridge->readSnapshot(), {"state", "track"}), shared);
    }
}

// A player with a writable MPRIS Rating keeps favourites: its tracks are captured and written by
// the bridge's rules, on the track captured only while it is the current one.
TEST_F(MusicSourceInside, WritesTheFavouriteOfAPlayerWithAWritableRating) {
    MprisPlayerDouble player("strawberry", "Playing", song("Song"));
    player.setRating(0.6);
    const KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(shown(snapshot, {"track.favoriteWritable"}), "true");
    const std::string ref = shown(snapshot, {"track.trackRef"});

    // Each row: a rating before, the favourite asked for, the rating after.
    for (const auto& [before, desired, after] :
         {std::tuple{0.6, true, 1.0}, {1.0, false, 0.0}, {0.6, false, 0.6}}) {
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
TEST_F(MusicSourceInside, FollowsPlayersFromAQueueThread) {
    ThreadSerialQueue queue("com.quartzfield.kavrel.music");
    auto target = std::make_unique<MprisMusicApp>();
    auto queued = makeBridge(*target);
    const auto playing = [&] {
        std::promise<std::string> name;
        queue.async([&] {
            const std::string failure =
                failureOf([&] { name.set_value(shown(queued->readSnapshot(), {"track.name"})); });
            if (!failure.empty()) {
                name.set_value(failure);
            }
        });
        return name.get_future().get();
    };
    EXPECT_EQ(playing(), "music_not_running");
    MprisPlayerDouble first("first", "Playing", song("First"));
    EXPECT_EQ(playing(), "First");

    // While no one reads (sharing off), the bus goes on announcing: nothing may pile up meanwhile.
    std::ofstream("/proc/self/clear_refs") << "5"; // starts the peak over from here
    const std::size_t before = peakResidentKilobytes();
    // 20,000 announcements of about 4 KB each: 80 MB were they kept.
    first.flood(20'000, song(QString(2048, QChar('x'))));
    EXPECT_EQ(playing(), "First") << "everything announced has been taken in";
    if (residentSizeTells) {
        EXPECT_LT(peakResidentKilobytes() - before, 16'000u);
    }

    first.answer(MprisPlayerDouble::Answer::withAnError);
    EXPECT_EQ(playing(), "music_unavailable");
    // The bridge's own limit (120 ticks) bounds the read of a player that never answers.
    first.answer(MprisPlayerDouble::Answer::never);
    EXPECT_EQ(playing(), "music_timeout");
    first.answer(MprisPlayerDouble::Answer::normally);
    MprisPlayerDouble second("second", "Paused", song("Second"));
    first.setStatus("Paused");
    EXPECT_EQ(playing(), "First") << "both paused: the latest change";
    second.setStatus("Playing");
    EXPECT_EQ(playing(), "Second");
    second.vanish();
    EXPECT_EQ(playing(), "First");
    first.vanish();
    EXPECT_EQ(playing(), "music_not_running");
    // Taken down from another thread than the one that used it, as at the application's end.
    queued.reset();
    target.reset();
}

// A player that no one here wrote: mpv with its MPRIS plugin, read-only.
TEST_F(MusicSourceInside, SharesWhatMpvPlays) {
    const std::string plugin = "/etc/mpv/scripts/mpris.so";
    if (!installed("mpv sox metaflac") || !std::filesystem::exists(plugin)) {
        GTEST_SKIP() << "mpv, its MPRIS plugin, sox or metaflac is missing (packages mpv mpv-mpris sox flac)";
    }
    RealPlayer mpv;
    mpv.start(QString::fromStdString(
        "mpv --no-config --really-quiet --ao=null --no-video --script=" + plugin + " \"$TONE\""));
    const KVDictionary snapshot = readUntil(playing);
    EXPECT_EQ(shown(snapshot, {"durationMs", "track.favoriteWritable"}), "60000|false");
    const std::string started = shown(snapshot, {"positionMs"});
    EXPECT_FALSE(
        readUntil([&](const KVDictionary& later) { return shown(later, {"positionMs"}) != started; }).empty())
        << "the position does not move";
}

// MPD through its own protocol, without any MPRIS bridge: stickers written and cleared by the bridge
// with the real clock; a server without sticker_file shares its songs read-only, saying why.
TEST_F(MusicSourceInside, MpdKeepsFavouritesInStickers) {
    if (!installed("mpd mpc sox metaflac")) {
        GTEST_SKIP() << "packages mpd mpc sox flac are needed";
    }
    MpdServer readOnly({.stickers = false});
    readOnly.play();
    MprisMusicApp withoutStickers(readOnly.address());
    bridge = makeBridge(withoutStickers);
    EXPECT_EQ(shown(readUntil(playing), {"track.favoriteWritable"}), "false");
    EXPECT_EQ(shown(bridge->favoriteDiagnostics(), {"identifierReadError"}), "-10003") << "writes denied";

    MpdServer server;
    server.play();
    MprisMusicApp target(server.address());
    bridge = makeBridge(target, {}, true);
    const std::string ref = shown(readUntil(playing), {"track.trackRef"});
    EXPECT_TRUE(bridge->setFavorite(true, ref, admitted));
    EXPECT_EQ(server.mpc("sticker tone.flac get rating"), "rating=10");
    server.mpc("sticker tone.flac set like 2");
    EXPECT_FALSE(bridge->setFavorite(false, ref, admitted));
    EXPECT_EQ(server.mpc("sticker tone.flac list"), "") << "rating 10 and like 2 both deleted";
}

// Players that keep favourites in stores of their own, under the display: the favourite set and
// cleared through the bridge with the real clock (each write waits out the 5-second confirmation), and
// seen in the player's own store.
TEST_F(MusicSourceInside, RhythmboxAndQuodLibetKeepFavourites) {
    if (!installed("rhythmbox rhythmbox-client quodlibet sox metaflac")) {
        GTEST_SKIP() << "packages rhythmbox rhythmbox-plugins quodlibet sox flac are needed";
    }
    struct Row {
        std::string player;
        std::string play; // asked once more when a player still starting up drops it
        std::string stored;
        std::string top;
        std::string unrated;
    };
    const Row rows[] = {
        {"rhythmbox", "rhythmbox-client --no-start --play-uri=\"file://$TONE\"",
         "gdbus call --session -d org.gnome.Rhythmbox3 -o /org/gnome/Rhythmbox3/RhythmDB -m "
         "org.gnome.Rhythmbox3.RhythmDB.GetEntryProperties \"file://$TONE\" | grep -o \"'rating': "
         "<[0-9.]*>\"",
         "'rating': <5.0>", "'rating': <0.0>"},
        // Added to the library first, or its MPRIS rating stays stale.
        {"quodlibet", "quodlibet --add-location=\"$TONE\"; quodlibet --play-file=\"$TONE\"",
         "gdbus call --session -d net.sacredchao.QuodLibet -o /net/sacredchao/QuodLibet -m "
         "net.sacredchao.QuodLibet.CurrentSong | grep -o \"'~#rating': '[0-9.]*'\"",
         "'~#rating': '1.00'", "'~#rating': '0.50'"},
    };
    const auto captured = [](const KVDictionary& snapshot) {
        return playing(snapshot) && shown(snapshot, {"track.trackRef"}) != "";
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.player);
        RealPlayer player;
        player.run("mkdir -p $XDG_CONFIG_HOME/quodlibet && echo '[plugins]\nactive_plugins = mpris' "
                   ">$XDG_CONFIG_HOME/quodlibet/config");
        player.start(QString::fromStdString(row.player));
        ASSERT_TRUE(player.registered("org.mpris.MediaPlayer2." + row.player))
            << "is rhythmbox-plugins there?";
        bridge = makeBridge(app, {}, true);
        player.run(row.play);
        KVDictionary snapshot = readUntil(captured);
        if (snapshot.empty()) {
            player.run(row.play);
            snapshot = readUntil(captured);
        }
        EXPECT_EQ(shown(snapshot, {"track.favoriteWritable"}), "true");
        const std::string ref = shown(snapshot, {"track.trackRef"});
        EXPECT_TRUE(bridge->setFavorite(true, ref, admitted));
        EXPECT_EQ(player.run(row.stored), row.top);
        EXPECT_EQ(shown(bridge->readSnapshot(), {"track.favorited"}), "true");
        EXPECT_FALSE(bridge->setFavorite(false, ref, admitted));
        EXPECT_EQ(player.run(row.stored), row.unrated);
        // Rhythmbox answers FileNotFound for a URI not in its library; Quod Libet does not play it.
        const auto channel =
            MprisFavorites::of(QDBusConnection::sessionBus(),
                               QString::fromStdString("org.mpris.MediaPlayer2." + row.player), 5000);
        EXPECT_EQ(channel->channel->locate("file:///nowhere.flac"), status::errAENoSuchObject);
    }
}

TEST(MusicSource, AgainstPlayersInAPrivateSessionBusAndDisplay) {
    if (PrivateSessionBus::inside()) {
        GTEST_SKIP() << "already inside";
    }
    // Always a bus of our own: on a desktop's bus the user's players would take part in the choice.
    if (!PrivateSessionBus::available() || !installed("xvfb-run xauth")) {
        GTEST_SKIP() << "dbus-run-session, xvfb-run or xauth is missing (packages dbus xvfb xauth)";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("MusicSourceInside.*", "", true), 0)
        << "the tests inside the private session bus failed (output above)";
}

} // namespace
} // namespace kavrel
