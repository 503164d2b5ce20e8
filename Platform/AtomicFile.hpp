#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

// Writing small files so that a crash or a full disk leaves either the old or the new contents,
// never a mix and never nothing. Failures throw std::system_error naming the path.
namespace kavrel::AtomicFile {

// Creates the missing levels of `directory` with mode 0700, like `mkdir -p`; levels that exist are
// left exactly as they are. Throws when a level cannot be created or the result is not a directory.
void createDirectories(const std::filesystem::path& directory);

// Replaces `file` with `contents` and the given mode: a temporary file in the same directory is
// written, flushed to disk and renamed over `file`, then the directory is flushed. On failure the
// temporary file is removed and `file` is untouched.
void replace(const std::filesystem::path& file, std::string_view contents, mode_t mode);

} // namespace kavrel::AtomicFile
