#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "Platform/MpdClient.hpp"
#include "Platform/MpdFavorites.hpp"
#include "Platform/MprisFavorites.hpp"
#include "Platform/MprisMusicApp.hpp"
#include "connector-sim/EndToEnd.hpp"
#include "platform/MprisPlayerDouble.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QProcess>

#include <array>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
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

// The values of a snapshot under these keys ("track.name" is the track's), as text joined by "|":
// "true", "null", "12", "<none>", "{track}".
std::string shown(const KVDictionary& snapshot, const std::vector<std::string_view>& keys) {
    std::string text;
    for (std::string_view key : keys) {
        const KVValue* track = key.starts_with("track.") ? snapshot.find("track") : nullptr;
        const KVDictionary* object = track != nullptr ? track->dictionary() : &snapshot;
        const KVValue* value =
            object != nullptr ? object->find(key.substr(track != nullptr ? 6 : 0)) : nullptr;
        text += text.empty() ? "" : "|";
        if (value == nullptr) {
            text += "<none>";
        } else if (const bool* flag = value->boolean()) {
            text += *flag ? "true" : "false";
        } else if (const double* number = value->number()) {
            text += std::to_string(static_cast<long long>(*number));
        } else {
            text += value->string() != nullptr ? *value->string() : value->isNull() ? "null" : "{track}";
        }
    }
    return text;
}

// Whether all these programs (separated by spaces) are installed; a test skips otherwise.
bool installed(const std::string& programs) {
    return std::system(("which " + programs + " >/dev/null").c_str()) == 0;
}

bool playing(const KVDictionary& snapshot) {
    return shown(snapshot, {"track.name"}) == "Test Tone";
}

// What a call returns, or the machine code it fails with.
std::string outcome(const std::function<std::string()>& call) {
    try {
        return call();
    } catch (const MusicBridgeError& error) {
        return error.machineCode();
    }
}

std::size_t peakResidentKilobytes() {
    const std::string status = contentsOf("/proc/self/status");
    return std::stoul(status.substr(status.find("VmHWM:") + 6));
}

