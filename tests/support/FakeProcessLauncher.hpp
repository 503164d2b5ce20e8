#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/runtime/ProcessLauncher.hpp"
#include "support/ManualLoop.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <optional>
#include <system_error>
#include <vector>

namespace kavrel {

// A scripted in-process connector; the test plays its side. Its standard input is recorded, written on
// the test's thread only (the code under test writes through a ManualQueue). Its standard output is a
// real pipe, read by the code under test as a real child's is; its standard error is /dev/null, at its
// end at once. It stays inspectable after the code under test has released its ChildProcess.
struct FakeChild final : ChildInput {
    FakeChild(ManualLoop& loop, ProcessLauncher::ExitHandler onExit) : loop(loop), onExit(std::move(onExit)) {
        if (::pipe2(output, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::system_category(), "pipe2");
        }
    }
    ~FakeChild() override {
        release();
        closeOutput();
    }

    Outcome write(std::string_view bytes) override {
        // A failing pipe fails even after close(): the write was already on its way when the child went.
        if (inputFails || inputClosed) {
            return inputFails ? Outcome::failed : Outcome::closed;
        }
        received.append(bytes);
        return Outcome::written;
    }
    void close() override { inputClosed = true; }
    // Every complete line received, read as an envelope.
    std::vector<Envelope> envelopes() const {
        std::vector<Envelope> result;
        for (std::size_t start = 0, end; (end = received.find('\n', start)) != std::string::npos;
             start = end + 1) {
            result.push_back(Envelope::decode(received.substr(start, end - start)));
        }
        return result;
    }

    // Small writes only: nobody drains a full pipe meanwhile.
    void writeOutput(std::string_view bytes) {
        if (released || output[1] < 0 ||
            ::write(output[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            throw std::logic_error("the fake child could not write its output");
        }
    }
    void closeOutput() { closeEnd(output[1]); }
    // Answers a command with a "result" line.
    void answer(const Envelope& command, JSONObject payload) {
        writeOutput(Envelope(command.id, "result", std::move(payload)).encodedLine());
    }
    // The child ends; its exit report follows on the loop.
    void exit() {
        if (std::exchange(running, false)) {
            closeOutput();
            loop.post([handler = onExit] { handler(0); });
        }
    }
    // Released: the code under test destroyed its ChildProcess, which closes the read ends.
    void release() {
        released = true;
        closeEnd(output[0]);
        closeEnd(diagnosticsRead);
    }
    static void closeEnd(int& fd) {
        if (fd >= 0) {
            ::close(std::exchange(fd, -1));
        }
    }

    ManualLoop& loop;
    ProcessLauncher::ExitHandler onExit;
    std::string received;
    bool inputClosed = false;
    bool inputFails = false;
    int output[2] = {-1, -1};
    int diagnosticsRead = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::vector<int> signalsSent;
    // The timeouts of waitForExit calls; none for an unlimited wait.
    std::vector<std::optional<std::chrono::milliseconds>> waits;
    bool running = true;
    bool released = false;
    bool ignoresTerminate = false; // SIGKILL always ends it
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
        spawns.push_back(Spawn{executable, arguments, environment});
        if (std::exchange(failNextSpawn, false)) {
            throw std::system_error(ENOENT, std::system_category(), "spawn");
        }
        children.push_back(std::make_shared<FakeChild>(loop, std::move(onExit)));
        return std::make_unique<Handle>(children.back());
    }

    std::size_t childCount() const { return children.size(); }
    FakeChild& last() { return *children.back(); }

    std::vector<Spawn> spawns;
    std::vector<std::shared_ptr<FakeChild>> children;
    bool failNextSpawn = false;

private:
    // The handle the code under test owns; destroying it releases the child's read ends.
    struct Handle final : ChildProcess {
        explicit Handle(std::shared_ptr<FakeChild> child) : child(std::move(child)) {}
        ~Handle() override { child->release(); }
        int processIdentifier() const override { return 1000; }
        bool isRunning() const override { return child->running; }
        void signal(int signalNumber) override {
            child->signalsSent.push_back(signalNumber);
            if (signalNumber == SIGKILL || !child->ignoresTerminate) {
                child->exit();
            }
        }
        int outputDescriptor() const override { return child->output[0]; }
        int diagnosticsDescriptor() const override { return child->diagnosticsRead; }
        std::shared_ptr<ChildInput> input() const override { return {child, child.get()}; }
        // Waiting blocks the loop's thread: nothing runs meanwhile.
        bool waitForExit(std::optional<std::chrono::milliseconds> timeout) override {
            child->waits.push_back(timeout);
            return !child->running;
        }
        std::shared_ptr<FakeChild> child;
    };

    ManualLoop& loop;
};

} // namespace kavrel
