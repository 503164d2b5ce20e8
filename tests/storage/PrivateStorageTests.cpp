#include "CompanionCore/storage/InstanceLock.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <cstdlib>
#include <functional>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

// What sits where the directory or the lock file is expected; a link points at a sibling "real" of
// that shape.
struct Shape {
    const char* name;
    bool directory;
    mode_t mode;
    bool link = false;
    uid_t owner = ::geteuid();
};

std::optional<StorageError::Code> failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const StorageError& error) {
        return error.code();
    }
    return std::nullopt;
}

void make(const fs::path& path, const Shape& shape) {
    const fs::path real = shape.link ? path.parent_path() / "real" : path;
    shape.directory ? (void)fs::create_directory(real)
                    : (void)::close(::open(real.c_str(), O_CREAT | O_WRONLY, 0));
    ASSERT_EQ(::chmod(real.c_str(), shape.mode) | ::chown(real.c_str(), shape.owner, -1), 0);
    if (shape.link) {
        fs::create_symlink("real", path);
    }
}

// The descriptor number the next open() gets: a descriptor leaked in between changes it.
int nextDescriptor() {
    const int probe = ::open("/dev/null", O_RDONLY);
    ::close(probe);
    return probe;
}

// Each test has its own data directory through XDG_DATA_HOME.
class PrivateStorageTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    fs::path dataHome = scratch.path() / "data";
    EnvironmentOverride xdg{"XDG_DATA_HOME", dataHome.string()};
    fs::path privateDirectory = dataHome / "KavrelCompanion";
    fs::path lockFile = privateDirectory / "app.lock";
};

TEST_F(PrivateStorageTest, CreatesAPrivateDirectoryAndFindsItAgain) {
    EXPECT_EQ(PrivateStorage::directory(), privateDirectory);
    EXPECT_EQ(modeOf(privateDirectory), 0700U);
    EXPECT_EQ(modeOf(dataHome), 0700U) << "a missing data directory is created private";
    EXPECT_EQ(PrivateStorage::directory(), privateDirectory);
}

TEST_F(PrivateStorageTest, RefusesAnUnsafeDirectoryAndLeavesItAsItIs) {
    const Shape shapes[] = {{"mode 0755", true, 0755},
                            {"mode 0750", true, 0750},
                            {"mode 0500", true, 0500},
                            {"a regular file", false, 0700},
                            {"a link to a good directory", true, 0700, true},
                            {"another owner", true, 0700, false, 65534}};
    fs::create_directories(dataHome);
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        fs::remove_all(privateDirectory);
        if (shape.owner == ::geteuid() || ::geteuid() == 0) { // another owner needs root
            make(privateDirectory, shape);
            const mode_t before = modeOf(privateDirectory);
            EXPECT_EQ(failure([] { PrivateStorage::directory(); }), StorageError::Code::unsafeDirectory);
            EXPECT_EQ(modeOf(privateDirectory), before);
        }
    }
    fs::remove_all(privateDirectory);
    const mode_t mask = ::umask(0277);
    const auto masked = failure([] { PrivateStorage::directory(); });
    ::umask(mask);
    EXPECT_EQ(masked, StorageError::Code::unsafeDirectory)
        << "a mask that strips owner bits fails a fresh directory";

    fs::remove_all(dataHome);
    make(dataHome, {"a file as data directory", false, 0600});
    EXPECT_THROW(PrivateStorage::directory(), std::system_error) << "no data directory is the system's error";
}

TEST_F(PrivateStorageTest, OneHolderOfTheLockAtATime) {
    const fs::path directory = PrivateStorage::directory();
    const std::string otherProcess = "flock --nonblock '" + lockFile.string() + "' true";
    {
        const InstanceLock lock(directory);
        EXPECT_EQ(modeOf(lockFile), 0600U);
        EXPECT_NE(::fcntl(lock.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_NE(std::system(otherProcess.c_str()), 0) << "another process while we hold the lock";
    }
    EXPECT_EQ(std::system(otherProcess.c_str()), 0) << "the lock ends with the object";
    // Another holder: a lock of its own on the same file, as a running instance has.
    const int other = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(failure([&] { InstanceLock lock(directory); }), StorageError::Code::alreadyRunning);
    ::close(other); // its process ended without unlocking: the file left behind blocks nothing
    EXPECT_EQ(failure([&] { InstanceLock lock(directory); }), std::nullopt);
}

TEST_F(PrivateStorageTest, RefusesAnUnsafeLockFileWithoutRepairingItOrLeakingItsDescriptor) {
    const fs::path directory = PrivateStorage::directory();
    const Shape shapes[] = {{"mode 0644", false, 0644},
                            {"mode 0700", false, 0700},
                            {"a link to a good file", false, 0600, true},
                            {"a directory", true, 0600},
                            {"another owner", false, 0600, false, 65534}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        fs::remove_all(lockFile);
        if (shape.owner == ::geteuid() || ::geteuid() == 0) { // another owner needs root
            make(lockFile, shape);
            const mode_t before = modeOf(lockFile);
            const int next = nextDescriptor();
            EXPECT_EQ(failure([&] { InstanceLock lock(directory); }), StorageError::Code::unsafeDirectory);
            EXPECT_EQ(modeOf(lockFile), before);
            EXPECT_EQ(nextDescriptor(), next) << "the lock's descriptor leaked";
        }
    }
}

} // namespace
} // namespace kavrel
