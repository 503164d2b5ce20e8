#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "Platform/MprisMusicApp.hpp"
#include "platform/MprisPlayerDouble.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

class RecordingDelegate final : public MusicScriptingDelegate {
public:
    void eventDidFail(OSStatus status) override { failures.push_back(status); }
    std::vector<OSStatus> failures;
};

// A bridge on a real MprisMusicApp, as the application builds it, on the private bus that the outer
// test started. The test thread plays the bridge's queue.
class MprisBusTest : public ::testing::Test {
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
            GTEST_SKIP() << "runs only inside the private session bus that "
                            "MprisMusicApp.AgainstPlayersInAPrivateSessionBus starts";
        }
        bridge = makeBridge(app);
    }

    static std::unique_ptr<KVMusicBridge> makeBridge(MprisMusicApp& target,
                                                     KVMusicBridge::ArtworkEncoder artwork = {}) {
        return std::make_unique<KVMusicBridge>(KVMusicBridge::Ports{
            target, target.scriptingFactory(), [] { return std::string("REF"); }, std::move(artwork)});
    }

    static const KVDictionary& trackOf(const KVDictionary& snapshot) {
        static const KVDictionary none;
        const KVValue* track = snapshot.find("track");
        return track != nullptr && track->dictionary() != nullptr ? *track->dictionary() : none;
    }

    static std::string text(const KVDictionary& object, std::string_view key) {
        const KVValue* value = object.find(key);
        return value != nullptr && value->string() != nullptr ? *value->string() : "<none>";
    }

    static double number(const KVDictionary& object, std::string_view key) {
        const KVValue* value = object.find(key);
        return value != nullptr && value->number() != nullptr ? *value->number() : -1;
    }

    // The machine code a call fails with, or "" when it succeeds.
    template <typename Call> static std::string failureOf(Call call) {
        try {
            call();
        } catch (const MusicBridgeError& error) {
            return error.machineCode();
        }
        return "";
    }

    // What the scripting port reads for the current track, past the bridge's filters.
    static std::shared_ptr<MusicScriptingTrack> scriptedTrack(MprisMusicApp& target,
                                                              RecordingDelegate& delegate,
                                                              long timeoutTicks = kMusicTimeoutTicks) {
        EXPECT_TRUE(target.hasRunningApplication(KVMusicBridge::bundleIdentifier));
        const auto scripting = target.scriptingFactory()(
            KVMusicBridge::bundleIdentifier, {&delegate, timeoutTicks, kAEWaitReplyNeverInteract});
        return scripting->currentTrack();
    }

    static QVariantMap song(const QString& title, const QString& trackID = QStringLiteral("/track/1")) {
        return MprisPlayerDouble::metadata(title, {QStringLiteral("Ann"), QStringLiteral("Bo")},
                                           QStringLiteral("Record"), 215'500'000, trackID);
    }

    MprisMusicApp app;
    std::unique_ptr<KVMusicBridge> bridge;
};

using MprisMusicAppInside = MprisBusTest;

TEST_F(MprisMusicAppInside, SharesThePlayingTrackReadOnly) {
    MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Playing"), song("Song"));
    player.setPosition(12'250'000);
    const KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(text(snapshot, "state"), "playing");
    EXPECT_EQ(number(snapshot, "positionMs"), 12250);
    EXPECT_EQ(number(snapshot, "durationMs"), 215500);
    const KVDictionary& track = trackOf(snapshot);
    EXPECT_EQ(text(track, "name"), "Song");
    EXPECT_EQ(text(track, "artist"), "Ann, Bo");
    EXPECT_EQ(text(track, "album"), "Record");
    EXPECT_EQ(text(track, "trackRef"), "");
    ASSERT_NE(track.find("favorited"), nullptr);
    EXPECT_TRUE(track.find("favorited")->isNull());
    EXPECT_EQ(*track.find("favoriteWritable"), KVValue(false));

    const KVDictionary& diagnostics = bridge->favoriteDiagnostics();
    EXPECT_EQ(*diagnostics.find("stage"), KVValue("reference_unavailable"));
    EXPECT_EQ(*diagnostics.find("persistentIdAvailable"), KVValue(true));
    EXPECT_EQ(*diagnostics.find("databaseIdAvailable"), KVValue(true));
    EXPECT_EQ(*diagnostics.find("itemIdAvailable"), KVValue(false));

    // Nothing was captured, so no favourite command finds a track.
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("REF"); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, "REF", [] { return true; }); }), "track_unavailable");
}

