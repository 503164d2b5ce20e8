#include "CompanionCore/storage/StorageError.hpp"

namespace kavrel {

namespace {

std::string describe(StorageError::Code code, int32_t status) {
    switch (code) {
    case StorageError::Code::keychain:
        return "keychain(" + std::to_string(status) + ")";
    case StorageError::Code::unsafeDirectory:
        return "unsafeDirectory";
    case StorageError::Code::alreadyRunning:
        return "alreadyRunning";
    case StorageError::Code::missingKey:
        return "missingKey";
    case StorageError::Code::randomFailure:
        return "randomFailure";
    }
    return "storageError";
}

} // namespace

StorageError StorageError::unsafeDirectory(const std::filesystem::path& path, std::string_view failedCheck) {
    StorageError error(Code::unsafeDirectory, 0);
    error.failure = path.string() + ": " + std::string(failedCheck);
    return error;
}

StorageError::StorageError(Code code, int32_t status)
    : errorCode(code), storeStatus(status), text(describe(code, status)) {}

} // namespace kavrel
