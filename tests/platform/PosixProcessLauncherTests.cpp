#include "Platform/PosixProcessLauncher.hpp"
#include "platform/QtLoopTest.hpp"
#include "platform/ScratchDirectory.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <set>
#include <system_error>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// The loop the launcher reports through. Its readable watchers, one cancelled from inside its own call
// among them, serve the launcher tests below.
TEST_F(QtLoopTest, PostedTasksRunInOrderOnTheLoopThreadAndTimersUntilCancelled) {
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::thread([&] {
        for (int i = 0; i < 100; ++i) {
            loop.post([&, i] {
                threads.insert(std::this_thread::get_id());
                order.push_back(i);
            });
        }
    }).join();
    bool cancelledRan = false, settled = false;
    loop.after(1ms, [&] { cancelledRan = true; }).cancel();
    int ticks = 0;
    Cancellable settle;
    Cancellable repeating = loop.every(2ms, [&] {
        if (++ticks == 3) {
            repeating.cancel();                                 // from inside its own firing
            settle = loop.after(20ms, [&] { settled = true; }); // room for more ticks, had it failed
        }
    });
    ASSERT_TRUE(runUntil([&] { return settled && order.size() == 100; }));
    EXPECT_EQ(threads, std::set{std::this_thread::get_id()});
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(std::pair(ticks, cancelledRan), std::pair(3, false));
}

class LauncherTest : public QtLoopTest {
protected:
    std::unique_ptr<ChildProcess> spawn(const std::string& executable, std::vector<std::string> arguments,
                                        std::vector<std::string> environment = {}) {
        exitStatus.reset();
        return launcher.spawn(executable, arguments, environment,
                              [this](int status) { exitStatus = status; });
    }
    // Everything the child writes to that pipe until it closes it, read through the loop.
    std::string readAll(int descriptor) {
        std::string text;
        ssize_t count = -1;
        const Cancellable watch = loop.watchReadable(descriptor, [&] {
            char buffer[4096];
            count = ::read(descriptor, buffer, sizeof buffer);
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        });
        EXPECT_TRUE(runUntil([&] { return count == 0; }));
        return text;
    }

    PosixProcessLauncher launcher{loop};
    std::optional<int> exitStatus;
};

// The shell reports its own argv, environment and descriptors, then cat passes its input through.
// The application blocks SIGTERM (it reads it from a signalfd) and ignores SIGPIPE: a connector that
// inherited either would ignore the supervisor's SIGTERM or miss its broken pipes. The shell clears
// its mask at start-up, so grep reports the state a child is given.
TEST_F(LauncherTest, ChildGetsExactlyItsArgumentsEnvironmentPipesAndDefaultSignalState) {
    const int stray = ::open("/dev/null", O_RDONLY); // without close-on-exec, as careless code might
    sigset_t terminate, previous;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &terminate, &previous);
    const auto pipeHandler = ::signal(SIGPIPE, SIG_IGN);
    const std::string script = "tr '\\0' '|' </proc/$$/cmdline; tr '\\0' '\\n' </proc/$$/environ; "
                               "ls /proc/$$/fd; echo oops >&2; cat";
    auto shell =
        spawn("/bin/sh", {"-c", script, "first", "second arg"}, {"HOME=/nowhere", "PATH=/usr/bin:/bin"});
    auto grep = spawn("/bin/grep", {"^Sig[BI]", "/proc/self/status"});
    ::signal(SIGPIPE, pipeHandler);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(stray);
    const std::string status = readAll(grep->outputDescriptor());
    EXPECT_EQ(status.substr(0, 25), "SigBlk:\t0000000000000000\n");
    // glibc's posix_spawn leaves its two internal signals (32 and 33) ignored; glibc reclaims them itself.
    EXPECT_EQ(std::stoull(status.substr(status.find("SigIgn:\t") + 8), nullptr, 16) & ~0x180000000ULL, 0U)
        << status;
    ASSERT_TRUE(runUntil([&] { return exitStatus.has_value(); })); // grep's: the shell waits for its input
    exitStatus.reset();

    EXPECT_EQ(shell->input()->write("line one\n"), ChildInput::Outcome::written);
    shell->input()->close();
    EXPECT_EQ(shell->input()->write("late\n"), ChildInput::Outcome::closed);
    EXPECT_EQ(readAll(shell->outputDescriptor()),
              "/bin/sh|-c|" + script +
                  "|first|second arg|HOME=/nowhere\nPATH=/usr/bin:/bin\n0\n1\n2\nline one\n");
    EXPECT_EQ(readAll(shell->diagnosticsDescriptor()), "oops\n");
    EXPECT_NE(::fcntl(shell->outputDescriptor(), F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_TRUE(runUntil([&] { return exitStatus.has_value(); }));
    EXPECT_EQ(exitStatus, 0);
}

// Writing to a child that has gone fails, and no SIGPIPE is left to kill the application. Children
// leave no descriptor and no zombie behind, nor does a spawn that fails.
TEST_F(LauncherTest, ClosingTheInputReleasesABlockedWriterAndGoneChildrenLeaveNothingBehind) {
    auto child = spawn("/bin/sleep", {"1000"});
    const auto input = child->input();
    std::optional<ChildInput::Outcome> outcome;
    std::thread thread([&] { outcome = input->write(std::string(4 << 20, 'x')); });
    // The child never reads: once the pipe holds data, the write is under way and bound to block.
    const int pipe =
        ::open(("/proc/" + std::to_string(child->processIdentifier()) + "/fd/0").c_str(), O_RDONLY);
    for (int queued = 0; queued == 0;) {
        ::ioctl(pipe, FIONREAD, &queued);
    }
    ::close(pipe);
    input->close();
    thread.join();
    EXPECT_EQ(outcome, ChildInput::Outcome::closed);
    // Waiting times out on a running child and collects a signalled one.
    EXPECT_FALSE(child->waitForExit(std::chrono::milliseconds(0)));
    child->signal(SIGTERM);
    EXPECT_TRUE(child->waitForExit(std::nullopt));
    child->signal(SIGKILL); // after collection: nothing is signalled
    ASSERT_TRUE(
        runUntil([&] { return exitStatus.has_value(); })); // the report still comes, once, on the loop
    EXPECT_TRUE(WIFSIGNALED(*exitStatus) && WTERMSIG(*exitStatus) == SIGTERM);

    child.reset(); // the loop's own descriptors have come into being by now
    const auto before = entryCount("/proc/self/fd");
    auto gone = spawn("/bin/true", {});
    const std::string process = "/proc/" + std::to_string(gone->processIdentifier());
    ASSERT_TRUE(runUntil([&] { return exitStatus.has_value(); }));
    EXPECT_EQ(gone->input()->write(std::string(100'000, 'x')), ChildInput::Outcome::failed);
    gone.reset();
    EXPECT_FALSE(std::filesystem::exists(process)) << "no zombie";
    EXPECT_THROW(spawn("/nonexistent/kavrel-roon", {}), std::system_error);
    EXPECT_EQ(entryCount("/proc/self/fd"), before);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

} // namespace
} // namespace kavrel
