#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace kavrel {

namespace PrivateStorage {

inline constexpr const char* folderName = "KavrelCompanion";

// $HOME when it is an absolute path, else the account's home directory. Throws std::system_error when
// there is none.
std::filesystem::path homeDirectory();

// The user's data directory: $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::filesystem::path dataHome();

// Finds or creates the private state directory and hands it out only when it is a real directory of
// the effective user with mode 0700. Throws std::system_error, unchanged, when the data directory cannot
// be found or created, and StorageError::unsafeDirectory when the private directory fails a check.
// Nothing found on disk is ever changed.
std::filesystem::path directory();

// "<what>: <the error's text>".
std::string failedCall(std::string_view what, int error);

// Why a file or directory that must belong to the effective user with exactly `mode` does not:
// "owned by user 1001, not by user 1000" or "mode 0755, not 0700".
std::string describeOwnerAndMode(const struct stat& status, mode_t mode);

} // namespace PrivateStorage
} // namespace kavrel
