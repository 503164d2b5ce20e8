#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/JSONLDecoder.hpp"
#include "CompanionCore/ipc/JSONValue.hpp"
#include "CompanionCore/runtime/Cancellable.hpp"
#include "CompanionCore/runtime/MainLoop.hpp"
#include "CompanionCore/runtime/ProcessLauncher.hpp"
#include "CompanionCore/runtime/Published.hpp"
#include "CompanionCore/runtime/SerialQueue.hpp"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

class SecretStore;

// Owns the connector child: launches it, performs the "initialize" handshake, dispatches what it
// writes, sends commands with deadlines, and restarts it with back-off when it stops. Lives on the
// main loop: every member is called there, and every callback and completion is delivered there.
// Create it with create(); closures it hands out hold it weakly and do nothing once it is gone.
class HelperSupervisor : public std::enable_shared_from_this<HelperSupervisor> {
public:
    // Yields the storage key text sent in "initialize"; throws on failure (StorageError when the
    // keychain or the private storage is at fault). Runs on the keyring queue, never on the main
    // loop: the keyring may block it for as long as its unlock prompt stays open.
    using KeyProvider = std::function<std::string()>;
    // The command's "result", or none when it was refused or lost with the child.
    using Completion = std::function<void(std::optional<Envelope>)>;

    struct Ports {
        MainLoop& loop;
        ProcessLauncher& launcher;
        // Used by the default key provider; must outlive the supervisor.
        SecretStore& secrets;
        // Performs every write to the child; a worker thread labelled writerLabel when none is given.
        std::unique_ptr<SerialQueue> writer = nullptr;
        // Runs the key provider; a worker thread labelled keyringLabel when none is given.
        std::unique_ptr<SerialQueue> keyring = nullptr;
    };

    static constexpr std::string_view writerLabel = "com.quartzfield.kavrel.ipc-write";
    static constexpr std::string_view keyringLabel = "com.quartzfield.kavrel.keyring";
    static constexpr std::size_t maxPendingCommands = 16;
    static constexpr std::chrono::seconds commandDeadline{20};
    static constexpr std::chrono::seconds maintenanceInterval{1};
    static constexpr std::chrono::seconds statusInterval{5};
    static constexpr std::chrono::seconds killGrace{2};
    // How long shutdown() waits for the exit after SIGKILL. A child in uninterruptible sleep can
    // outlast it; the application then ends anyway and the child is reaped without us.
    static constexpr std::chrono::seconds exitWaitAfterKill{3};
    static constexpr std::chrono::seconds stableRun{60};
    static constexpr std::chrono::seconds maxRestartDelay{30};
    static constexpr int maxQuickRestarts = 6;
    static constexpr std::size_t chunkBytes = 8192;

    // Stores the values and sets the initial state; starts nothing. Without a key provider the
    // default one is used: the key may be created only while the connector has no state yet.
    static std::shared_ptr<HelperSupervisor> create(Ports ports, std::filesystem::path executable,
                                                    std::filesystem::path directory,
                                                    KeyProvider storageKey = {});
    ~HelperSupervisor();
    HelperSupervisor(const HelperSupervisor&) = delete;
    HelperSupervisor& operator=(const HelperSupervisor&) = delete;

    // The one sentence the user sees for a connector failure code. Exact, case-sensitive match.
    static std::string describe(std::string_view code);

    // One read of at most chunkBytes, retried on EINTR: none on another error, empty at end of file.
    static std::optional<std::string> readChunk(int descriptor);

    const Published<std::string>& message() const { return messageLine; }
    const Published<bool>& ready() const { return readyFlag; }
    const Published<JSONObject>& status() const { return statusObject; }

    void setOnReady(std::function<void()> callback) { onReady = std::move(callback); }
    void setOnUnavailable(std::function<void()> callback) { onUnavailable = std::move(callback); }
    void setOnNativeCommand(std::function<void(const Envelope&)> callback) {
        onNativeCommand = std::move(callback);
    }

    // Starts a child unless one runs, its key is being fetched, or shutdown() was called. The key is
    // fetched on the keyring queue; the launch goes on on the main loop once it arrives.
    void launch();
    // Sends one command. The completion runs exactly once: before send returns when there is no
    // running child or maxPendingCommands are in flight, otherwise when the result arrives or the
    // child's exit is reported.
    void send(std::string_view type, JSONObject payload, Completion completion = {});
    // Answers a connector request; only "nativeResult" envelopes are written.
    void reply(const Envelope& envelope);
    // Asks the connector for its status while ready.
    void refreshStatus();
    // Restarts the connector on the user's request, clearing the back-off and the suppression.
    void reconnect();
    // Stops the child for good and abandons a key still being fetched: blocks for at most killGrace
    // plus exitWaitAfterKill.
    void shutdown();

private:
    struct PendingCommand {
        MainLoop::TimePoint deadline;
        Completion completion;
    };
    struct FetchedKey;

    HelperSupervisor(Ports ports, std::filesystem::path executable, std::filesystem::path directory,
                     KeyProvider storageKey);

    void keyArrived(FetchedKey& fetched);
    void sendInitialize(std::string& key);
    void submit(const Envelope& envelope, Completion completion, bool secret);
    void completeInitialize(const std::optional<Envelope>& reply);
    void readOutput(int descriptor, const std::string& childGeneration);
    void drainDiagnostics(int descriptor);
    void receive(const std::string& chunk, const std::string& childGeneration);
    void dispatch(const Envelope& envelope);
    void write(const Envelope& envelope, bool secret);
    void writeFailed(const std::string& childGeneration);
    void expireCommands();
    bool isStopping() const;
    void stopChild();
    void exited(const std::string& childGeneration);

    MainLoop& loop;
    ProcessLauncher& launcher;

    Published<std::string> messageLine;
    Published<bool> readyFlag;
    Published<JSONObject> statusObject;
    std::function<void()> onReady;
    std::function<void()> onUnavailable;
    std::function<void(const Envelope&)> onNativeCommand;
    std::shared_ptr<ChildProcess> process;
    std::shared_ptr<ChildInput> input;
    Cancellable outputWatch;
    Cancellable diagnosticsWatch;
    JSONLDecoder decoder;
    std::unique_ptr<SerialQueue> writer;
    std::unique_ptr<SerialQueue> keyring;
    bool fetchingKey = false;
    std::map<std::string, PendingCommand, std::less<>> pending;
    Cancellable timer;
    Cancellable restart;
    Cancellable killTimer;
    int failures = 0;
    bool retrySuppressed = false;
    MainLoop::TimePoint launchedAt;
    std::optional<MainLoop::TimePoint> lastStatus; // none: the distant past
    bool shuttingDown = false;
    std::string generation;
    std::filesystem::path executable;
    std::filesystem::path directory;
    KeyProvider storageKey;
};

} // namespace kavrel
