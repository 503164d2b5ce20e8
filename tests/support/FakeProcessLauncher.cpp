#include "support/FakeProcessLauncher.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>
#include <tuple>
#include <utility>

namespace kavrel {

RecordingInput::Outcome RecordingInput::write(std::string_view bytes) {
    std::lock_guard lock(mutex);
    // A failing pipe fails even after close(): the write was already on its way when the child went.
    if (failing) {
        return Outcome::failed;
    }
    if (closed) {
        return Outcome::closed;
    }
    received.append(bytes);
    return Outcome::written;
}

void RecordingInput::close() {
    std::lock_guard lock(mutex);
    closed = true;
}

bool RecordingInput::isClosed() const {
    std::lock_guard lock(mutex);
    return closed;
}

void RecordingInput::failWrites() {
    std::lock_guard lock(mutex);
    failing = true;
}

std::vector<std::string> RecordingInput::lines() const {
    std::lock_guard lock(mutex);
    std::vector<std::string> result;
    std::size_t start = 0;
    for (auto end = received.find('\n'); end != std::string::npos; end = received.find('\n', start)) {
        result.push_back(received.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::vector<Envelope> RecordingInput::envelopes() const {
    std::vector<Envelope> result;
    for (const auto& line : lines()) {
        result.push_back(Envelope::decode(line));
    }
    return result;
}

namespace {

std::pair<int, int> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::system_category(), "pipe2");
    }
    return {fds[0], fds[1]};
}

void closeDescriptor(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The handle the code under test owns; destroying it releases the read ends, as a real one does.
class FakeChildHandle final : public ChildProcess {
public:
    explicit FakeChildHandle(std::shared_ptr<FakeChild> child) : child(std::move(child)) {}
    ~FakeChildHandle() override { child->release(); }

    int processIdentifier() const override { return child->pid(); }
    bool isRunning() const override { return child->isRunning(); }
    void signal(int signalNumber) override { child->signal(signalNumber); }
    int outputDescriptor() const override { return child->outputDescriptor(); }
    int diagnosticsDescriptor() const override { return child->diagnosticsDescriptor(); }
    std::shared_ptr<ChildInput> input() const override { return child->sharedInput(); }
    bool waitForExit(std::optional<std::chrono::milliseconds> timeout) override {
        return child->waitForExit(timeout);
    }

private:
    std::shared_ptr<FakeChild> child;
};

} // namespace

FakeChild::FakeChild(ManualLoop& loop, int pid, ProcessLauncher::ExitHandler onExit)
    : loop(loop), processId(pid), onExit(std::move(onExit)) {
    std::tie(outputRead, outputWrite) = makePipe();
    std::tie(diagnosticsRead, diagnosticsWrite) = makePipe();
}

FakeChild::~FakeChild() {
    closeDescriptor(outputRead);
    closeDescriptor(outputWrite);
    closeDescriptor(diagnosticsRead);
    closeDescriptor(diagnosticsWrite);
}

void FakeChild::writeAll(int descriptor, std::string_view bytes) {
    if (released || descriptor < 0) {
        throw std::logic_error("the fake child's pipe is no longer open");
    }
    bool stalled = false;
    while (!bytes.empty()) {
        const ssize_t count = ::write(descriptor, bytes.data(), bytes.size());
        if (count > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
            stalled = false;
        } else if (errno == EAGAIN) {
            if (stalled) {
                throw std::logic_error("the pipe is full and nobody reads it");
            }
            stalled = true;
            loop.runUntilIdle();
        } else if (errno != EINTR) {
            throw std::system_error(errno, std::system_category(), "write");
        }
    }
}

void FakeChild::writeOutput(std::string_view bytes) {
    writeAll(outputWrite, bytes);
}

void FakeChild::writeDiagnostics(std::string_view bytes) {
    writeAll(diagnosticsWrite, bytes);
}

void FakeChild::closeOutput() {
    closeDescriptor(outputWrite);
}

void FakeChild::answer(const Envelope& command, JSONObject payload) {
    writeOutput(Envelope(command.id, "result", std::move(payload)).encodedLine());
    answered.insert(command.id);
}

void FakeChild::exit(int waitStatus) {
    if (!running) {
        return;
    }
    running = false;
    exitStatus = waitStatus;
    closeDescriptor(outputWrite);
    closeDescriptor(diagnosticsWrite);
    loop.post([handler = onExit, waitStatus] { handler(waitStatus); });
}

void FakeChild::reportExitAgain() {
    loop.post([handler = onExit, status = exitStatus] { handler(status); });
}

void FakeChild::signal(int signalNumber) {
    received.push_back(signalNumber);
    if (running && (signalNumber == SIGKILL || (signalNumber == SIGTERM && !terminateIgnored))) {
        exit(signalNumber);
    }
}

bool FakeChild::waitForExit(std::optional<std::chrono::milliseconds> timeout) {
    waited.push_back(timeout);
    if (!running) {
        return true;
    }
    if (!timeout) {
        throw std::logic_error("waiting without limit for a fake child that never exits");
    }
    loop.passTime(*timeout);
    return false;
}

void FakeChild::release() {
    released = true;
    closeDescriptor(outputRead);
    closeDescriptor(diagnosticsRead);
}

std::unique_ptr<ChildProcess> FakeProcessLauncher::spawn(const std::filesystem::path& executable,
                                                         const std::vector<std::string>& arguments,
                                                         const std::vector<std::string>& environment,
                                                         ExitHandler onExit) {
    requests.push_back(Spawn{executable, arguments, environment});
    if (spawnError) {
        const int error = *std::exchange(spawnError, std::nullopt);
        throw std::system_error(error, std::system_category(), "spawn");
    }
    auto child =
        std::make_shared<FakeChild>(loop, 1000 + static_cast<int>(children.size()), std::move(onExit));
    children.push_back(child);
    return std::make_unique<FakeChildHandle>(child);
}

} // namespace kavrel