// A real player (or MPD), started with a scratch home and XDG folders, on a generated tagged tone at
// $TONE, 60 seconds long. Quod Libet finds its MPRIS plugin enabled there.
class RealPlayer {
public:
    RealPlayer() : environment(QProcessEnvironment::systemEnvironment()) {
        environment.insert("HOME", QString::fromStdString(directory().string()));
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice()); // players are chatty without a desktop
        EXPECT_EQ(
            run("sox -n -r 44100 -c 2 $TONE synth 60 sine 440 && metaflac --set-tag='TITLE=Test Tone' "
                "--set-tag='ARTIST=Sine Ensemble' --set-tag=ALBUM=Waveforms $TONE && cd && mkdir -p "
                ".config/quodlibet && echo '[plugins]\nactive_plugins = mpris' >.config/quodlibet/config "
                "&& echo made"),
            "made");
    }
    ~RealPlayer() { stop(); }

    const std::filesystem::path& directory() const { return scratch.path(); }
    void start(const QString& command) {
        process.setProcessEnvironment(environment);
        process.start("sh", {"-c", settings + "exec " + command});
        EXPECT_TRUE(process.waitForStarted());
    }
    void stop() {
        process.kill();
        process.waitForFinished();
    }
    // A frozen process (SIGSTOP) keeps its sockets open and answers nothing.
    void freeze(bool frozen) { ::kill(static_cast<pid_t>(process.processId()), frozen ? SIGSTOP : SIGCONT); }
    // Runs a shell command in the player's environment to completion: what it wrote on its standard
    // output, without the last line feed.
    std::string run(const std::string& command) {
        QProcess sh;
        sh.setProcessEnvironment(environment);
        sh.start("sh", {"-c", settings + QString::fromStdString(command)});
        EXPECT_TRUE(sh.waitForFinished(30'000)) << command;
        return sh.readAllStandardOutput().trimmed().toStdString();
    }

protected:
    // Everything a player keeps, under the scratch home; settings in memory, no accessibility bus.
    static inline const QString settings =
        "export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache "
        "GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 TONE=$HOME/tone.flac; ";
    QProcessEnvironment environment;

private:
    ScratchDirectory scratch;
    QProcess process;
};

// A private MPD (packages mpd mpc sox flac) playing the tone from its database, repeating, on a Unix
// socket in its folder; mpc run() here addresses it. With a password, clients without it may only read.
class MpdServer : public RealPlayer {
public:
    explicit MpdServer(bool stickers = true, const std::string& password = "")
        : address{.host = (directory() / "socket").string(), .password = password} {
        environment.insert("MPD_HOST",
                           QString::fromStdString((password.empty() ? "" : password + "@") + address.host));
        // "~" is HOME, the scratch folder.
        std::ofstream(directory() / "mpd.conf")
            << "music_directory \"~\"\ndb_file \"~/database\"\nlog_file \"~/log\"\nbind_to_address "
               "\"~/socket\"\n"
            << "audio_output {\n type \"null\"\n name \"null\"\n sync \"yes\"\n}\n"
            << (stickers ? "sticker_file \"~/sticker.sql\"\n" : "")
            << (password.empty()
                    ? ""
                    : "password \"" + password + "@read,add,control,admin\"\ndefault_permissions \"read\"\n");
        start();
        run("mpc --wait update && mpc -q repeat on && mpc -q add tone.flac && mpc -q play");
    }

    // Starts the server, again after stop(), and waits until it answers.
    void start() {
        RealPlayer::start("mpd --no-daemon $HOME/mpd.conf");
        ASSERT_EQ(run("timeout 10 sh -c 'until mpc -q status 2>/dev/null; do sleep 0.02; done' && echo up"),
                  "up")
            << contentsOf(directory() / "log");
    }

    const MpdAddress address;
};

// A bridge on a real MprisMusicApp, as the application builds it, inside the private bus and display that
// the last test of this file starts. The test thread plays the bridge's queue, on a virtual clock that
// the bridge's sleep advances; artwork is "encoded" by appending " thumbnail".
class MusicSourceInside : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateSessionBus::inside()) {
            GTEST_SKIP() << "runs only inside the private session bus that an outer test starts";
        }
        if (QCoreApplication::instance() == nullptr) {
            // QtDBus wants an application object; it lives as long as the process.
            static int argc = 1;
            static char name[] = "CompanionTests";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);
        }
        bridge = makeBridge(app);
    }

    std::unique_ptr<KVMusicBridge> makeBridge(MprisMusicApp& target) {
        static int references = 0;
        return std::make_unique<KVMusicBridge>(
            KVMusicBridge::Ports{target, target.scriptingFactory(),
                                 [] { return "REF-" + std::to_string(++references); },
                                 [](const std::vector<std::uint8_t>& raw) {
                                     return std::optional(std::string(raw.begin(), raw.end()) + " thumbnail");
                                 }},
            KVMusicBridge::Timing{[this] { return now; }, [this] { return 1.7e12 + now * 1000; },
                                  [this](double seconds) {
                                      now += seconds;
                                  }});
    }

    // A snapshot once one can be read and `until` holds of it, within 20 seconds; empty otherwise.
    KVDictionary readUntil(const std::function<bool(const KVDictionary&)>& until) {
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
            KVDictionary snapshot;
            if (outcome([&] { return until(snapshot = bridge->readSnapshot()) ? "" : "later"; }).empty()) {
                return snapshot;
            }
        }
        return {};
    }

    double now = 0;
    MprisMusicApp app{std::nullopt}; // MPD has a test of its own
    std::unique_ptr<KVMusicBridge> bridge;
};

