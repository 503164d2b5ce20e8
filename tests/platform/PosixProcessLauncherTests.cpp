#include "Platform/PosixProcessLauncher.hpp"
#include "Platform/QtMainLoop.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

std::set<std::string> openDescriptors(const std::string& pid) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + pid + "/fd")) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::size_t ownDescriptorCount() {
    // The directory iterator's own descriptor is counted both times.
    return openDescriptors("self").size();
}

char threadState(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto end = line.rfind(')');
    return end == std::string::npos || end + 2 >= line.size() ? '?' : line[end + 2];
}

class LauncherTest : public ::testing::Test {
protected:
    // Runs the loop until the child's exit has been reported (a limit only guards against a hang).
    void runUntilExit() {
        QTimer::singleShot(30s, &application, [this] { application.quit(); });
        if (!exitStatus) {
            application.exec();
        }
        ASSERT_TRUE(exitStatus) << "no exit report";
    }

    std::unique_ptr<ChildProcess> spawn(const std::string& executable, std::vector<std::string> arguments,
                                        std::vector<std::string> environment = {}) {
        return launcher.spawn(executable, arguments, environment, [this](int status) {
            exitStatus = status;
            application.quit();
        });
    }

    // The child's next line of output, waiting for it in poll().
    static std::string readLine(int descriptor) {
        std::string line;
        while (line.empty() || line.back() != '\n') {
            pollfd readable{descriptor, POLLIN, 0};
            char byte;
            if (::poll(&readable, 1, -1) < 0 || ::read(descriptor, &byte, 1) != 1) {
                break;
            }
            line.push_back(byte);
        }
        return line;
    }

    // Everything the child writes to standard output until it closes it.
    std::string readAll(int descriptor) {
        std::string text;
        Cancellable watch;
        bool ended = false;
        watch = loop.watchReadable(descriptor, [&] {
            char buffer[4096];
            const auto count = ::read(descriptor, buffer, sizeof buffer);
            if (count > 0) {
                text.append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0) {
                ended = true;
                watch.cancel();
                application.quit();
            }
        });
        QTimer::singleShot(30s, &application, [this] { application.quit(); });
        application.exec();
        EXPECT_TRUE(ended);
        return text;
    }

    int argc = 1;
    char name[16] = "CompanionTests";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    QtMainLoop loop;
    PosixProcessLauncher launcher{loop};
    std::optional<int> exitStatus;
};

TEST_F(LauncherTest, ChildGetsExactlyTheArgumentsAndEnvironmentGiven) {
    auto shell = spawn("/bin/sh", {"-c", "tr '\\0' '|' < /proc/$$/cmdline; exit 0", "first", "second arg"});
    EXPECT_EQ(readAll(shell->outputDescriptor()),
              "/bin/sh|-c|tr '\\0' '|' < /proc/$$/cmdline; exit 0|first|second arg|");
    runUntilExit();
    EXPECT_TRUE(WIFEXITED(*exitStatus));
    EXPECT_FALSE(shell->isRunning());

    exitStatus.reset();
    auto env = spawn("/usr/bin/env", {}, {"HOME=/nowhere", "PATH=/usr/bin:/bin", "LANG=en_US.UTF-8"});
    EXPECT_EQ(readAll(env->outputDescriptor()), "HOME=/nowhere\nPATH=/usr/bin:/bin\nLANG=en_US.UTF-8\n");
    runUntilExit();
}

TEST_F(LauncherTest, InputReachesTheChildAndClosingItEndsTheChild) {
    auto child = spawn("/bin/cat", {});
    const auto input = child->input();
    EXPECT_EQ(input->write("line one\n"), ChildInput::Outcome::written);
    EXPECT_EQ(input->write("line two\n"), ChildInput::Outcome::written);
    input->close();
    EXPECT_EQ(input->write("late\n"), ChildInput::Outcome::closed);
    EXPECT_EQ(readAll(child->outputDescriptor()), "line one\nline two\n");
    runUntilExit();
    EXPECT_TRUE(WIFEXITED(*exitStatus));
    EXPECT_EQ(WEXITSTATUS(*exitStatus), 0);
}

TEST_F(LauncherTest, TheChildHoldsOnlyItsThreePipes) {
    const int stray = ::open("/dev/null", O_RDONLY); // without close-on-exec, as careless code might
    ASSERT_GE(stray, 0);
    auto child = spawn("/bin/cat", {});
    // An echoed line proves cat is past its start-up, which opens and closes files of its own.
    ASSERT_EQ(child->input()->write("ready\n"), ChildInput::Outcome::written);
    ASSERT_EQ(readLine(child->outputDescriptor()), "ready\n");
    EXPECT_EQ(openDescriptors(std::to_string(child->processIdentifier())),
              (std::set<std::string>{"0", "1", "2"}));
    ::close(stray);
    child->input()->close();
    runUntilExit();
}

TEST_F(LauncherTest, WritingToAChildThatHasGoneFailsWithoutASignal) {
    auto child = spawn("/bin/true", {});
    runUntilExit();
    EXPECT_EQ(child->input()->write(std::string(100'000, 'x')), ChildInput::Outcome::failed);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_F(LauncherTest, ClosingTheInputReleasesAWriterBlockedOnAFullPipe) {
    auto child = spawn("/bin/sleep", {"1000"});
    const auto input = child->input();
    std::optional<ChildInput::Outcome> outcome;
    std::atomic<pid_t> writerThread{0};
    std::thread writer([&] {
        writerThread = ::gettid();
        outcome = input->write(std::string(4 << 20, 'x'));
    });
    // The child never reads, so the writer ends up asleep on the full pipe; wait (without
    // sleeping) until it is.
    while (writerThread == 0 || threadState(writerThread) != 'S') {
        std::this_thread::yield();
    }
    input->close();
    writer.join();
    EXPECT_EQ(outcome, ChildInput::Outcome::closed);
    child->signal(SIGKILL);
    runUntilExit();
    EXPECT_TRUE(WIFSIGNALED(*exitStatus));
    EXPECT_EQ(WTERMSIG(*exitStatus), SIGKILL);
}

TEST_F(LauncherTest, WaitForExitTimesOutOnARunningChildAndCollectsAKilledOne) {
    auto child = spawn("/bin/sleep", {"1000"});
    EXPECT_FALSE(child->waitForExit(0ms));
    EXPECT_TRUE(child->isRunning());
    child->signal(SIGTERM);
    EXPECT_TRUE(child->waitForExit(std::nullopt));
    EXPECT_FALSE(child->isRunning());
    child->signal(SIGKILL); // after collection: nothing is signalled
    runUntilExit();         // the report still comes, once, on the loop
    EXPECT_TRUE(WIFSIGNALED(*exitStatus));
    EXPECT_EQ(WTERMSIG(*exitStatus), SIGTERM);
}

TEST_F(LauncherTest, RepeatedChildrenAndFailedSpawnsLeakNoDescriptorAndNoZombie) {
    auto warmUp = spawn("/bin/true", {}); // the loop's own descriptors come into being
    runUntilExit();
    warmUp.reset();
    const auto before = ownDescriptorCount();
    std::vector<int> pids;
    for (int round = 0; round < 50; ++round) {
        exitStatus.reset();
        auto child = spawn("/bin/true", {});
        pids.push_back(child->processIdentifier());
        runUntilExit();
    }
    EXPECT_THROW(spawn("/nonexistent/kavrel-roon", {}), std::system_error);
    EXPECT_EQ(ownDescriptorCount(), before);
    for (const int pid : pids) {
        EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(pid))) << pid;
    }
}

} // namespace
} // namespace kavrel
