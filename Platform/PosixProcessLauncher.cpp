#include "Platform/PosixProcessLauncher.hpp"
#include "Platform/SigpipeGuard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <system_error>
#include <utility>

namespace kavrel {

namespace {

// Called through syscall(2): glibc 2.36 declares the wrappers without C linkage for C++.
int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int sendSignal(int pidfd, int signalNumber) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0));
}

[[noreturn]] void throwSystemError(int code, const char* what) {
    throw std::system_error(code, std::system_category(), what);
}

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd; }
    void reset() {
        if (fd >= 0) {
            ::close(fd); // the descriptor is gone even when close reports an error
            fd = -1;
        }
    }

private:
    int fd = -1;
};

// Keeps pipe ends off 0, 1 and 2, so that the child's dup2 onto those numbers never meets an end
// that already sits there (a dup2 onto itself would leave close-on-exec set).
Descriptor aboveStandardStreams(Descriptor descriptor) {
    if (descriptor.get() > STDERR_FILENO) {
        return descriptor;
    }
    const int moved = ::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) {
        throwSystemError(errno, "fcntl(F_DUPFD_CLOEXEC)");
    }
    return Descriptor(moved);
}

void makeNonBlocking(const Descriptor& descriptor) {
    const int flags = ::fcntl(descriptor.get(), F_GETFL);
    if (flags < 0 || ::fcntl(descriptor.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        throwSystemError(errno, "fcntl(O_NONBLOCK)");
    }
}

struct Pipe {
    Descriptor read;
    Descriptor write;
};

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throwSystemError(errno, "pipe2");
    }
    Descriptor read(fds[0]);
    Descriptor write(fds[1]);
    read = aboveStandardStreams(std::move(read));
    write = aboveStandardStreams(std::move(write));
    return Pipe{std::move(read), std::move(write)};
}

class PipeInput final : public ChildInput {
public:
    explicit PipeInput(Descriptor end) : end(std::move(end)) {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) {
            throwSystemError(errno, "eventfd");
        }
        closeRequest = Descriptor(fd);
        makeNonBlocking(this->end);
    }

    Outcome write(std::string_view bytes) override {
        std::lock_guard serial(writing);
        {
            std::lock_guard lock(state);
            if (closed) {
                return Outcome::closed;
            }
            inProgress = true;
        }
        const Outcome outcome = writeAll(bytes);
        std::lock_guard lock(state);
        inProgress = false;
        if (closed) {
            end.reset();
            return outcome == Outcome::written ? Outcome::written : Outcome::closed;
        }
        return outcome;
    }

    void close() override {
        std::lock_guard lock(state);
        if (closed) {
            return;
        }
        closed = true;
        if (inProgress) {
            ::eventfd_write(closeRequest.get(), 1); // the writer closes once it lets go
        } else {
            end.reset();
        }
    }

private:
    Outcome writeAll(std::string_view bytes) {
        const SigpipeGuard guard;
        while (!bytes.empty()) {
            const ssize_t written = ::write(end.get(), bytes.data(), bytes.size());
            if (written >= 0) {
                bytes.remove_prefix(static_cast<std::size_t>(written));
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EPIPE) {
                return Outcome::failed;
            }
            if (errno != EAGAIN) {
                return Outcome::failed;
            }
            pollfd waits[2]{{end.get(), POLLOUT, 0}, {closeRequest.get(), POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 && errno != EINTR) {
                return Outcome::failed;
            }
            if (waits[1].revents != 0) {
                return Outcome::closed;
            }
        }
        return Outcome::written;
    }

    std::mutex writing; // one write at a time
    std::mutex state;   // closed, inProgress and the descriptor's lifetime
    Descriptor end;
    Descriptor closeRequest;
    bool closed = false;
    bool inProgress = false;
};

class PosixChild final : public ChildProcess {
public:
    PosixChild(MainLoop& loop, pid_t pid, Descriptor pidfd, Descriptor output, Descriptor diagnostics,
               std::shared_ptr<ChildInput> input, ProcessLauncher::ExitHandler onExit)
        : loop(loop), pid(pid), pidfd(std::move(pidfd)), output(std::move(output)),
          diagnostics(std::move(diagnostics)), stdinEnd(std::move(input)), onExit(std::move(onExit)) {
        exitWatch = loop.watchReadable(this->pidfd.get(), [this] { collect(); });
    }

