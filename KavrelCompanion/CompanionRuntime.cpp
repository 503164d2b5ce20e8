#include "KavrelCompanion/CompanionRuntime.hpp"

#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "Platform/SystemInfo.hpp"

#include <chrono>

namespace kavrel {

namespace {

std::unique_ptr<KVMusicBridge> bridgeOver(MprisMusicApp& target, const ImageThumbnailer& thumbnailer) {
    return std::make_unique<KVMusicBridge>(
        KVMusicBridge::Ports{target, target.scriptingFactory(), makeUUIDString,
                             ScriptingMusicAccess::artworkEncoder(thumbnailer)});
}

// A malformed MPD_HOST or MPD_PORT leaves MPD out; the log says why, or the user would only see
// MPD missing from the players.
std::optional<MpdAddress> mpdAddressFromEnvironment(Logger& logger) {
    auto reading = MpdAddress::fromEnvironment();
    if (!reading.address) {
        logger.warning("music", "MPD is left out: " + reading.problem);
    }
    return reading.address;
}

} // namespace

CompanionRuntime::CompanionRuntime(const std::filesystem::path& connector,
                                   const std::filesystem::path& directory, Logger& logger)
    : settings(JsonPreferences::defaultFile(), logger), mpdAddress(mpdAddressFromEnvironment(logger)) {
    supervisor = HelperSupervisor::create({loop, launcher, secrets}, connector, directory);
    auto access = std::make_shared<ScriptingMusicAccess>(bridgeOver(pollTarget, thumbnailer),
                                                         bridgeOver(artworkTarget, thumbnailer));
    music = NativeMusicController::create(
        std::move(access), [] { return std::chrono::system_clock::now(); }, musicQueue, artworkQueue);
    companion = CompanionModel::create({.loop = loop,
                                        .helper = supervisor,
                                        .music = music,
                                        .preferences = settings,
                                        .clipboard = clipboard,
                                        .logger = logger,
                                        .build = SystemInfo::buildInfo()});
}

CompanionRuntime::~CompanionRuntime() {
    // A key read held by an unlock prompt would keep the keyring queue, and so the quitting
    // companion, waiting on the user.
    secrets.cancel();
    // Runs still queued end before the queues stop.
    music->stop();
}

} // namespace kavrel