TEST_F(MusicSourceInside, SharesAReadOnlyPlayerAndOnlyWhatItPublishes) {
    const ScratchDirectory directory;
    std::ofstream(directory.path() / "cover.jpg", std::ios::binary) << "JPEG";
    QVariantMap metadata = song("Song");
    metadata.insert("mpris:artUrl",
                    QString::fromStdString("file://" + (directory.path() / "cover.jpg").string()));
    MprisPlayerDouble player("kavreltest", "Playing", metadata);
    player.set("Position", qint64(12'250'000));
    EXPECT_EQ(
        shown(bridge->readSnapshot(), {"state", "positionMs", "durationMs", "track.name", "track.artist",
                                       "track.album", "track.favorited", "track.favoriteWritable"}),
        "playing|12250|215500|Song|Ann, Bo|Record|null|false");
    EXPECT_EQ(shown(bridge->readArtworkSnapshot(), {"track.artworkBase64"}), "JPEG thumbnail");

    // xesam:userRating: only the top counts as favourite.
    for (const auto& [rating, favorited] : {std::pair{1.0, "true"}, {0.99, "true"}, {0.98, "false"}}) {
        metadata.insert("xesam:userRating", rating);
        player.set("Metadata", metadata);
        EXPECT_EQ(shown(bridge->readSnapshot(), {"track.favorited"}), favorited) << rating;
    }

    // Browsers answer NotSupported for Position: the rest of the snapshot stands.
    player.set("Position", QVariant());
    EXPECT_EQ(shown(bridge->readSnapshot(), {"positionMs", "track.name"}), "0|Song");

    // Each row: the state and metadata published, and the state and track shared. No track when
    // stopped, or playing without an artist (a radio stream, say) or without any metadata.
    const std::tuple<QString, QVariantMap, std::string> rows[] = {
        {"Paused", metadata, "paused|{track}"},
        {"Stopped", metadata, "stopped|null"},
        {"Playing", song("Live", {}), "playing|null"},
        {"Playing", {}, "playing|null"}};
    for (const auto& [status, published, shared] : rows) {
        player.set("PlaybackStatus", status);
        player.set("Metadata", published);
        EXPECT_EQ(shown(bridge->readSnapshot(), {"state", "track"}), shared);
    }

    // A player with a writable MPRIS Rating keeps favourites: its tracks are captured and written by
    // the bridge's rules, on the track captured only while it is the current one. It plays last: chosen.
    MprisPlayerDouble writable("strawberry", "Playing", song("Song"));
    writable.set("Rating", 0.6);
    const std::string ref = shown(bridge->readSnapshot(), {"track.trackRef"});

    // Each row: a rating before, the favourite asked for, the rating after.
    for (const auto& [before, desired, after] :
         {std::tuple{0.6, true, 1.0}, {1.0, false, 0.0}, {0.6, false, 0.6}}) {
        writable.set("Rating", before);
        EXPECT_EQ(bridge->setFavorite(desired, ref, [] { return true; }), desired);
        EXPECT_EQ(writable.property("Rating").toDouble(), after) << "from " << before;
    }
    writable.set("Metadata", song("Other"));
    EXPECT_EQ(outcome([&] { return std::to_string(bridge->setFavorite(true, ref, [] { return true; })); }),
              "track_unavailable");
    EXPECT_EQ(writable.property("Rating").toDouble(), 0.6) << "never on the song that plays now";
}

