#include "Platform/JsonPreferences.hpp"

#include "CompanionCore/ipc/JSONError.hpp"
#include "Platform/AtomicFile.hpp"
#include "Platform/XdgPaths.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kavrel {

namespace {

std::string describeErrno(int error) {
    return std::generic_category().message(error);
}

// "20240501T101112Z": sortable, and free of characters that need quoting in a shell.
std::string utcTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// The whole file, or the reason it cannot be had. ENOENT alone means "no file".
struct FileRead {
    std::optional<std::string> contents;
    int error = 0;
    std::string problem;
};

FileRead readFile(const std::filesystem::path& path, std::size_t limit) {
    FileRead result;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        result.error = errno;
        result.problem = "cannot be read (" + describeErrno(errno) + ")";
        return result;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        result.problem = "is not a regular file";
    } else if (static_cast<std::size_t>(status.st_size) > limit) {
        result.problem = "is larger than " + std::to_string(limit) + " bytes";
    } else {
        std::string contents;
        char buffer[8192];
        for (;;) {
            const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                result.problem = "cannot be read (" + describeErrno(errno) + ")";
                break;
            }
            if (count == 0) {
                result.contents = std::move(contents);
                break;
            }
            contents.append(buffer, static_cast<std::size_t>(count));
            if (contents.size() > limit) {
                result.problem = "is larger than " + std::to_string(limit) + " bytes";
                break;
            }
        }
    }
    ::close(descriptor);
    return result;
}

// rename() that never replaces an existing file, so an earlier copy set aside is never lost.
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to, int& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    error = errno;
    if (error != EINVAL && error != ENOSYS) {
        return false;
    }
    // File systems without RENAME_NOREPLACE: link() refuses an existing name just as well.
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

} // namespace

std::filesystem::path JsonPreferences::defaultFile() {
    return XdgPaths::configHome() / "KavrelCompanion" / "preferences.json";
}

JsonPreferences::JsonPreferences(std::filesystem::path file, Logger& logger)
    : file(std::move(file)), logger(logger) {
    try {
        AtomicFile::createDirectories(this->file.parent_path());
    } catch (const std::system_error& error) {
        report(std::string("Preferences cannot be saved: ") + error.what() + ".");
    }
    load();
}

std::optional<JSONValue> JsonPreferences::value(std::string_view key) const {
    const auto found = values.find(key);
    if (found == values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void JsonPreferences::set(std::string_view key, JSONValue value) {
    JSONObject updated = values;
    updated.insert_or_assign(std::string(key), std::move(value));
    std::string text;
    try {
        text = JSONValue(updated).serialized();
    } catch (const JSONError& error) {
        // Kept out of memory too: it would make every later write of the file fail.
        report("Preference \"" + std::string(key) + "\" was not saved: " + error.what() + ".");
        return;
    }
    values = std::move(updated);
    if (!writable) {
        report("Preferences were not saved: the unusable file " + file.string() + " is kept as it is.");
        return;
    }
    text.push_back('\n');
    try {
        AtomicFile::replace(file, text, 0600);
    } catch (const std::system_error& error) {
        report(std::string("Preferences were not saved: ") + error.what() + ".");
    }
}

void JsonPreferences::load() {
    FileRead read = readFile(file, maxFileBytes);
    if (!read.contents) {
        if (read.error != ENOENT) {
            setAside(read.problem);
        }
        return;
    }
    try {
        JSONValue document = JSONValue::parse(*read.contents);
        if (JSONObject* members = document.object()) {
            values = std::move(*members);
            return;
        }
        setAside("does not hold a JSON object");
    } catch (const JSONError& error) {
        setAside(std::string("is not valid JSON (") + error.what() + ")");
    }
}

void JsonPreferences::setAside(const std::string& reason) {
    const std::string base = file.string() + ".corrupt-" + utcTimestamp();
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        if (renameWithoutReplacing(file, target, error)) {
            report("The preferences file " + reason + "; it was moved to " + target.string() +
                   " and the defaults are used.");
            return;
        }
        if (error != EEXIST) {
            break;
        }
    }
    writable = false;
    report("The preferences file " + file.string() + " " + reason + " and could not be moved aside (" +
           describeErrno(error) + "); the defaults are used and nothing is saved in this run.");
}

void JsonPreferences::report(const std::string& message) {
    logger.warning(logCategory, message);
}

} // namespace kavrel
