#include "Platform/AtomicFile.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kavrel::AtomicFile {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

void writeAll(int descriptor, std::string_view contents, const std::string& name) {
    while (!contents.empty()) {
        const ssize_t written = ::write(descriptor, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno, "cannot write " + name);
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

void syncDirectory(const std::filesystem::path& directory) {
    const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        fail(errno, "cannot open " + directory.string() + " to flush it");
    }
    const int result = ::fsync(descriptor);
    const int error = errno;
    ::close(descriptor);
    // EINVAL: the file system cannot flush directories; the rename is as durable as it gets there.
    if (result != 0 && error != EINVAL) {
        fail(error, "cannot flush " + directory.string());
    }
}

} // namespace

void createDirectories(const std::filesystem::path& directory) {
    std::filesystem::path level;
    for (const auto& component : directory) {
        level /= component;
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            fail(errno, "cannot create " + level.string());
        }
    }
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0) {
        fail(errno, "cannot examine " + directory.string());
    }
    if (!S_ISDIR(status.st_mode)) {
        fail(ENOTDIR, directory.string());
    }
}

void replace(const std::filesystem::path& file, std::string_view contents, mode_t mode) {
    const std::filesystem::path directory = file.parent_path().empty() ? "." : file.parent_path();
    // Appended piecewise: GCC 12 at -O3 reports a false -Wrestrict for "." + std::string.
    std::filesystem::path pattern = directory / ".";
    pattern += file.filename();
    pattern += ".XXXXXX";
    std::string temporary = pattern.string();
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        fail(errno, "cannot create a temporary file in " + directory.string());
    }
    try {
        if (::fchmod(descriptor, mode) != 0) {
            fail(errno, "cannot set the mode of " + temporary);
        }
        writeAll(descriptor, contents, temporary);
        if (::fsync(descriptor) != 0) {
            fail(errno, "cannot flush " + temporary);
        }
    } catch (...) {
        ::close(descriptor);
        ::unlink(temporary.c_str());
        throw;
    }
    // close() reports the last write errors of some file systems (NFS).
    if (::close(descriptor) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "cannot write " + temporary);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "cannot replace " + file.string());
    }
    syncDirectory(directory);
}

} // namespace kavrel::AtomicFile
