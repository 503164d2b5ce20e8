#pragma once

#include "CompanionCore/model/CompanionModel.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"
#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "Platform/JsonPreferences.hpp"
#include "Platform/MprisMusicApp.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "Platform/QtClipboard.hpp"
#include "Platform/QtImageThumbnailer.hpp"
#include "Platform/QtMainLoop.hpp"
#include "Platform/SecretServiceStore.hpp"

#include <filesystem>
#include <memory>
#include <optional>

namespace kavrel {

// Everything of the companion that is not interface: the connector's supervisor, music sharing over
// the desktop's media player and the model, on the real Linux services. Members are declared so that
// each outlives whatever uses it: the queues outlive the controller, the music targets the queues.
class CompanionRuntime {
public:
    // `connector` is the connector executable, `directory` the private state directory; `logger` must
    // outlive the runtime.
    CompanionRuntime(const std::filesystem::path& connector, const std::filesystem::path& directory,
                     Logger& logger);
    ~CompanionRuntime();

    CompanionModel& model() { return *companion; }
    Preferences& preferences() { return settings; }
    MainLoop& mainLoop() { return loop; }

private:
    QtMainLoop loop;
    PosixProcessLauncher launcher{loop};
    SecretServiceStore secrets;
    JsonPreferences settings;
    QtClipboard clipboard;
    QtImageThumbnailer thumbnailer;
    std::optional<MpdAddress> mpdAddress;
    MprisMusicApp pollTarget{mpdAddress};
    MprisMusicApp artworkTarget{mpdAddress};
    ThreadSerialQueue musicQueue{std::string(NativeMusicController::queueLabel)};
    ThreadSerialQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    std::shared_ptr<HelperSupervisor> supervisor;
    std::shared_ptr<NativeMusicController> music;
    std::shared_ptr<CompanionModel> companion;
};

} // namespace kavrel
