#include "tools/connector-sim/ConnectorState.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace kavrel {
namespace {

constexpr double formatVersion = 1;

const JSONValue& member(const JSONObject& object, std::string_view key) {
    auto found = object.find(key);
    if (found == object.end()) {
        throw std::runtime_error("config.json lacks \"" + std::string(key) + "\"");
    }
    return found->second;
}

std::string stringMember(const JSONObject& object, std::string_view key) {
    if (const auto* text = member(object, key).string()) {
        return *text;
    }
    throw std::runtime_error("config.json: \"" + std::string(key) + "\" is not a string");
}

bool boolMember(const JSONObject& object, std::string_view key) {
    if (auto flag = member(object, key).boolean()) {
        return *flag;
    }
    throw std::runtime_error("config.json: \"" + std::string(key) + "\" is not a boolean");
}

[[noreturn]] void failSystem(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failSystem("write " + path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

JSONObject ConnectorState::toJSON() const {
    return {{"version", formatVersion},
            {"bridgeOrigin", bridgeOrigin},
            {"roonHost", roonHost},
            {"appleMusicEnabled", appleMusicEnabled},
            {"roonEnabled", roonEnabled},
            {"paired", paired},
            {"roonAuthorized", roonAuthorized}};
}

ConnectorState ConnectorState::fromJSON(const JSONValue& document) {
    const auto* object = document.object();
    if (object == nullptr) {
        throw std::runtime_error("config.json is not a JSON object");
    }
    if (member(*object, "version").number() != formatVersion) {
        throw std::runtime_error("config.json has an unknown version");
    }
    ConnectorState state;
    state.bridgeOrigin = stringMember(*object, "bridgeOrigin");
    state.roonHost = stringMember(*object, "roonHost");
    state.appleMusicEnabled = boolMember(*object, "appleMusicEnabled");
    state.roonEnabled = boolMember(*object, "roonEnabled");
    state.paired = boolMember(*object, "paired");
    state.roonAuthorized = boolMember(*object, "roonAuthorized");
    return state;
}

std::optional<ConnectorState> ConnectorState::load(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return std::nullopt;
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream.is_open()) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream text;
    text << stream.rdbuf();
    return fromJSON(JSONValue::parse(text.str()));
}

void ConnectorState::save(const std::filesystem::path& file) const {
    std::string temporary = file.string() + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // created with mode 0600
    if (fd < 0) {
        failSystem("create " + temporary);
    }
    try {
        writeAll(fd, JSONValue(toJSON()).serialized() + "\n", temporary);
        if (::fsync(fd) != 0) {
            failSystem("fsync " + temporary);
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        failSystem("rename " + temporary);
    }
    // Make the rename itself durable.
    int directory = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

} // namespace kavrel
