#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace kavrel {

// Failures of the private directory, the instance lock and the storage key. The text names the case
// (and the store's status) and nothing else, so it can never carry key material; an unsafe directory
// also says which check failed on which path, for the log.
class StorageError : public std::exception {
public:
    enum class Code { keychain, unsafeDirectory, alreadyRunning, missingKey, randomFailure };

    static StorageError keychain(int32_t status) { return StorageError(Code::keychain, status); }
    static StorageError unsafeDirectory(const std::filesystem::path& path, std::string_view failedCheck);
    static StorageError alreadyRunning() { return StorageError(Code::alreadyRunning, 0); }
    static StorageError missingKey() { return StorageError(Code::missingKey, 0); }
    static StorageError randomFailure() { return StorageError(Code::randomFailure, 0); }

    Code code() const noexcept { return errorCode; }
    // The secret store's status; meaningful for `keychain` only.
    int32_t status() const noexcept { return storeStatus; }
    // "<path>: <the check that failed>" for `unsafeDirectory`, empty otherwise.
    const std::string& detail() const noexcept { return failure; }
    const char* what() const noexcept override { return text.c_str(); }

private:
    StorageError(Code code, int32_t status);

    Code errorCode;
    int32_t storeStatus;
    std::string text;
    std::string failure;
};

} // namespace kavrel
