#include "CompanionCore/storage/InstanceLock.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <functional>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

std::optional<StorageError::Code> failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const StorageError& error) {
        return error.code();
    }
    return std::nullopt;
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

TEST_F(PrivateStorageTest, CreatesAPrivateDirectoryWhoseLockHasOneHolderAtATime) {
    EXPECT_EQ(PrivateStorage::directory(), privateDirectory);
    EXPECT_EQ(modeOf(privateDirectory), 0700U);
    EXPECT_EQ(modeOf(dataHome), 0700U) << "a missing data directory is created private";
    const fs::path directory = PrivateStorage::directory(); // the one made before passes
    const int next = nextDescriptor();
    {
        const InstanceLock lock(directory);
        EXPECT_EQ(modeOf(lockFile), 0600U);
        EXPECT_NE(::fcntl(lock.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_EQ(failure([&] { InstanceLock second(directory); }), StorageError::Code::alreadyRunning);
    }
    EXPECT_EQ(nextDescriptor(), next) << "the lock's descriptor outlived it";
    // The lock ends with its holder; the file left behind blocks nothing.
    EXPECT_EQ(failure([&] { InstanceLock lock(directory); }), std::nullopt);
}

// What sits where the private directory or its lock file is expected; a link points at a sibling
// "real" of that shape.
struct Shape {
    const char* name;
    bool inPlaceOfLock;
    bool directory;
    mode_t mode;
    bool link = false;
    uid_t owner = ::geteuid();
};

TEST_F(PrivateStorageTest, RefusesAnUnsafeDirectoryOrLockFileWithoutRepairingItOrLeakingADescriptor) {
    const Shape shapes[] = {{"directory of mode 0750", false, true, 0750},
                            {"directory of mode 0705", false, true, 0705},
                            {"directory of mode 0500", false, true, 0500},
                            {"a regular file as directory", false, false, 0700},
                            {"a link to a good directory", false, true, 0700, true},
                            {"a directory of another owner", false, true, 0700, false, 65534},
                            {"lock file of mode 0640", true, false, 0640},
                            {"lock file of mode 0604", true, false, 0604},
                            {"lock file of mode 0700", true, false, 0700},
                            {"a link to a good lock file", true, false, 0600, true},
                            {"a directory as lock file", true, true, 0600},
                            {"a lock file of another owner", true, false, 0600, false, 65534}};
    fs::create_directories(dataHome);
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        if (shape.owner != ::geteuid() && ::geteuid() != 0) {
            continue; // another owner needs root
        }
        fs::remove_all(privateDirectory);
        const fs::path path =
            shape.inPlaceOfLock ? PrivateStorage::directory() / "app.lock" : privateDirectory;
        const fs::path real = shape.link ? path.parent_path() / "real" : path;
        shape.directory ? (void)fs::create_directory(real)
                        : (void)::close(::open(real.c_str(), O_CREAT | O_WRONLY, 0));
        ASSERT_EQ(::chmod(real.c_str(), shape.mode) | ::chown(real.c_str(), shape.owner, -1), 0);
        if (shape.link) {
            fs::create_symlink("real", path);
        }
        const mode_t before = modeOf(path);
        const int next = nextDescriptor();
        EXPECT_EQ(failure([] { InstanceLock lock(PrivateStorage::directory()); }),
                  StorageError::Code::unsafeDirectory);
        EXPECT_EQ(modeOf(path), before);
        EXPECT_EQ(nextDescriptor(), next) << "a descriptor leaked";
    }
    fs::remove_all(privateDirectory);
    const mode_t mask = ::umask(0277);
    const auto masked = failure([] { PrivateStorage::directory(); });
    ::umask(mask);
    EXPECT_EQ(masked, StorageError::Code::unsafeDirectory)
        << "a mask that strips owner bits fails a fresh directory";

    fs::remove_all(dataHome);
    std::ofstream(dataHome.string());
    EXPECT_THROW(PrivateStorage::directory(), std::system_error) << "no data directory is the system's error";
}

} // namespace
} // namespace kavrel
