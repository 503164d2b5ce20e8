#include "CompanionCore/storage/PrivateStorage.hpp"

#include "CompanionCore/storage/StorageError.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kavrel::PrivateStorage {

namespace {

// Creates the missing levels of the data directory with mode 0700, like `mkdir -p`; levels that
// exist are left exactly as they are.
void createMissingLevels(const std::filesystem::path& path) {
    std::filesystem::path level;
    for (const auto& component : path) {
        level /= component;
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::system_error(errno, std::generic_category(), "cannot create " + level.string());
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot examine " + path.string());
    }
    if (!S_ISDIR(status.st_mode)) {
        throw std::system_error(ENOTDIR, std::generic_category(), path.string());
    }
}

} // namespace

std::string failedCall(std::string_view what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

std::string describeOwnerAndMode(const struct stat& status, mode_t mode) {
    if (status.st_uid != ::geteuid()) {
        return "owned by user " + std::to_string(status.st_uid) + ", not by user " +
               std::to_string(::geteuid());
    }
    char text[32];
    std::snprintf(text, sizeof text, "mode %04o, not %04o", static_cast<unsigned>(status.st_mode & 07777),
                  static_cast<unsigned>(mode));
    return text;
}

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const int status = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (found == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] != '/') {
        throw std::system_error(status != 0 ? status : ENOENT, std::generic_category(),
                                "cannot find the home directory");
    }
    return entry.pw_dir;
}

std::filesystem::path dataHome() {
    if (const char* configured = std::getenv("XDG_DATA_HOME");
        configured != nullptr && configured[0] == '/') {
        return configured;
    }
    return homeDirectory() / ".local" / "share";
}

std::filesystem::path directory() {
    const std::filesystem::path base = dataHome();
    createMissingLevels(base);

    const std::filesystem::path path = base / folderName;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        throw StorageError::unsafeDirectory(path, failedCall("cannot be created", errno));
    }
    // lstat: a symbolic link in the last component is examined as the link, and refused.
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        throw StorageError::unsafeDirectory(path, failedCall("cannot be examined", errno));
    }
    if ((status.st_mode & S_IFMT) != S_IFDIR) {
        throw StorageError::unsafeDirectory(path, S_ISLNK(status.st_mode) ? "is a symbolic link"
                                                                          : "is not a directory");
    }
    if (status.st_uid != ::geteuid() || (status.st_mode & 0777) != 0700) {
        throw StorageError::unsafeDirectory(path, describeOwnerAndMode(status, 0700));
    }
    return path;
}

} // namespace kavrel::PrivateStorage