TEST_F(MprisMusicAppInside, StatesAndTracksThatAreNotShared) {
    MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Paused"), song("Song"));
    player.setPosition(5'000'000);
    KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(text(snapshot, "state"), "paused");
    EXPECT_EQ(text(trackOf(snapshot), "name"), "Song");

    player.setStatus(QStringLiteral("Stopped"));
    snapshot = bridge->readSnapshot();
    EXPECT_EQ(text(snapshot, "state"), "stopped");
    EXPECT_TRUE(snapshot.find("track")->isNull());
    EXPECT_EQ(number(snapshot, "positionMs"), 0);

    // Playing, but no artist (a radio stream, say) or no metadata at all: nothing to share.
    player.setStatus(QStringLiteral("Playing"));
    for (const QVariantMap& metadata :
         {MprisPlayerDouble::metadata(QStringLiteral("Live"), {}, QStringLiteral("Radio"), 0),
          QVariantMap()}) {
        player.setMetadata(metadata);
        snapshot = bridge->readSnapshot();
        EXPECT_EQ(text(snapshot, "state"), "playing");
        EXPECT_TRUE(snapshot.find("track")->isNull());
    }
}

TEST_F(MprisMusicAppInside, IdentityComesFromTheTrackIdElseTheUrl) {
    QVariantMap metadata = song("Song");
    MprisPlayerDouble player(QStringLiteral("kavreltest.instance42"), QStringLiteral("Playing"), metadata);
    RecordingDelegate delegate;
    const std::string byTrackID = scriptedTrack(app, delegate)->persistentID();
    EXPECT_EQ(byTrackID.size(), 16u);
    EXPECT_EQ(scriptedTrack(app, delegate)->itemID(), 0) << "never captured";

    metadata.remove(QStringLiteral("mpris:trackid"));
    metadata.insert(QStringLiteral("xesam:url"), QStringLiteral("file:///music/song.flac"));
    player.setMetadata(metadata);
    EXPECT_EQ(text(trackOf(bridge->readSnapshot()), "name"), "Song") << "shared without a track id";
    const auto byURL = scriptedTrack(app, delegate);
    EXPECT_NE(byURL->persistentID(), byTrackID);
    EXPECT_GE(byURL->databaseID(), 1);

    // Another instance of the program and another run of the player: the same identity.
    player.vanish();
    MprisPlayerDouble restarted(QStringLiteral("kavreltest.instance77"), QStringLiteral("Playing"), metadata);
    MprisMusicApp other;
    EXPECT_EQ(scriptedTrack(other, delegate)->persistentID(), byURL->persistentID());
    EXPECT_TRUE(delegate.failures.empty());
}

TEST_F(MprisMusicAppInside, VanishedPlayerIsNotRunningOnTheNextTick) {
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_not_running");
    {
        MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Playing"), song("Song"));
        EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "");
        player.vanish();
        EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_not_running");
    }
    MprisPlayerDouble returned(QStringLiteral("kavreltest"), QStringLiteral("Playing"), song("Again"));
    EXPECT_EQ(text(trackOf(bridge->readSnapshot()), "name"), "Again");
}

