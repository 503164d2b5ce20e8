#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/ManualLoop.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// The real process launcher, keeping what a test needs to know about each child it started: its
// process id, when it started on the loop's clock and how it ended.
class RecordingLauncher final : public ProcessLauncher {
public:
    explicit RecordingLauncher(MainLoop& loop);

    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override;

    std::size_t spawns() const { return processIds.size(); }
    std::size_t exits() const { return waitStatuses.size(); }

    std::vector<int> processIds;
    std::vector<MainLoop::TimePoint> startedAt;
    std::vector<int> waitStatuses;

private:
    MainLoop& loop;
    PosixProcessLauncher launcher;
};

// A supervisor that runs the stand-in connector as a real child, with the default key provider over
// an in-memory secret store and every timer on the virtual clock of a ManualLoop. It records every
// message line and status object it publishes. Its destructor shuts the connector down.
class ConnectorRig {
public:
    ConnectorRig();
    ~ConnectorRig();
    ConnectorRig(const ConnectorRig&) = delete;
    ConnectorRig& operator=(const ConnectorRig&) = delete;

    // The faults the next connector started will show (the stand-in reads them at start).
    void misbehave(std::string_view options) const;

    // Runs the loop until the condition holds; false when it never did (a stuck peer).
    bool runUntil(const std::function<bool()>& condition);
    // Sends one command and waits for its completion: the reply, or none.
    std::optional<Envelope> sendAndWait(std::string_view type, JSONObject payload = {});

    bool wasShown(std::string_view text) const;
    // For failure messages: what happened so far.
    std::string describe() const;

    ManualLoop loop;
    RecordingLauncher launcher{loop};
    InMemorySecretStore secrets;
    std::filesystem::path directory;
    std::shared_ptr<HelperSupervisor> supervisor;
    int readyCalls = 0;
    std::vector<std::string> messages;
    std::vector<JSONObject> statuses;

private:
    Cancellable messageWatch;
    Cancellable statusWatch;
};

} // namespace kavrel
