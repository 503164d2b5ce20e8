#pragma once

#include "CompanionCore/model/BuildInfo.hpp"

#include <optional>
#include <string>
#include <string_view>

// What this build and the running system say about themselves.
namespace kavrel::SystemInfo {

inline constexpr const char* unknown = "unknown";

// PRETTY_NAME of an os-release text (os-release(5): shell-style assignments, values unquoted or in
// single or double quotes with backslash escapes). None when absent or empty. Control characters are
// dropped, so the result is always a single line.
std::optional<std::string> prettyName(std::string_view osRelease);

// "<distribution> · <kernel>", for example "Debian GNU/Linux 12 (bookworm) · Linux 6.1.0-18-amd64",
// with "unknown" for a part that is not known.
std::string osVersion(const std::optional<std::string>& distribution,
                      const std::optional<std::string>& kernel);

// The running system's: /etc/os-release (else /usr/lib/os-release) and uname's name and release.
std::string osVersion();

// An empty version or build number is unknown.
BuildInfo buildInfo(std::string_view version, std::string_view buildNumber, std::string osVersion);

// This build's version and build number (the build's KAVREL_VERSION and KAVREL_BUILD_NUMBER) and the
// running system's version.
BuildInfo buildInfo();

} // namespace kavrel::SystemInfo