TEST_F(MprisMusicAppInside, HungOrFailingPlayerFailsTheRead) {
    MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Playing"), song("Song"));
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "");

    player.setFailing(true);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_unavailable");
    player.setFailing(false);

    // The bridge's own limit (120 ticks) bounds the read of a player that never answers.
    player.setHanging(true);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_timeout");
    // Each scripting read is bounded by the limit it is given.
    RecordingDelegate delegate;
    EXPECT_EQ(scriptedTrack(app, delegate, 6), nullptr);
    EXPECT_EQ(delegate.failures, std::vector<OSStatus>{status::errAETimeout});

    player.setHanging(false);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "") << "recovers once the player answers";
}

TEST_F(MprisMusicAppInside, ThePlayingPlayerWinsElseTheLatestChange) {
    MprisPlayerDouble first(QStringLiteral("first"), QStringLiteral("Paused"), song("First"));
    MprisPlayerDouble second(QStringLiteral("second"), QStringLiteral("Playing"), song("Second"));
    EXPECT_EQ(text(trackOf(bridge->readSnapshot()), "name"), "Second");

    second.setStatus(QStringLiteral("Paused"));
    first.setStatus(QStringLiteral("Playing"));
    EXPECT_EQ(text(trackOf(bridge->readSnapshot()), "name"), "First");

    first.setStatus(QStringLiteral("Paused"));
    second.setStatus(QStringLiteral("Stopped"));
    EXPECT_EQ(text(bridge->readSnapshot(), "state"), "stopped") << "none playing: the latest change";

    // A bridge that starts now finds both already there, and the playing one.
    second.setStatus(QStringLiteral("Playing"));
    MprisMusicApp fresh;
    EXPECT_EQ(text(trackOf(makeBridge(fresh)->readSnapshot()), "name"), "Second");
}

TEST_F(MprisMusicAppInside, ArtworkOnlyFromALocalArtUrl) {
    const ScratchDirectory directory;
    const auto cover = directory.path() / "cover.jpg";
    std::ofstream(cover, std::ios::binary) << "JPEG";
    std::vector<std::uint8_t> encoded;
    bridge = makeBridge(app, [&](const std::vector<std::uint8_t>& raw) {
        encoded = raw;
        return std::optional<std::string>("thumbnail");
    });
    QVariantMap metadata = song("Song");
    metadata.insert(QStringLiteral("mpris:artUrl"), QStringLiteral("https://example.org/cover.jpg"));
    MprisPlayerDouble player(QStringLiteral("kavreltest"), QStringLiteral("Playing"), metadata);
    bridge->readPlaybackSnapshot();
    EXPECT_TRUE(bridge->readArtworkSnapshot().empty()) << "remote art is not fetched";

    metadata.insert(QStringLiteral("mpris:artUrl"), QString::fromStdString("file://" + cover.string()));
    player.setMetadata(metadata);
    bridge->readPlaybackSnapshot();
    EXPECT_EQ(text(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), "thumbnail");
    EXPECT_EQ(std::string(encoded.begin(), encoded.end()), "JPEG");
}

// As the application runs it: on a queue's worker thread, which has no Qt event loop.
TEST_F(MprisMusicAppInside, FollowsPlayersFromAQueueThread) {
    ThreadSerialQueue queue("com.quartzfield.kavrel.music");
    auto target = std::make_unique<MprisMusicApp>();
    auto queued = makeBridge(*target);
    const auto playing = [&] {
        std::promise<std::string> name;
        queue.async([&] {
            try {
                name.set_value(text(trackOf(queued->readSnapshot()), "name"));
            } catch (const MusicBridgeError& error) {
                name.set_value(error.machineCode());
            }
        });
        return name.get_future().get();
    };
    MprisPlayerDouble first(QStringLiteral("first"), QStringLiteral("Playing"), song("First"));
    EXPECT_EQ(playing(), "First");
    MprisPlayerDouble second(QStringLiteral("second"), QStringLiteral("Paused"), song("Second"));
    first.setStatus(QStringLiteral("Paused"));
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

// Runs the event loop until the condition holds, looking again every 50 ms; the bound only keeps a
// broken peer from hanging the suite.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = 20s) {
    if (condition()) {
        return true;
    }
    QEventLoop loop;
    QTimer::singleShot(bound, &loop, &QEventLoop::quit);
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    look.start(50ms);
    loop.exec();
    return condition();
}

