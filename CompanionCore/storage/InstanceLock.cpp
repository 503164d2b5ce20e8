#include "CompanionCore/storage/InstanceLock.hpp"

#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kavrel {

namespace {

[[noreturn]] void closeAndThrow(int descriptor, const StorageError& error) {
    ::close(descriptor);
    throw error;
}

} // namespace

InstanceLock::InstanceLock(const std::filesystem::path& directory) {
    const std::filesystem::path path = directory / fileName;
    // O_NOFOLLOW refuses a symbolic link named app.lock; the file is never written or truncated.
    fileDescriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fileDescriptor < 0) {
        // ELOOP: O_NOFOLLOW met a symbolic link.
        throw StorageError::unsafeDirectory(path, PrivateStorage::failedCall("cannot be opened", errno));
    }
    struct stat status {};
    if (::fstat(fileDescriptor, &status) != 0) {
        closeAndThrow(fileDescriptor, StorageError::unsafeDirectory(
                                          path, PrivateStorage::failedCall("cannot be examined", errno)));
    }
    if ((status.st_mode & S_IFMT) != S_IFREG) {
        closeAndThrow(fileDescriptor, StorageError::unsafeDirectory(path, "is not a regular file"));
    }
    if (status.st_uid != ::geteuid() || (status.st_mode & 0777) != 0600) {
        closeAndThrow(fileDescriptor, StorageError::unsafeDirectory(
                                          path, PrivateStorage::describeOwnerAndMode(status, 0600)));
    }
    if (::flock(fileDescriptor, LOCK_EX | LOCK_NB) != 0) {
        closeAndThrow(fileDescriptor, StorageError::alreadyRunning());
    }
}

InstanceLock::~InstanceLock() {
    ::flock(fileDescriptor, LOCK_UN);
    ::close(fileDescriptor);
}

} // namespace kavrel
