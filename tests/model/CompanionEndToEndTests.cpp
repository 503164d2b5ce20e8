// The companion without a window, end to end: the real supervisor and the stand-in connector
// through real pipes, the music controller over the bridge and the simulated music app.

#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "MusicBridge/simulated/SimulatedMusicApp.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "model/ModelHarness.hpp"

#include <algorithm>
#include <fstream>
#include <mutex>

namespace kavrel {
namespace {

// The real launcher, keeping every line written to the connector.
class TeeLauncher final : public ProcessLauncher {
public:
    explicit TeeLauncher(MainLoop& loop) : launcher(loop) {}

    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override {
        return std::make_unique<Child>(launcher.spawn(executable, arguments, environment, std::move(onExit)),
                                       written);
    }

    // Envelopes written so far, in order; the writer thread adds to it.
    std::vector<Envelope> envelopes() const {
        std::lock_guard lock(written->mutex);
        std::vector<Envelope> decoded;
        std::size_t start = 0;
        for (auto end = written->bytes.find('\n'); end != std::string::npos;
             end = written->bytes.find('\n', start)) {
            decoded.push_back(Envelope::decode(std::string_view(written->bytes).substr(start, end - start)));
            start = end + 1;
        }
        return decoded;
    }

private:
    struct Written {
        std::mutex mutex;
        std::string bytes;
    };

    class Input final : public ChildInput {
    public:
        Input(std::shared_ptr<ChildInput> input, std::shared_ptr<Written> written)
            : input(std::move(input)), written(std::move(written)) {}
        Outcome write(std::string_view bytes) override {
            {
                std::lock_guard lock(written->mutex);
                written->bytes += bytes;
            }
            return input->write(bytes);
        }
        void close() override { input->close(); }

    private:
        std::shared_ptr<ChildInput> input;
        std::shared_ptr<Written> written;
    };

    class Child final : public ChildProcess {
    public:
        Child(std::unique_ptr<ChildProcess> child, const std::shared_ptr<Written>& written)
            : child(std::move(child)), tee(std::make_shared<Input>(this->child->input(), written)) {}
        int processIdentifier() const override { return child->processIdentifier(); }
        bool isRunning() const override { return child->isRunning(); }
        void signal(int signalNumber) override { child->signal(signalNumber); }
        int outputDescriptor() const override { return child->outputDescriptor(); }
        int diagnosticsDescriptor() const override { return child->diagnosticsDescriptor(); }
        std::shared_ptr<ChildInput> input() const override { return tee; }
        bool waitForExit(std::optional<std::chrono::milliseconds> timeout) override {
            return child->waitForExit(timeout);
        }

    private:
        std::unique_ptr<ChildProcess> child;
        std::shared_ptr<ChildInput> tee;
    };

    PosixProcessLauncher launcher;
    std::shared_ptr<Written> written = std::make_shared<Written>();
};

class CompanionEndToEndTest : public ::testing::Test {
protected:
    CompanionEndToEndTest() {
        char pattern[] = "/tmp/kavrel-end-to-end-XXXXXX";
        directory = ::mkdtemp(pattern);
        // The connector asks for the favourite of the first track shared in a run.
        std::ofstream(directory / "connector-sim.json") << R"({"favouriteReadOnSnapshot":true})";

        SimulatedMusicApp::Track track;
        track.itemID = 7;
        track.databaseID = 70;
        track.persistentID = "0123456789ABCDEF";
        track.name = "Song";
        track.artist = "Artist";
        track.favorited = true;
        app.addTrack(track);
        app.play(7);

        preferences.values = {{"appleMusicEnabled", true}, {"roonHost", "core:9330"}};
        supervisor = HelperSupervisor::create({loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH, directory,
                                              [] { return std::string(64, 'b'); });
        music = NativeMusicController::create(std::make_shared<ScriptingMusicAccess>(bridge(), bridge()),
                                              std::chrono::system_clock::now, musicQueue, artworkQueue);
        model = CompanionModel::create({.loop = loop,
                                        .helper = supervisor,
                                        .music = music,
                                        .preferences = preferences,
                                        .clipboard = clipboard,
                                        .logger = logger,
                                        .build = {}});
    }

    ~CompanionEndToEndTest() override {
        model->shutdown();
        loop.runUntilIdle();
        std::filesystem::remove_all(directory);
    }

    std::unique_ptr<KVMusicBridge> bridge() {
        return std::make_unique<KVMusicBridge>(
            KVMusicBridge::Ports{app, app.scriptingFactory(), makeUUIDString});
    }

    // Runs the loop and the music queues (on this thread) until the condition holds.
    void runUntil(const std::function<bool()>& condition) {
        ASSERT_TRUE(loop.runUntil([&] {
            while (musicQueue.drain() + artworkQueue.drain() > 0) {
            }
            return condition();
        })) << "connector: "
            << supervisor->message().value() << ", notice: " << model->notice().value();
    }

    const JSONObject* musicStatus() const { return statusMember(supervisor->status().value(), "music"); }

    ManualLoop loop;
    TeeLauncher launcher{loop};
    InMemorySecretStore secrets;
    std::filesystem::path directory;
    SimulatedMusicApp app;
    ManualQueue musicQueue{std::string(NativeMusicController::queueLabel)};
    ManualQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    MemoryPreferences preferences;
    RecordingClipboard clipboard;
    RecordingLogger logger;
    std::shared_ptr<HelperSupervisor> supervisor;
    std::shared_ptr<NativeMusicController> music;
    std::shared_ptr<CompanionModel> model;
};

TEST_F(CompanionEndToEndTest, PairsConnectsSharesAndAnswersTheConnectorsFavouriteRead) {
    model->launch();
    // Not paired yet: the connector refuses to start.
    runUntil([&] { return !model->notice().value().empty(); });
    EXPECT_EQ(model->notice().value(),
              "Pair this companion with Kavrel to connect. Your existing pairing is kept "
              "until replacement succeeds.");
    EXPECT_EQ(preferences.values.at("bridgeOrigin"), JSONValue(CompanionModel::defaultOrigin));

    model->pairingCode().set(" KAV-2048 ");
    model->pair(false);
    runUntil([&] { return musicStatus() && musicStatus()->count("favorited") && !model->busy().value(); });
    EXPECT_EQ(model->notice().value(), "Paired. Enable your sources in Kavrel Settings.");
    EXPECT_EQ(musicStatus()->at("favorited"), JSONValue(true));
    EXPECT_EQ(model->musicState().value(), "Music: playing");

    // The connector saw the snapshot, then the favourite's new snapshot before its result.
    const auto written = launcher.envelopes();
    const auto result = std::find_if(written.begin(), written.end(), [](const Envelope& envelope) {
        return envelope.type == "nativeResult";
    });
    ASSERT_NE(result, written.end());
    EXPECT_EQ(result->payload.at("ok"), JSONValue(true));
    EXPECT_EQ(std::prev(result)->type, "nativeSnapshot");
    EXPECT_EQ(std::prev(result)->payload.at("track").object()->at("favorited"), JSONValue(true));
    EXPECT_EQ(std::prev(result)->payload.at("nativeGeneration"), result->payload.at("nativeGeneration"));
}

} // namespace
} // namespace kavrel
