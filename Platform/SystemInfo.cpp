#include "Platform/SystemInfo.hpp"

#include "Platform/ConfigText.hpp"

#include <fstream>
#include <iterator>
#include <sys/utsname.h>

#ifndef KAVREL_VERSION
#error "the build defines KAVREL_VERSION"
#endif
#ifndef KAVREL_BUILD_NUMBER
#error "the build defines KAVREL_BUILD_NUMBER"
#endif

namespace kavrel::SystemInfo {

namespace {

using ConfigText::trimmed;

// The value of one assignment's right-hand side, with its quotes and escapes resolved.
std::string unquoted(std::string_view value) {
    std::string result;
    char quote = 0;
    for (std::size_t index = 0; index < value.size(); ++index) {
        const char character = value[index];
        if (quote == 0 && (character == '"' || character == '\'')) {
            quote = character;
        } else if (character == quote) {
            quote = 0;
        } else if (character == '\\' && quote != '\'' && index + 1 < value.size()) {
            // Inside double quotes only \$ \" \\ \` are escapes; outside, any character.
            const char next = value[index + 1];
            if (quote == 0 || next == '$' || next == '"' || next == '\\' || next == '`') {
                result += next;
                ++index;
            } else {
                result += character;
            }
        } else {
            result += character;
        }
    }
    return result;
}

std::string withoutControlCharacters(std::string text) {
    std::erase_if(text, [](char character) {
        const auto byte = static_cast<unsigned char>(character);
        return byte < 0x20 || byte == 0x7f;
    });
    return text;
}

std::optional<std::string> readText(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (stream.bad()) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> kernel() {
    utsname names{};
    if (::uname(&names) != 0) {
        return std::nullopt;
    }
    return withoutControlCharacters(std::string(names.sysname) + " " + names.release);
}

} // namespace

std::optional<std::string> prettyName(std::string_view osRelease) {
    std::optional<std::string> found;
    while (!osRelease.empty()) {
        const auto end = osRelease.find('\n');
        const std::string_view line = trimmed(osRelease.substr(0, end));
        osRelease = end == std::string_view::npos ? std::string_view{} : osRelease.substr(end + 1);

        constexpr std::string_view key = "PRETTY_NAME=";
        if (line.starts_with(key)) {
            // A later assignment wins, as when the file is sourced by a shell.
            found = withoutControlCharacters(unquoted(line.substr(key.size())));
        }
    }
    if (found && trimmed(*found).empty()) {
        return std::nullopt;
    }
    return found;
}

std::string osVersion(const std::optional<std::string>& distribution,
                      const std::optional<std::string>& kernel) {
    return distribution.value_or(unknown) + " \u00b7 " + kernel.value_or(unknown);
}

std::string osVersion() {
    std::optional<std::string> release = readText("/etc/os-release");
    if (!release) {
        release = readText("/usr/lib/os-release");
    }
    return osVersion(release ? prettyName(*release) : std::nullopt, kernel());
}

BuildInfo buildInfo(std::string_view version, std::string_view buildNumber, std::string osVersion) {
    BuildInfo info;
    if (!version.empty()) {
        info.shortVersion = version;
    }
    if (!buildNumber.empty()) {
        info.build = buildNumber;
    }
    info.osVersion = std::move(osVersion);
    return info;
}

BuildInfo buildInfo() {
    return buildInfo(KAVREL_VERSION, KAVREL_BUILD_NUMBER, osVersion());
}

} // namespace kavrel::SystemInfo
