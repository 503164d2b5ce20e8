#include "CompanionCore/storage/StorageKey.hpp"

#include "CompanionCore/storage/StorageError.hpp"

#include <cerrno>
#include <sys/random.h>

namespace kavrel::StorageKey {

namespace {

std::string hex(std::span<const uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

} // namespace

bool systemRandom(std::span<uint8_t> buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got = ::getrandom(buffer.data() + filled, buffer.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

std::string loadOrCreate(SecretStore& store, bool allowCreation, const RandomSource& random) {
    // Each round reads first; only a duplicate answer to the add (another writer won the race) starts
    // another, and the number of rounds is bounded so a contradictory store cannot spin us forever.
    for (int round = 0; round < maxCreationRounds; ++round) {
        const SecretStore::Lookup found = store.read(service, account);
        if (found.status == SecretStore::itemNotFound) {
            if (!allowCreation) {
                throw StorageError::missingKey();
            }
        } else if (found.status == SecretStore::success && found.data && found.data->size() == keyBytes) {
            return hex(found.data->span());
        } else {
            throw StorageError::keychain(found.status);
        }

        SecretBytes fresh(keyBytes);
        if (!random(fresh.span())) {
            throw StorageError::randomFailure();
        }
        const int32_t added = store.add(service, account, fresh.span());
        if (added == SecretStore::success) {
            return hex(fresh.span());
        }
        if (added != SecretStore::duplicateItem) {
            throw StorageError::keychain(added);
        }
    }
    throw StorageError::keychain(SecretStore::duplicateItem);
}

} // namespace kavrel::StorageKey