    ~PosixChild() override {
        exitWatch.cancel();
        stdinEnd->close();
    }

    int processIdentifier() const override { return pid; }
    bool isRunning() const override { return !collected; }

    void signal(int signalNumber) override {
        if (!collected) {
            sendSignal(pidfd.get(), signalNumber);
        }
    }

    int outputDescriptor() const override { return output.get(); }
    int diagnosticsDescriptor() const override { return diagnostics.get(); }
    std::shared_ptr<ChildInput> input() const override { return stdinEnd; }

    bool waitForExit(std::optional<std::chrono::milliseconds> timeout) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
        while (!collected) {
            int waitMs = -1;
            if (timeout) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                waitMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
            }
            pollfd exit{pidfd.get(), POLLIN, 0};
            const int ready = ::poll(&exit, 1, waitMs);
            if (ready > 0) {
                collect();
            } else if (ready == 0 || errno != EINTR) {
                return collected;
            }
        }
        return true;
    }

private:
    // The pidfd turns readable once the child has exited; waitpid then never blocks. The pid cannot
    // name another process before this collection, so signalling it until then is safe.
    void collect() {
        int status = 0;
        pid_t result = 0;
        do {
            result = ::waitpid(pid, &status, WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == 0) {
            return;
        }
        // ECHILD: someone else collected it; the child is gone all the same.
        collected = true;
        exitWatch.cancel();
        loop.post([handler = onExit, status] { handler(status); });
    }

    MainLoop& loop;
    pid_t pid;
    Descriptor pidfd;
    Descriptor output;
    Descriptor diagnostics;
    std::shared_ptr<ChildInput> stdinEnd;
    ProcessLauncher::ExitHandler onExit;
    Cancellable exitWatch;
    bool collected = false;
};

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }

    void check(int result, const char* what) {
        if (result != 0) {
            throwSystemError(result, what);
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (const auto& text : texts) {
        result.push_back(const_cast<char*>(text.c_str()));
    }
    result.push_back(nullptr);
    return result;
}

} // namespace

PosixProcessLauncher::PosixProcessLauncher(MainLoop& loop) : loop(loop) {}

std::unique_ptr<ChildProcess> PosixProcessLauncher::spawn(const std::filesystem::path& executable,
                                                          const std::vector<std::string>& arguments,
                                                          const std::vector<std::string>& environment,
                                                          ExitHandler onExit) {
    Pipe standardInput = makePipe();
    Pipe standardOutput = makePipe();
    Pipe standardError = makePipe();
    makeNonBlocking(standardOutput.read);
    makeNonBlocking(standardError.read);
    auto input = std::make_shared<PipeInput>(std::move(standardInput.write));

    SpawnSetup setup;
    setup.check(posix_spawn_file_actions_adddup2(&setup.actions, standardInput.read.get(), STDIN_FILENO),
                "posix_spawn_file_actions_adddup2");
    setup.check(posix_spawn_file_actions_adddup2(&setup.actions, standardOutput.write.get(), STDOUT_FILENO),
                "posix_spawn_file_actions_adddup2");
    setup.check(posix_spawn_file_actions_adddup2(&setup.actions, standardError.write.get(), STDERR_FILENO),
                "posix_spawn_file_actions_adddup2");
    // Descriptors that other code opened without close-on-exec stay out of the child too.
    setup.check(posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1),
                "posix_spawn_file_actions_addclosefrom_np");
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    setup.check(posix_spawnattr_setsigmask(&setup.attributes, &noSignals), "posix_spawnattr_setsigmask");
    setup.check(posix_spawnattr_setsigdefault(&setup.attributes, &defaults), "posix_spawnattr_setsigdefault");
    setup.check(posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
                "posix_spawnattr_setflags");

    std::vector<std::string> argv{executable.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(environment);
    pid_t pid = 0;
    setup.check(posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes, argvPointers.data(),
                            envPointers.data()),
                "posix_spawn");

    // The child's ends now live in the child only.
    standardInput.read.reset();
    standardOutput.write.reset();
    standardError.write.reset();

    const int pidfd = openPidfd(pid);
    if (pidfd < 0) {
        const int error = errno;
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throwSystemError(error, "pidfd_open");
    }
    return std::make_unique<PosixChild>(loop, pid, Descriptor(pidfd), std::move(standardOutput.read),
                                        std::move(standardError.read), std::move(input), std::move(onExit));
}

} // namespace kavrel
