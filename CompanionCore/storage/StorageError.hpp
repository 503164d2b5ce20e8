#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kavrel {

// Failures of the private directory, the instance lock and the storage key. The text names the case
// (and the store's status) and nothing else, so it can never carry key material.
class StorageError : public std::exception {
public:
    enum class Code { keychain, unsafeDirectory, alreadyRunning, missingKey, randomFailure };

    static StorageError keychain(int32_t status) { return StorageError(Code::keychain, status); }
    static StorageError unsafeDirectory() { return StorageError(Code::unsafeDirectory, 0); }
    static StorageError alreadyRunning() { return StorageError(Code::alreadyRunning, 0); }
    static StorageError missingKey() { return StorageError(Code::missingKey, 0); }
    static StorageError randomFailure() { return StorageError(Code::randomFailure, 0); }

    Code code() const noexcept { return errorCode; }
    // The secret store's status; meaningful for `keychain` only.
    int32_t status() const noexcept { return storeStatus; }
    const char* what() const noexcept override { return text.c_str(); }

private:
    StorageError(Code code, int32_t status);

    Code errorCode;
    int32_t storeStatus;
    std::string text;
};

} // namespace kavrel
