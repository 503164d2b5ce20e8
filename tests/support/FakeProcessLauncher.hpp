#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/runtime/ProcessLauncher.hpp"
#include "support/ManualLoop.hpp"

#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace kavrel {

// What a fake child received on its standard input.
class RecordingInput final : public ChildInput {
public:
    Outcome write(std::string_view bytes) override;
    void close() override;

    bool isClosed() const;
    void failWrites();
    std::vector<std::string> lines() const;
    // Every complete line read as an envelope.
    std::vector<Envelope> envelopes() const;

private:
    mutable std::mutex mutex;
    std::string received;
    bool closed = false;
    bool failing = false;
};

// A scripted in-process connector. Its standard output and standard error are real pipes, so the
// code under test reads them as it reads a real child; the test plays the child's side. It stays
// inspectable after the code under test has released its ChildProcess.
class FakeChild {
public:
    FakeChild(ManualLoop& loop, int pid, ProcessLauncher::ExitHandler onExit);
    ~FakeChild();
    FakeChild(const FakeChild&) = delete;
    FakeChild& operator=(const FakeChild&) = delete;

    int pid() const { return processId; }
    bool isRunning() const { return running; }
    // Released: the code under test destroyed its ChildProcess (its read ends are closed).
    bool isReleased() const { return released; }
    RecordingInput& input() { return *stdinRecord; }
    const std::vector<int>& signals() const { return received; }
    // The timeouts of waitForExit calls; none for an unlimited wait.
    const std::vector<std::optional<std::chrono::milliseconds>>& waits() const { return waited; }

    // The child writes to its standard output; while the pipe is full the loop runs to drain it.
    void writeOutput(std::string_view bytes);
    void writeDiagnostics(std::string_view bytes);
    void closeOutput();
    // Answers a command with a "result" line.
    void answer(const Envelope& command, JSONObject payload);
    bool hasAnswered(const std::string& id) const { return answered.count(id) > 0; }
    std::size_t answeredCount() const { return answered.size(); }
    // The child ends; its exit report follows on the loop.
    void exit(int waitStatus = 0);
    // A duplicate, late exit report.
    void reportExitAgain();
    // SIGTERM is then ignored; SIGKILL always ends the child.
    void ignoreTerminate() { terminateIgnored = true; }

    // The ChildProcess side, used through the proxy handed to the code under test.
    void signal(int signalNumber);
    bool waitForExit(std::optional<std::chrono::milliseconds> timeout);
    void release();
    int outputDescriptor() const { return outputRead; }
    int diagnosticsDescriptor() const { return diagnosticsRead; }
    std::shared_ptr<ChildInput> sharedInput() const { return stdinRecord; }

private:
    void writeAll(int descriptor, std::string_view bytes);

    ManualLoop& loop;
    int processId;
    ProcessLauncher::ExitHandler onExit;
    std::shared_ptr<RecordingInput> stdinRecord = std::make_shared<RecordingInput>();
    int outputRead = -1;
    int outputWrite = -1;
    int diagnosticsRead = -1;
    int diagnosticsWrite = -1;
    std::vector<int> received;
    std::set<std::string> answered;
    std::vector<std::optional<std::chrono::milliseconds>> waited;
    bool running = true;
    bool released = false;
    bool terminateIgnored = false;
    int exitStatus = 0;
};

class FakeProcessLauncher final : public ProcessLauncher {
public:
    struct Spawn {
        std::filesystem::path executable;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
    };

    explicit FakeProcessLauncher(ManualLoop& loop) : loop(loop) {}

    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override;

    // The next spawn throws std::system_error with this error.
    void failNextSpawn(int error) { spawnError = error; }
    const std::vector<Spawn>& spawns() const { return requests; }
    std::size_t childCount() const { return children.size(); }
    FakeChild& child(std::size_t index) { return *children.at(index); }
    FakeChild& last() { return *children.back(); }

private:
    ManualLoop& loop;
    std::vector<Spawn> requests;
    std::vector<std::shared_ptr<FakeChild>> children;
    std::optional<int> spawnError;
};

} // namespace kavrel