// As the application runs it: on a queue's worker thread, which has no Qt event loop. Playing wins,
// else the latest change; a player that vanishes, fails or never answers is no longer read.
TEST_F(MusicSourceInside, FollowsPlayersFromAQueueThread) {
    ThreadSerialQueue queue("com.quartzfield.kavrel.music");
    auto target = std::make_unique<MprisMusicApp>(std::nullopt);
    auto queued = makeBridge(*target);
    const auto playing = [&] {
        std::promise<std::string> name;
        queue.async(
            [&] { name.set_value(outcome([&] { return shown(queued->readSnapshot(), {"track.name"}); })); });
        return name.get_future().get();
    };
    EXPECT_EQ(playing(), "music_not_running");
    MprisPlayerDouble first("first", "Playing", song("First"));
    EXPECT_EQ(playing(), "First");

    // While no one reads (sharing off), the bus goes on announcing: nothing may pile up meanwhile.
    std::ofstream("/proc/self/clear_refs") << "5"; // starts the peak over from here
    [[maybe_unused]] const std::size_t before = peakResidentKilobytes();
    // 20,000 announcements of about 4 KB each: 80 MB were they kept.
    first.flood(20'000, song(QString(2048, QChar('x'))));
    EXPECT_EQ(playing(), "First") << "everything announced has been taken in";
    // Not under AddressSanitizer, whose quarantine keeps freed memory: the resident size tells nothing there.
#if !(defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer)))
    EXPECT_LT(peakResidentKilobytes() - before, 16'000u);
#endif

    first.answer(MprisPlayerDouble::Answer::withAnError);
    EXPECT_EQ(playing(), "music_unavailable");
    // The bridge's own limit (120 ticks) bounds the read of a player that never answers.
    first.answer(MprisPlayerDouble::Answer::never);
    EXPECT_EQ(playing(), "music_timeout");
    first.answer(MprisPlayerDouble::Answer::normally);
    MprisPlayerDouble second("second", "Paused", song("Second"));
    EXPECT_EQ(playing(), "First");
    second.set("PlaybackStatus", "Playing");
    EXPECT_EQ(playing(), "Second");
    second.vanish();
    EXPECT_EQ(playing(), "First");
    first.vanish();
    EXPECT_EQ(playing(), "music_not_running");
    // Taken down from another thread than the one that used it, as at the application's end.
    queued.reset();
    target.reset();
}

// MPD through its own protocol, without any MPRIS bridge: stickers written and cleared by the bridge,
// with the password that grants them; a server without sticker_file shares its songs read-only, saying
// why. Then the client's refusals and failures that the bridge does not meet.
TEST_F(MusicSourceInside, MpdKeepsFavouritesInStickers) {
    if (!installed("mpd mpc sox metaflac")) {
        GTEST_SKIP() << "packages mpd mpc sox flac are needed";
    }
    MpdServer readOnly(false);
    MprisMusicApp withoutStickers(readOnly.address);
    bridge = makeBridge(withoutStickers);
    EXPECT_EQ(shown(readUntil(playing), {"track.favoriteWritable"}), "false");
    EXPECT_EQ(shown(bridge->favoriteDiagnostics(), {"identifierReadError"}), "-10003") << "writes denied";
    MpdClient refusing(readOnly.address);
    EXPECT_EQ(refusing.setSticker("tone.flac", "rating", "10").error, MpdError::stickersDisabled);
    EXPECT_EQ(MpdFavorites(refusing).write("tone.flac", true), status::errAEWriteDenied);
    EXPECT_TRUE(refusing.ping().ok()) << "the refusal leaves the connection usable";

    MpdServer server(true, "s3cret");
    MprisMusicApp target(server.address);
    bridge = makeBridge(target);
    const std::string ref = shown(readUntil(playing), {"track.trackRef"});
    EXPECT_TRUE(bridge->setFavorite(true, ref, [] { return true; }));
    EXPECT_EQ(server.run("mpc sticker tone.flac get rating"), "rating=10");
    server.run("mpc sticker tone.flac set like 2");
    EXPECT_FALSE(bridge->setFavorite(false, ref, [] { return true; }));
    EXPECT_EQ(server.run("mpc sticker tone.flac list"), "") << "rating 10 and like 2 both deleted";
    // The whole companion over it: the connector's own favourite write lands in the sticker.
    pairShareAndWriteTheFavourite(target);
    EXPECT_EQ(server.run("mpc sticker tone.flac get rating"), "rating=10");

    MpdClient client(server.address, std::chrono::seconds(1));
    std::vector<bool> known;
    for (const char* uri : {"tone.flac", "", "http://radio.example/stream.mp3", "/tmp/tone.flac"}) {
        known.push_back(client.isInDatabase(uri).value);
    }
    EXPECT_EQ(known, std::vector({true, false, false, false}));
    EXPECT_TRUE(client.deleteSticker("tone.flac", "rating").ok()) << "deleting an unset sticker";
    EXPECT_EQ(client.setSticker("gone.flac", "rating", "10").error, MpdError::notInDatabase);
    EXPECT_EQ(client.setSticker("tone.flac", "rating\nstatus", "10").error, MpdError::refused);
    const auto refused = MpdClient({.host = server.address.host, .password = "wr0ng"}).ping();
    EXPECT_EQ(refused.error, MpdError::refused);
    EXPECT_EQ(refused.message.find("wr0ng"), std::string::npos) << refused.message;

    // A gone or frozen server.
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

// Real players under the display, each sharing the tone it plays. mpv with its MPRIS plugin keeps it
// read-only; Rhythmbox and Quod Libet keep favourites in stores of their own: the favourite set and
// cleared through the bridge, and seen in the player's store.
TEST_F(MusicSourceInside, RealPlayersShareWhatTheyPlayAndKeepFavourites) {
    if (!installed("mpv rhythmbox rhythmbox-client quodlibet sox metaflac") ||
        !std::filesystem::exists("/etc/mpv/scripts/mpris.so")) {
        GTEST_SKIP() << "packages mpv mpv-mpris rhythmbox rhythmbox-plugins quodlibet sox flac are needed";
    }
    // Each row: the player and how to start it; how to play the tone (asked once more when a player still
    // starting up drops it); how to read the tone's rating in its store, and the top and unrated values.
    const std::array<std::string, 6> rows[] = {
        {"mpv",
         "mpv --no-config --really-quiet --ao=null --no-video --script=/etc/mpv/scripts/mpris.so $TONE", "",
         "", "", ""},
        {"rhythmbox", "rhythmbox", "rhythmbox-client --no-start --play-uri=\"file://$TONE\"",
         "gdbus call --session -d org.gnome.Rhythmbox3 -o /org/gnome/Rhythmbox3/RhythmDB -m "
         "org.gnome.Rhythmbox3.RhythmDB.GetEntryProperties \"file://$TONE\" | grep -o \"'rating': "
         "<[0-9.]*>\"",
         "'rating': <5.0>", "'rating': <0.0>"},
        // Added to the library first, or its MPRIS rating stays stale.
        {"quodlibet", "quodlibet", "quodlibet --add-location=\"$TONE\"; quodlibet --play-file=\"$TONE\"",
         "gdbus call --session -d net.sacredchao.QuodLibet -o /net/sacredchao/QuodLibet -m "
         "net.sacredchao.QuodLibet.CurrentSong | grep -o \"'~#rating': '[0-9.]*'\"",
         "'~#rating': '1.00'", "'~#rating': '0.50'"},
    };
    for (const auto& [player, command, play, stored, top, unrated] : rows) {
        SCOPED_TRACE(player);
        RealPlayer process;
        process.start(QString::fromStdString(command));
        ASSERT_EQ(process.run("gdbus wait --session --timeout 30 org.mpris.MediaPlayer2." + player +
                              " && echo owned"),
                  "owned")
            << "is rhythmbox-plugins there?";
        bridge = makeBridge(app);
        KVDictionary snapshot;
        for (int attempt = 0; attempt < 2 && snapshot.empty(); ++attempt) {
            process.run(play);
            // A track that can be written is shared once the bridge captured it.
            snapshot = readUntil([&, readOnly = stored.empty()](const KVDictionary& shared) {
                return playing(shared) && (readOnly || shown(shared, {"track.trackRef"}) != "");
            });
        }
        const std::string started = shown(snapshot, {"positionMs"});
        EXPECT_FALSE(readUntil([&](const KVDictionary& later) {
                         return shown(later, {"positionMs"}) != started;
                     }).empty())
            << "the position does not move";
        EXPECT_EQ(shown(snapshot, {"durationMs", "track.favoriteWritable"}),
                  stored.empty() ? "60000|false" : "60000|true");
        if (stored.empty()) {
            continue; // mpv: read-only
        }
        const std::string ref = shown(snapshot, {"track.trackRef"});
        EXPECT_TRUE(bridge->setFavorite(true, ref, [] { return true; }));
        EXPECT_EQ(process.run(stored), top);
        EXPECT_EQ(shown(bridge->readSnapshot(), {"track.favorited"}), "true");
        EXPECT_FALSE(bridge->setFavorite(false, ref, [] { return true; }));
        EXPECT_EQ(process.run(stored), unrated);
        // Rhythmbox answers FileNotFound for a URI not in its library; Quod Libet does not play it.
        const auto channel = MprisFavorites::of(
            QDBusConnection::sessionBus(), QString::fromStdString("org.mpris.MediaPlayer2." + player), 5000);
        EXPECT_EQ(channel->channel->locate("file:///nowhere.flac"), status::errAENoSuchObject);
    }
}

TEST(MpdAddress, IsReadFromTheVariablesAsMpcReadsThem) {
    // Each row: MPD_HOST and MPD_PORT, and the password and address read, joined by an "@"; none when
    // the variables are refused.
    const std::tuple<const char*, const char*, std::string> rows[] = {
        {"", "", "@localhost:6600"},
        {"/run/mpd/socket", nullptr, "@/run/mpd/socket"},
        {"@mpd", nullptr, "@@mpd"},
        {"s3cret@music.lan", "65535", "s3cret@music.lan:65535"},
        {"s3cret@@mpd", nullptr, "s3cret@@mpd"},
        {"s3cret@", nullptr, ""},
        {nullptr, "0", ""},
        {nullptr, "65536", ""},
        {nullptr, "66OO", ""},
    };
    for (const auto& [host, port, expected] : rows) {
        const auto reading = MpdAddress::parse(host, port);
        const std::string described = reading.address ? reading.address->describe() : "";
        EXPECT_EQ(reading.address ? reading.address->password + "@" + described : "", expected)
            << (host ? host : "-") << " " << (port ? port : "-");
        EXPECT_NE(reading.problem.empty(), expected.empty());
        EXPECT_EQ((described + reading.problem).find("s3cret"), std::string::npos);
    }
}

TEST(MusicSource, AgainstPlayersInAPrivateSessionBusAndDisplay) {
    // Always a bus of our own: on a desktop's bus the user's players would take part in the choice.
    if (PrivateSessionBus::inside() || !PrivateSessionBus::available() || !installed("Xvfb")) {
        GTEST_SKIP() << "inside already, or dbus-run-session or Xvfb is missing (packages dbus xvfb)";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("MusicSourceInside.*", "", true), 0)
        << "the tests inside the private session bus failed (output above)";
}

} // namespace
} // namespace kavrel
