#pragma once

#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "platform/ScratchDirectory.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kavrel {

// The real process launcher, keeping each child's process id and counting the exits.
struct RecordingLauncher final : ProcessLauncher {
    explicit RecordingLauncher(MainLoop& loop) : launcher(loop) {}
    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override {
        auto child = launcher.spawn(executable, arguments, environment, [this, onExit](int waitStatus) {
            ++exits;
            onExit(waitStatus);
        });
        processIds.push_back(child->processIdentifier());
        return child;
    }

    PosixProcessLauncher launcher;
    std::vector<int> processIds;
    std::size_t exits = 0;
};

// A supervisor that runs the stand-in connector as a real child, with the default key provider over
// an in-memory secret store and every timer on the virtual clock of a ManualLoop. It records every
// line it shows. Its destructor shuts the connector down.
class ConnectorRig {
public:
    ConnectorRig() {
        supervisor =
            HelperSupervisor::create({loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH, directory);
        supervisor->setOnReady([this] { ++readyCalls; });
        messageWatch =
            supervisor->message().observe([this](const std::string& text) { messages.push_back(text); });
    }
    ~ConnectorRig() {
        supervisor->shutdown();
        supervisor.reset();
        loop.runUntilIdle();
    }

    // The faults the next connector started will show (the stand-in reads them at start).
    void misbehave(std::string_view options) const {
        std::ofstream(directory / "connector-sim.json") << options;
    }

    // For failure messages: the lines shown so far.
    std::string describe() const { return ::testing::PrintToString(messages); }

    ScratchDirectory scratch;
    const std::filesystem::path directory = scratch.path();
    ManualLoop loop;
    RecordingLauncher launcher{loop};
    InMemorySecretStore secrets;
    std::shared_ptr<HelperSupervisor> supervisor;
    int readyCalls = 0;
    std::vector<std::string> messages;

private:
    Cancellable messageWatch;
};

} // namespace kavrel
