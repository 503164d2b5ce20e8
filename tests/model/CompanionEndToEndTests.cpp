// The companion without a window, end to end: the real supervisor and the stand-in connector
// through real pipes, the music controller over the bridge and the simulated music app.

#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "bridge/BridgeHarness.hpp"
#include "model/ModelHarness.hpp"

#include <fstream>

namespace kavrel {
namespace {

class CompanionEndToEndTest : public ::testing::Test {
protected:
    CompanionEndToEndTest() {
        // The connector asks for the favourite of the first track shared in a run.
        std::ofstream(directory / "connector-sim.json") << R"({"favouriteReadOnSnapshot":true})";
        auto track = simulatedTrack(7);
        track.favorited = true;
        app.addTrack(track);
        app.play(7);
        preferences.values = {{"appleMusicEnabled", true}, {"roonHost", "core:9330"}};
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
    PosixProcessLauncher launcher{loop};
    InMemorySecretStore secrets;
    std::filesystem::path directory = [] {
        char pattern[] = "/tmp/kavrel-end-to-end-XXXXXX";
        return std::filesystem::path(::mkdtemp(pattern));
    }();
    SimulatedMusicApp app;
    ManualQueue musicQueue{std::string(NativeMusicController::queueLabel)};
    ManualQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    MemoryPreferences preferences;
    RecordingClipboard clipboard;
    RecordingLogger logger;
    std::shared_ptr<HelperSupervisor> supervisor = HelperSupervisor::create(
        {loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH, directory, [] { return std::string(64, 'b'); });
    std::shared_ptr<NativeMusicController> music =
        NativeMusicController::create(std::make_shared<ScriptingMusicAccess>(bridge(), bridge()),
                                      std::chrono::system_clock::now, musicQueue, artworkQueue);
    std::shared_ptr<CompanionModel> model;
};

TEST_F(CompanionEndToEndTest, PairsConnectsSharesAndAnswersTheConnectorsFavouriteRead) {
    model->launch();
    // Not paired yet: the connector refuses to start.
    runUntil([&] { return !model->notice().value().empty(); });
    EXPECT_EQ(model->notice().value(), expected::startFailed);
    EXPECT_EQ(preferences.values.at("bridgeOrigin"), JSONValue(CompanionModel::defaultOrigin));

    model->pairingCode().set(" KAV-2048 ");
    model->pair(false);
    // The connector took a snapshot, asked for the favourite of its track and got the answer.
    runUntil([&] { return musicStatus() && musicStatus()->count("favorited") && !model->busy().value(); });
    EXPECT_EQ(model->notice().value(), expected::paired);
    EXPECT_EQ(musicStatus()->at("favorited"), JSONValue(true));
    EXPECT_EQ(model->musicState().value(), "Music: playing");
}

} // namespace
} // namespace kavrel
