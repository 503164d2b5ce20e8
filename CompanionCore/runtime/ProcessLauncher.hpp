#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// The write end of a child's standard input. Shared between its owner and the queue that writes,
// so the descriptor is released only when neither needs it: a closed descriptor number can then
// never be reused under a write that is still queued.
class ChildInput {
public:
    enum class Outcome { written, closed, failed };

    virtual ~ChildInput() = default;

    // Blocks until every byte is written (closed: close() came first or interrupted the write;
    // failed: the pipe broke or another error, never a signal that ends the process). Writes are
    // made one at a time.
    virtual Outcome write(std::string_view bytes) = 0;
    // Thread-safe and idempotent. The child sees end of file once no write is in progress; a
    // write blocked on a full pipe is abandoned.
    virtual void close() = 0;
};

// A started child with its three pipes. Not thread-safe: used on the main loop, except input().
class ChildProcess {
public:
    virtual ~ChildProcess() = default;

    virtual int processIdentifier() const = 0;
    // True until the exit has been collected.
    virtual bool isRunning() const = 0;
    virtual void signal(int signalNumber) = 0;
    // Non-blocking read ends of standard output and standard error, owned by this object.
    virtual int outputDescriptor() const = 0;
    virtual int diagnosticsDescriptor() const = 0;
    virtual std::shared_ptr<ChildInput> input() const = 0;
    // Blocks the calling thread until the child exits or the timeout passes (none: no limit).
    // True when it has exited; the exit is then collected and its report posted to the main loop.
    virtual bool waitForExit(std::optional<std::chrono::milliseconds> timeout) = 0;
};

class ProcessLauncher {
public:
    // Runs on the main loop, once, with the raw wait status, as a task of its own.
    using ExitHandler = std::function<void(int waitStatus)>;

    virtual ~ProcessLauncher() = default;

    // argv is the executable's path followed by the arguments; the environment is exactly the
    // given entries ("NAME=value"). The child receives no descriptor beyond its three pipes.
    // Throws std::system_error when the child cannot be started.
    virtual std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                                const std::vector<std::string>& arguments,
                                                const std::vector<std::string>& environment,
                                                ExitHandler onExit) = 0;
};

} // namespace kavrel
