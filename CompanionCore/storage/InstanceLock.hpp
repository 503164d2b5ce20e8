#pragma once

#include <filesystem>

namespace kavrel {

// While an InstanceLock lives, this process is the only running companion of the user: it holds an
// exclusive advisory lock on "app.lock" in the private directory. The lock ends with the object or the
// process, so a lock file left by a crashed instance never blocks a new start.
class InstanceLock {
public:
    static constexpr const char* fileName = "app.lock";

    // Throws StorageError::unsafeDirectory when the lock file cannot be opened or fails a check, and
    // StorageError::alreadyRunning when another process holds the lock.
    explicit InstanceLock(const std::filesystem::path& directory);
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    int descriptor() const noexcept { return fileDescriptor; }

private:
    int fileDescriptor;
};

} // namespace kavrel
