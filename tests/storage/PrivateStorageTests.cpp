#include "CompanionCore/storage/InstanceLock.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::optional<StorageError::Code> storageFailure(const std::function<void()>& action) {
    try {
        action();
    } catch (const StorageError& error) {
        return error.code();
    }
    return std::nullopt;
}

// Each test gets its own data directory through XDG_DATA_HOME.
class PrivateStorageTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kavrel-storage-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        dataHome = root / "data";
        if (const char* previous = std::getenv("XDG_DATA_HOME")) {
            saved = previous;
        }
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    void TearDown() override {
        if (saved) {
            ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
        fs::remove_all(root);
    }

    fs::path privateDirectory() const { return dataHome / "KavrelCompanion"; }

    fs::path root;
    fs::path dataHome;
    std::optional<std::string> saved;
};

TEST_F(PrivateStorageTest, CreatesTheDirectoryWithMode0700AndFindsItAgain) {
    const fs::path first = PrivateStorage::directory();
    EXPECT_EQ(first, privateDirectory());
    EXPECT_EQ(modeOf(first), 0700U);
    EXPECT_EQ(modeOf(dataHome), 0700U) << "a missing data directory is created private";
    EXPECT_EQ(PrivateStorage::directory(), first);
}

TEST_F(PrivateStorageTest, RefusesHostileDirectoriesAndLeavesThemAsTheyAre) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Case> cases{
        {"mode 0755",
         [](const fs::path& p) {
             fs::create_directories(p), ::chmod(p.c_str(), 0755);
         }},
        {"mode 0750",
         [](const fs::path& p) {
             fs::create_directories(p), ::chmod(p.c_str(), 0750);
         }},
        {"mode 0500",
         [](const fs::path& p) {
             fs::create_directories(p), ::chmod(p.c_str(), 0500);
         }},
        {"regular file",
         [](const fs::path& p) {
             ::close(::open(p.c_str(), O_CREAT | O_WRONLY, 0700));
         }},
        {"symbolic link to a good directory",
         [](const fs::path& p) {
             const fs::path target = p.parent_path() / "elsewhere";
             fs::create_directories(target);
             ::chmod(target.c_str(), 0700);
             fs::create_directory_symlink(target, p);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dataHome);
        fs::create_directories(dataHome);
        c.make(privateDirectory());
        const mode_t before = modeOf(privateDirectory());
        EXPECT_EQ(storageFailure([] { PrivateStorage::directory(); }), StorageError::Code::unsafeDirectory);
        EXPECT_EQ(modeOf(privateDirectory()), before);
    }
}

TEST_F(PrivateStorageTest, RefusesADirectoryOfAnotherOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the directory to another user";
    }
    fs::create_directories(privateDirectory());
    ::chmod(privateDirectory().c_str(), 0700);
    ASSERT_EQ(::chown(privateDirectory().c_str(), 65534, 65534), 0);
    EXPECT_EQ(storageFailure([] { PrivateStorage::directory(); }), StorageError::Code::unsafeDirectory);
}

TEST_F(PrivateStorageTest, AMaskThatStripsOwnerBitsMakesAFreshDirectoryFail) {
    fs::create_directories(dataHome);
    const mode_t previous = ::umask(0277);
    const auto failure = storageFailure([] { PrivateStorage::directory(); });
    ::umask(previous);
    EXPECT_EQ(failure, StorageError::Code::unsafeDirectory);
}

TEST_F(PrivateStorageTest, DataHomeThatIsNotADirectoryIsTheSystemsError) {
    ::close(::open(dataHome.c_str(), O_CREAT | O_WRONLY, 0600));
    EXPECT_THROW(PrivateStorage::directory(), std::system_error);
}

class InstanceLockTest : public PrivateStorageTest {
protected:
    void SetUp() override {
        PrivateStorageTest::SetUp();
        directory = PrivateStorage::directory();
        lockPath = directory / InstanceLock::fileName;
    }

    // A real second process that takes the same lock with flock(1) and holds it until killed.
    pid_t startHolder() {
        // The shell would create the file with its umask; a companion creates it 0600.
        ::close(::open(lockPath.c_str(), O_CREAT | O_RDWR, 0600));
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(ready[1], 3);
            const std::string script =
                "exec 9<>'" + lockPath.string() + "' && flock -n 9 && echo >&3 && exec sleep 600";
            ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1) << "the holder could not take the lock";
        ::close(ready[0]);
        return pid;
    }

    static void stop(pid_t pid) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }

    fs::path directory;
    fs::path lockPath;
};

TEST_F(InstanceLockTest, CreatesAPrivateLockFileAndReleasesItOnDestruction) {
    {
        const InstanceLock lock(directory);
        EXPECT_GE(lock.descriptor(), 0);
        EXPECT_EQ(modeOf(lockPath), 0600U);
        EXPECT_NE(::fcntl(lock.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
    }
    EXPECT_TRUE(fs::exists(lockPath)) << "the lock file is never deleted";
    const InstanceLock again(directory);
}

TEST_F(InstanceLockTest, AnotherProcessHoldingTheLockMeansAlreadyRunning) {
    const pid_t holder = startHolder();
    EXPECT_EQ(storageFailure([&] { InstanceLock lock(directory); }), StorageError::Code::alreadyRunning);
    stop(holder);
    // The holder died without unlocking: its stale file does not block a new start.
    EXPECT_EQ(storageFailure([&] { InstanceLock lock(directory); }), std::nullopt);
}

TEST_F(InstanceLockTest, ASecondProcessIsRefusedWhileWeHoldTheLock) {
    const InstanceLock lock(directory);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string script = "exec 9<>'" + lockPath.string() + "' && flock -n 9";
        ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "flock -n must fail while we hold the lock";
}

TEST_F(InstanceLockTest, RefusesHostileLockFilesWithoutRepairingThem) {
    ::close(::open(lockPath.c_str(), O_CREAT | O_WRONLY, 0600));
    ::chmod(lockPath.c_str(), 0644);
    EXPECT_EQ(storageFailure([&] { InstanceLock lock(directory); }), StorageError::Code::unsafeDirectory);
    EXPECT_EQ(modeOf(lockPath), 0644U);

    fs::remove(lockPath);
    fs::create_symlink(root / "target", lockPath);
    EXPECT_EQ(storageFailure([&] { InstanceLock lock(directory); }), StorageError::Code::unsafeDirectory);
    EXPECT_FALSE(fs::exists(root / "target")) << "the link was not followed";

    fs::remove(lockPath);
    fs::create_directory(lockPath);
    EXPECT_EQ(storageFailure([&] { InstanceLock lock(directory); }), StorageError::Code::unsafeDirectory);
}

TEST_F(InstanceLockTest, FailuresCloseTheDescriptor) {
    ::close(::open(lockPath.c_str(), O_CREAT | O_WRONLY, 0600));
    ::chmod(lockPath.c_str(), 0640);
    const int probe = ::open("/dev/null", O_RDONLY);
    ::close(probe);
    EXPECT_EQ(storageFailure([&] { InstanceLock lock(directory); }), StorageError::Code::unsafeDirectory);
    const int next = ::open("/dev/null", O_RDONLY);
    EXPECT_EQ(next, probe) << "the lock's descriptor leaked";
    ::close(next);
}

} // namespace
} // namespace kavrel
