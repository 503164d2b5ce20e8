#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/model/BuildInfo.hpp"
#include "CompanionCore/model/RoonDiscoveryState.hpp"
#include "CompanionCore/runtime/MainLoop.hpp"
#include "CompanionCore/runtime/Published.hpp"
#include "CompanionCore/supervisor/HelperSupervisor.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

class Clipboard;
class Logger;
class NativeMusicController;
class Preferences;

// The one observable object behind the interface: the settings the user edits, the texts the
// interface shows, and the operations on the connector and on music sharing.
//
// Every exchange with the connector is a control transaction with a fresh generation; a reply whose
// transaction is no longer current changes nothing at all. Lives on the main loop; results of the
// music controller, which arrive on its queues, are continued there.
//
// Create it with create(); the closures it hands out hold it weakly.
class CompanionModel : public std::enable_shared_from_this<CompanionModel> {
public:
    // Sends one Roon discovery request; the completion gets the reply or none.
    using DiscoveryRequest = std::function<void(HelperSupervisor::Completion)>;

    struct Ports {
        MainLoop& loop;
        std::shared_ptr<HelperSupervisor> helper;
        std::shared_ptr<NativeMusicController> music;
        Preferences& preferences;
        Clipboard& clipboard;
        Logger& logger;
        BuildInfo build;
        // Without one, "discoverRoon" is sent through the supervisor.
        DiscoveryRequest discoveryRequest = {};
    };

    static constexpr std::string_view defaultOrigin = "https://kavrel.app";
    static constexpr std::size_t maxRoonHostBytes = 512;
    static constexpr std::size_t maxPairingCodeBytes = 128;
    static constexpr std::string_view discoveryLogCategory = "discovery";

    // Reads the four preferences and installs the supervisor's callbacks; sends nothing.
    static std::shared_ptr<CompanionModel> create(Ports ports);
    CompanionModel(const CompanionModel&) = delete;
    CompanionModel& operator=(const CompanionModel&) = delete;

    // Editable by the interface.
    Published<std::string>& bridgeOrigin() { return origin; }
    Published<std::string>& roonHost() { return host; }
    Published<std::string>& pairingCode() { return code; }
    Published<std::string>& notice() { return noticeText; }
    // Changed only by the operations.
    const Published<bool>& appleMusicEnabled() const { return musicEnabled; }
    const Published<bool>& roonEnabled() const { return roonSwitch; }
    const Published<std::string>& musicState() const { return musicLine; }
    const Published<bool>& busy() const { return busyFlag; }
    const Published<RoonDiscoveryState>& roonDiscovery() const { return discovery; }

    HelperSupervisor& helper() const { return *supervisor; }

    void launch();
    // Stops music sharing, drops everything in flight and stops the connector for good.
    void shutdown();

    // Sends the settings to the connector, then starts it.
    void connect();
    // Sends the typed pairing code; `replace` confirms replacing an existing pairing.
    void pair(bool replace);
    // Pauses the connector.
    void stop();
    void resetRoon();
    void setRoonEnabled(bool enabled);
    void findRoonServer();
    void setAppleMusicEnabled(bool enabled);
    // Asks for permission to control the music player.
    void allowMusic();
    // Puts the music diagnostics report, with a header naming this build and system, on the clipboard.
    void copyMusicDiagnostics();

private:
    struct Token {};

public:
    CompanionModel(Token, Ports ports);

private:
    using Transaction = std::string;

    void onReady();
    void onUnavailable();
    void onNativeCommand(const Envelope& command);

    // Begins a control transaction: nothing flows to the connector until it starts again. Returns
    // whether the connector was publishing before.
    bool resetPublishing();
    bool isCurrent(const Transaction& transaction) const { return transaction == controlGeneration; }

    using TransactionReply = std::function<void(CompanionModel&, const std::optional<Envelope>&)>;
    // Sends a command of the transaction; its reply is handled only while the model exists and the
    // transaction is still current.
    void sendInTransaction(std::string_view type, JSONObject payload, const Transaction& transaction,
                           TransactionReply onReply);
    // The end of a connect or pair: on success `accepted` runs and the connector is started,
    // otherwise the failure is shown and a connector that was publishing is resumed.
    void finishExchange(const std::optional<Envelope>& reply, bool wasPublishing,
                        const std::function<void()>& accepted);
    void startConnector(const Transaction& transaction);
    // A failed exchange brings a connector that was publishing back to a started state.
    void resumeIfPublishing(const Transaction& transaction, bool wasPublishing);
    void resumeMusic(const Transaction& transaction);
    void startMusic();
    void receiveSnapshot(JSONObject snapshot);
    void finishDiscovery(const std::optional<Envelope>& reply);

    MainLoop& loop;
    const std::shared_ptr<HelperSupervisor> supervisor;
    const std::shared_ptr<NativeMusicController> music;
    Preferences& preferences;
    Clipboard& clipboard;
    Logger& logger;
    const BuildInfo build;
    DiscoveryRequest discoveryRequest;

    Published<std::string> origin;
    Published<std::string> host;
    Published<std::string> code;
    Published<std::string> noticeText;
    Published<bool> musicEnabled;
    Published<bool> roonSwitch;
    Published<std::string> musicLine;
    Published<bool> busyFlag;
    Published<RoonDiscoveryState> discovery;

    bool publishing = false;
    std::optional<std::string> nativeGeneration;
    Transaction controlGeneration;
    std::string discoveryGeneration;
    bool localHelperAvailable = false;
    bool attemptedAutomaticDiscovery = false;
    std::optional<std::string> musicAuthorizationRequest;
};

} // namespace kavrel
