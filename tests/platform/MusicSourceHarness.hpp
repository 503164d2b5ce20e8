#pragma once

#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "Platform/MprisMusicApp.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kavrel {

// A bridge on a real MprisMusicApp, as the application builds it, inside the private bus (and
// display) that an outer test started. The test thread plays the bridge's queue. Time is virtual
// unless a test asks for the real clock: the bridge's sleep advances it.
class MusicSourceTest : public ::testing::Test {
public:
    static const KVDictionary& trackOf(const KVDictionary& snapshot);
    // A value of any kind as text: "true", "null", "12", "<none>".
    static std::string shown(const KVDictionary& object, std::string_view key);

protected:
    static void SetUpTestSuite();
    void SetUp() override;

    std::unique_ptr<KVMusicBridge>
    makeBridge(MprisMusicApp& target, KVMusicBridge::ArtworkEncoder artwork = {}, bool realTime = false);

    std::string diagnostic(std::string_view key) const { return shown(bridge->favoriteDiagnostics(), key); }

    // The machine code a call fails with, or "" when it succeeds.
    static std::string failureOf(const std::function<void()>& call);
    // A snapshot once one can be read and `until` holds of it, within the bound; empty otherwise.
    KVDictionary readUntil(const std::function<bool(const KVDictionary&)>& until,
                           std::chrono::seconds bound = std::chrono::seconds(20));

    double now = 0;
    MprisMusicApp app;
    std::unique_ptr<KVMusicBridge> bridge;
};

// A real player, started with a scratch home and XDG folders, on a generated tagged tone.
class RealPlayer {
public:
    RealPlayer();
    ~RealPlayer();
    RealPlayer(const RealPlayer&) = delete;
    RealPlayer& operator=(const RealPlayer&) = delete;

    // Whether all these programs are installed; the test skips otherwise.
    static bool installed(const std::vector<std::string>& programs);

    const std::filesystem::path& directory() const { return scratch.path(); }
    std::string tone() const { return (scratch.path() / "tone.flac").string(); }
    void start(const QString& program, const QStringList& arguments);
    // Waits for the bus name to have an owner.
    bool registered(const std::string& busName);
    // Runs a shell command in the player's environment to completion: what it wrote on its standard
    // output, without the last line feed.
    std::string run(const std::string& command);

private:
    ScratchDirectory scratch;
    QProcessEnvironment environment;
    QProcess process;
};

} // namespace kavrel
