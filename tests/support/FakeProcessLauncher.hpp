#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/runtime/ProcessLauncher.hpp"
#include "support/ManualLoop.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

namespace kavrel {

// What a fake child received on its standard input. Written on the test's thread only: the code under
// test writes through a ManualQueue.
class RecordingInput final : public ChildInput {
public:
    Outcome write(std::string_view bytes) override {
        // A failing pipe fails even after close(): the write was already on its way when the child went.
        if (failing || closed) {
            return failing ? Outcome::failed : Outcome::closed;
        }
        received.append(bytes);
        return Outcome::written;
    }
    void close() override { closed = true; }

    bool isClosed() const { return closed; }
    void failWrites() { failing = true; }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (std::size_t start = 0, end; (end = received.find('\n', start)) != std::string::npos;
             start = end + 1) {
            result.push_back(received.substr(start, end - start));
        }
        return result;
    }
    // Every complete line read as an envelope.
    std::vector<Envelope> envelopes() const {
        std::vector<Envelope> result;
        for (const auto& line : lines()) {
            result.push_back(Envelope::decode(line));
        }
        return result;
    }

private:
    std::string received;
    bool closed = false;
    bool failing = false;
};

// A scripted in-process connector. Its standard output and standard error are real pipes, so the
// code under test reads them as it reads a real child; the test plays the child's side. It stays
// inspectable after the code under test has released its ChildProcess.
class FakeChild {
public:
    FakeChild(ManualLoop& loop, int pid, ProcessLauncher::ExitHandler onExit)
        : loop(loop), processId(pid), onExit(std::move(onExit)) {
        makePipe(outputRead, outputWrite);
        makePipe(diagnosticsRead, diagnosticsWrite);
    }
    ~FakeChild() {
        for (int* end : {&outputRead, &outputWrite, &diagnosticsRead, &diagnosticsWrite}) {
            closeEnd(*end);
        }
    }
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
    void writeOutput(std::string_view bytes) { writeAll(outputWrite, bytes); }
    void writeDiagnostics(std::string_view bytes) { writeAll(diagnosticsWrite, bytes); }
    void closeOutput() { closeEnd(outputWrite); }
    // Answers a command with a "result" line.
    void answer(const Envelope& command, JSONObject payload) {
        writeOutput(Envelope(command.id, "result", std::move(payload)).encodedLine());
        answered.insert(command.id);
    }
    bool hasAnswered(const std::string& id) const { return answered.count(id) > 0; }
    std::size_t answeredCount() const { return answered.size(); }
    // The child ends; its exit report follows on the loop.
    void exit(int waitStatus = 0) {
        if (running) {
            running = false;
            exitStatus = waitStatus;
            closeEnd(outputWrite);
            closeEnd(diagnosticsWrite);
            reportExitAgain();
        }
    }
    // A duplicate, late exit report.
    void reportExitAgain() {
        loop.post([handler = onExit, status = exitStatus] { handler(status); });
    }
    // SIGTERM is then ignored; SIGKILL always ends the child.
    void ignoreTerminate() { terminateIgnored = true; }

    // The ChildProcess side, used through the proxy handed to the code under test.
    void signal(int signalNumber) {
        received.push_back(signalNumber);
        if (signalNumber == SIGKILL || (signalNumber == SIGTERM && !terminateIgnored)) {
            exit(signalNumber);
        }
    }
    bool waitForExit(std::optional<std::chrono::milliseconds> timeout) {
        waited.push_back(timeout);
        if (running && !timeout) {
            throw std::logic_error("waiting without limit for a fake child that never exits");
        }
        if (running) {
            loop.passTime(*timeout);
        }
        return !running;
    }
    void release() {
        released = true;
        closeEnd(outputRead);
        closeEnd(diagnosticsRead);
    }
    int outputDescriptor() const { return outputRead; }
    int diagnosticsDescriptor() const { return diagnosticsRead; }
    std::shared_ptr<ChildInput> sharedInput() const { return stdinRecord; }

private:
    static void makePipe(int& read, int& write) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::system_category(), "pipe2");
        }
        read = fds[0];
        write = fds[1];
    }
    static void closeEnd(int& fd) {
        if (fd >= 0) {
            ::close(std::exchange(fd, -1));
        }
    }
    void writeAll(int descriptor, std::string_view bytes) {
        if (released || descriptor < 0) {
            throw std::logic_error("the fake child's pipe is no longer open");
        }
        for (bool stalled = false; !bytes.empty();) {
            const ssize_t count = ::write(descriptor, bytes.data(), bytes.size());
            if (count > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(count));
                stalled = false;
            } else if (errno == EAGAIN && !std::exchange(stalled, true)) {
                loop.runUntilIdle();
            } else if (errno != EINTR) {
                throw std::system_error(errno, std::system_category(), "write (or a full pipe nobody reads)");
            }
        }
    }

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
                                        ExitHandler onExit) override {
        requests.push_back(Spawn{executable, arguments, environment});
        if (spawnError) {
            throw std::system_error(*std::exchange(spawnError, std::nullopt), std::system_category(),
                                    "spawn");
        }
        children.push_back(
            std::make_shared<FakeChild>(loop, 1000 + static_cast<int>(children.size()), onExit));
        return std::make_unique<Handle>(children.back());
    }

    // The next spawn throws std::system_error with this error.
    void failNextSpawn(int error) { spawnError = error; }
    const std::vector<Spawn>& spawns() const { return requests; }
    std::size_t childCount() const { return children.size(); }
    FakeChild& child(std::size_t index) { return *children.at(index); }
    FakeChild& last() { return *children.back(); }

private:
    // The handle the code under test owns; destroying it releases the read ends, as a real one does.
    struct Handle final : ChildProcess {
        explicit Handle(std::shared_ptr<FakeChild> child) : child(std::move(child)) {}
        ~Handle() override { child->release(); }
        int processIdentifier() const override { return child->pid(); }
        bool isRunning() const override { return child->isRunning(); }
        void signal(int signalNumber) override { child->signal(signalNumber); }
        int outputDescriptor() const override { return child->outputDescriptor(); }
        int diagnosticsDescriptor() const override { return child->diagnosticsDescriptor(); }
        std::shared_ptr<ChildInput> input() const override { return child->sharedInput(); }
        bool waitForExit(std::optional<std::chrono::milliseconds> t) override {
            return child->waitForExit(t);
        }
        std::shared_ptr<FakeChild> child;
    };

    ManualLoop& loop;
    std::vector<Spawn> requests;
    std::vector<std::shared_ptr<FakeChild>> children;
    std::optional<int> spawnError;
};

} // namespace kavrel
