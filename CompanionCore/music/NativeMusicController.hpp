#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/JSONValue.hpp"
#include "CompanionCore/music/MusicAccess.hpp"
#include "CompanionCore/runtime/Cancellable.hpp"
#include "CompanionCore/runtime/SerialQueue.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

// Everything the companion does with the music app: a poll once a second that publishes stamped
// snapshots, favourite commands under run generations, deadlines and an admission limit, artwork
// fetched in the background, the permission request and the diagnostics report.
//
// Threads: the public operations may be called from any thread. Reads of the music app, snapshot
// publishing and command execution run on `queue`; artwork reads on `artworkQueue`. The snapshot
// state is touched only on `queue`; `admission` guards the run (generation, handler, timer) and the
// command count, and is never held while calling the access object, a handler or a completion.
//
// Create it with create(); every queued closure holds it weakly and does nothing once it is gone
// (a queued command still answers, with "native_run_changed"). Both queues must outlive it.
class NativeMusicController : public std::enable_shared_from_this<NativeMusicController> {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using SnapshotHandler = std::function<void(const JSONObject&)>;
    using CommandCompletion = std::function<void(Envelope)>;

    static constexpr std::string_view queueLabel = "com.quartzfield.kavrel.music";
    static constexpr std::string_view artworkQueueLabel = "com.quartzfield.kavrel.artwork";
    static constexpr std::chrono::milliseconds pollInterval{1000};
    // A command must expire within this much time from its admission.
    static constexpr double commandHorizonMs = 30'000;
    static constexpr int maxCommands = 8;
    static constexpr std::size_t maxTrackRefBytes = 128;
    static constexpr std::size_t artworkCacheLimit = 32;

    static std::shared_ptr<NativeMusicController> create(std::shared_ptr<MusicAccess> access, Clock now,
                                                         SerialQueue& queue, SerialQueue& artworkQueue);
    ~NativeMusicController();
    NativeMusicController(const NativeMusicController&) = delete;
    NativeMusicController& operator=(const NativeMusicController&) = delete;

    // Begins a new run (replacing any current one) and returns its generation. The first tick is
    // queued at once, the next ones every second; `onSnapshot` is called on `queue`.
    std::string start(SnapshotHandler onSnapshot);
    // Ends the current run; ticks, artwork and command results of it publish nothing afterwards.
    void stop();
    bool isCurrent(std::string_view generation) const;

    // Asks for the music app permission on `queue`; the completion (on `queue`) gets none on success
    // or the safe code of the failure.
    void requestAuthorization(std::function<void(std::optional<std::string>)> completion);
    // The diagnostics report of the last snapshot read, built on `queue`.
    void diagnostics(std::function<void(std::string)> completion);
    // Carries out one "nativeCommand" and answers exactly once with a "nativeResult": synchronously
    // on the caller's thread for a rejection at admission, otherwise later on `queue`.
    void command(const Envelope& envelope, CommandCompletion completion);

    // The code that may leave the process for a failure: never free text.
    static std::string safeCode(const std::exception_ptr& error);

private:
    struct Token {};

public:
    NativeMusicController(Token, std::shared_ptr<MusicAccess> access, Clock now, SerialQueue& queue,
                          SerialQueue& artworkQueue);

private:
    struct Command {
        std::string generation;
        double expiresAt = 0;
        std::optional<std::string> action;
        std::optional<std::string> trackRef;
        std::optional<bool> desiredState;
    };
    struct Outcome {
        bool favorited = false;
        std::optional<std::string> code; // set on failure
    };

    double nowMs() const;
    JSONObject offlineSnapshot(std::string code) const;

    void tick(const std::string& generation, const SnapshotHandler& handler);
    void publish(JSONObject snapshot, const std::string& generation, const SnapshotHandler& handler);
    void fetchArtwork(std::string key, std::string generation, SnapshotHandler handler);
    void applyArtwork(const std::string& key, const std::string& generation, const SnapshotHandler& handler,
                      const std::optional<JSONObject>& result);

    Outcome execute(const Command& command);
    void recordFavorite(const std::string& trackRef, bool favorited, const std::string& generation);
    void finishCommand();

    static std::optional<std::string> artworkKey(const JSONObject& snapshot);

    const std::shared_ptr<MusicAccess> access;
    SerialQueue& queue;
    SerialQueue& artworkQueue;
    const Clock now;

    // Touched only on `queue`.
    bool artworkPending = false;
    std::map<std::string, std::string> artworkCache;
    JSONObject latestSnapshot;
    std::uint64_t snapshotSequence = 0;

    mutable std::mutex admission;
    // Guarded by `admission`.
    Cancellable timer;
    int commandCount = 0;
    std::optional<std::string> generation;
    SnapshotHandler snapshotHandler;
};

} // namespace kavrel