using MpvInside = MprisBusTest;

// A player that no one here wrote: mpv with its MPRIS plugin, playing a tagged tone.
TEST_F(MpvInside, SharesWhatMpvPlays) {
    const char* plugin = "/etc/mpv/scripts/mpris.so";
    if (!onPath("mpv") || !onPath("sox") || !onPath("metaflac") || !std::filesystem::exists(plugin)) {
        GTEST_SKIP() << "mpv, its MPRIS plugin, sox or metaflac is missing (packages mpv mpv-mpris sox flac)";
    }
    const ScratchDirectory directory;
    const std::string tone = (directory.path() / "tone.flac").string();
    const std::string make = "sox -n -r 44100 -c 2 '" + tone + "' synth 30 sine 440 && metaflac " +
                             "--set-tag=TITLE='Test Tone' --set-tag=ARTIST='Sine Ensemble' " +
                             "--set-tag=ALBUM=Waveforms '" + tone + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);

    QProcess mpv;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(directory.path().string()));
    mpv.setProcessEnvironment(environment);
    mpv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mpv.setStandardOutputFile(QProcess::nullDevice());
    mpv.start(QStringLiteral("mpv"),
              {QStringLiteral("--no-config"), QStringLiteral("--really-quiet"), QStringLiteral("--ao=null"),
               QStringLiteral("--no-video"), QStringLiteral("--loop-file=inf"),
               QStringLiteral("--script=") + plugin, QString::fromStdString(tone)});
    ASSERT_TRUE(mpv.waitForStarted());

    const QString name = QStringLiteral("org.mpris.MediaPlayer2.mpv");
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const auto registered = [&] {
        return bus.interface()->isServiceRegistered(name).value();
    };
    KVDictionary snapshot;
    const auto read = [&] {
        try {
            snapshot = bridge->readSnapshot();
            return true;
        } catch (const MusicBridgeError&) {
            return false;
        }
    };
    EXPECT_TRUE(eventually(registered)) << "mpv never took its bus name";
    // The name comes before the file is loaded and tagged.
    EXPECT_TRUE(eventually([&] { return read() && text(trackOf(snapshot), "name") == "Test Tone"; }));
    EXPECT_EQ(text(snapshot, "state"), "playing");
    EXPECT_EQ(text(trackOf(snapshot), "artist"), "Sine Ensemble");
    EXPECT_EQ(text(trackOf(snapshot), "album"), "Waveforms");
    EXPECT_NEAR(number(snapshot, "durationMs"), 30000, 100);
    EXPECT_EQ(*trackOf(snapshot).find("favoriteWritable"), KVValue(false));

    const double started = number(snapshot, "positionMs");
    EXPECT_TRUE(eventually([&] { return read() && number(snapshot, "positionMs") > started; }))
        << "the position does not move";

    bus.call(QDBusMessage::createMethodCall(name, QStringLiteral("/org/mpris/MediaPlayer2"),
                                            QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                            QStringLiteral("Pause")));
    EXPECT_TRUE(eventually([&] { return read() && text(snapshot, "state") == "paused"; }));
    EXPECT_EQ(text(trackOf(snapshot), "name"), "Test Tone");

    mpv.kill();
    mpv.waitForFinished();
    // Later tests must not find it still on the bus.
    EXPECT_TRUE(eventually([&] { return !registered(); }));
}

TEST(MprisMusicApp, AgainstPlayersInAPrivateSessionBus) {
    if (PrivateSessionBus::inside()) {
        GTEST_SKIP() << "already inside";
    }
    // Always a bus of our own: on a desktop's bus the user's players would take part in the choice.
    if (!PrivateSessionBus::available()) {
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus); the MPRIS tests cannot run";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("MprisMusicAppInside.*:MpvInside.*"), 0)
        << "the tests inside the private session bus failed (output above)";
}

} // namespace
} // namespace kavrel
